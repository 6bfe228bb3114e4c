#include "gateway/UpstreamRoute.h"

#include <array>

#include "gateway/Asio.h"
#include "gateway/Socks5.h"

namespace cloakline::gateway {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;

namespace {

TRoute Down(const TProxyAddress& upstream, const std::string& what) {
    TRoute route;
    route.State = TRouteState::UpstreamDown;
    route.Failure = upstream.Redacted() + ": " + what;
    return route;
}

std::string Words(const error_code& ec, const TWatchdog& watchdog, std::chrono::milliseconds limit) {
    if (watchdog.Fired()) {
        return "no answer within " + std::to_string(limit.count()) + " ms";
    }
    return ec.message();
}

// Reads into buffer until reader says it has a whole message; false on a
// connection error or a malformed message.
template <class TReader>
asio::awaitable<bool> ReadMessage(tcp::socket& socket, std::string& buffer, TReader reader, error_code& ec) {
    std::array<char, 512> chunk{};
    for (;;) {
        const auto state = reader(std::string_view(buffer));
        if (state == socks5::TState::Done) {
            co_return true;
        }
        if (state == socks5::TState::Bad) {
            co_return false;
        }
        const std::size_t got = co_await socket.async_read_some(
            asio::buffer(chunk), asio::redirect_error(asio::use_awaitable, ec));
        if (ec) {
            co_return false;
        }
        buffer.append(chunk.data(), got);
    }
}

asio::awaitable<TRoute> HttpConnect(tcp::socket& socket,
                                    const TProxyAddress& upstream,
                                    const TTarget& target,
                                    TWatchdog& watchdog,
                                    std::chrono::milliseconds limit) {
    error_code ec;
    std::string head = "CONNECT " + target.Authority() + " HTTP/1.1\r\nHost: " + target.Authority() + "\r\n";
    if (const std::string authorization = ProxyAuthorizationOf(upstream); !authorization.empty()) {
        head += "Proxy-Authorization: " + authorization + "\r\n";
    }
    head += "\r\n";
    co_await asio::async_write(socket, asio::buffer(head), asio::redirect_error(asio::use_awaitable, ec));
    if (ec) {
        co_return Down(upstream, Words(ec, watchdog, limit));
    }
    boost::beast::flat_buffer buffer;
    http::response_parser<http::empty_body> parser;
    // An answer to CONNECT has no body: what follows belongs to the tunnel.
    parser.skip(true);
    co_await http::async_read_header(socket, buffer, parser, asio::redirect_error(asio::use_awaitable, ec));
    if (ec) {
        co_return Down(upstream, Words(ec, watchdog, limit));
    }
    TRoute route;
    route.Code = static_cast<int>(parser.get().result_int());
    if (route.Code / 100 != 2) {
        route.State = TRouteState::TargetRefused;
        route.Failure = upstream.Redacted() + " answered " + std::to_string(route.Code) + " to CONNECT";
        co_return route;
    }
    route.State = TRouteState::Open;
    route.Early = boost::beast::buffers_to_string(buffer.data());
    co_return route;
}

asio::awaitable<TRoute> SocksConnect(tcp::socket& socket,
                                     const TProxyAddress& upstream,
                                     const TTarget& target,
                                     TWatchdog& watchdog,
                                     std::chrono::milliseconds limit) {
    error_code ec;
    const bool withLogin = upstream.HasCredentials();
    const std::string connect = socks5::ClientConnect(target);
    if (connect.empty()) {
        TRoute route;
        route.State = TRouteState::TargetRefused;
        route.Code = socks5::kHostUnreachable;
        route.Failure = "the destination cannot be named to " + upstream.Redacted();
        co_return route;
    }
    co_await asio::async_write(socket, asio::buffer(socks5::ClientGreeting(withLogin)),
                               asio::redirect_error(asio::use_awaitable, ec));
    std::array<std::uint8_t, 2> choice{};
    if (!ec) {
        co_await asio::async_read(socket, asio::buffer(choice),
                                  asio::redirect_error(asio::use_awaitable, ec));
    }
    if (ec) {
        co_return Down(upstream, Words(ec, watchdog, limit));
    }
    const std::uint8_t wanted = withLogin ? 0x02 : 0x00;
    if (choice[0] != socks5::kVersion || choice[1] != wanted) {
        co_return Down(upstream, withLogin ? "does not take a user name and password" : "asks for a login");
    }
    if (withLogin) {
        const std::string login = socks5::ClientLogin(upstream.User, upstream.Password);
        co_await asio::async_write(socket, asio::buffer(login),
                                   asio::redirect_error(asio::use_awaitable, ec));
        std::array<std::uint8_t, 2> status{};
        if (!ec) {
            co_await asio::async_read(socket, asio::buffer(status),
                                      asio::redirect_error(asio::use_awaitable, ec));
        }
        if (ec) {
            co_return Down(upstream, Words(ec, watchdog, limit));
        }
        if (status[1] != 0x00) {
            co_return Down(upstream, "refused the user name and password");
        }
    }
    co_await asio::async_write(socket, asio::buffer(connect), asio::redirect_error(asio::use_awaitable, ec));
    if (ec) {
        co_return Down(upstream, Words(ec, watchdog, limit));
    }
    std::string buffer;
    socks5::TReply reply;
    const bool read = co_await ReadMessage(
        socket, buffer,
        [&reply](std::string_view bytes) {
            reply = socks5::ReadReply(bytes);
            return reply.State;
        },
        ec);
    if (!read) {
        co_return Down(upstream, ec ? Words(ec, watchdog, limit) : "sent a malformed SOCKS5 reply");
    }
    TRoute route;
    route.Code = reply.Code;
    if (reply.Code != socks5::kSucceeded) {
        route.State = TRouteState::TargetRefused;
        route.Failure = upstream.Redacted() + " answered SOCKS5 reply " + std::to_string(reply.Code);
        co_return route;
    }
    route.State = TRouteState::Open;
    route.Early = buffer.substr(reply.Used);
    co_return route;
}

asio::awaitable<TRoute> Open(tcp::socket& socket,
                             const TProxyAddress& upstream,
                             const TTarget& target,
                             std::chrono::milliseconds limit,
                             TGuardRegistry& guards,
                             bool plain) {
    TWatchdog watchdog(co_await asio::this_coro::executor, guards);
    watchdog.Guard(socket);
    watchdog.Arm(limit);
    std::string host = upstream.Host;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    const error_code ec = co_await ConnectTcp(socket, host, upstream.Port, &watchdog);
    if (ec || !socket.is_open()) {
        co_return Down(upstream, Words(ec, watchdog, limit));
    }
    error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    TRoute route;
    if (upstream.Scheme == TProxyScheme::Socks5) {
        route = co_await SocksConnect(socket, upstream, target, watchdog, limit);
    } else if (plain) {
        route.State = TRouteState::Open;
    } else {
        route = co_await HttpConnect(socket, upstream, target, watchdog, limit);
    }
    watchdog.Disarm();
    co_return route;
}

}  // namespace

asio::awaitable<error_code> ConnectTcp(tcp::socket& socket,
                                       const std::string& host,
                                       std::uint16_t port,
                                       const TWatchdog* watchdog) {
    error_code ec;
    const auto address = asio::ip::make_address(host, ec);
    if (!ec) {
        co_await socket.async_connect(tcp::endpoint(address, port),
                                      asio::redirect_error(asio::use_awaitable, ec));
        co_return ec;
    }
    ec = {};
    tcp::resolver resolver(co_await asio::this_coro::executor);
    const auto endpoints = co_await resolver.async_resolve(host, std::to_string(port),
                                                           asio::redirect_error(asio::use_awaitable, ec));
    if (ec) {
        co_return ec;
    }
    // The socket was not open yet when the time ran out, so nothing was closed.
    if (watchdog != nullptr && watchdog->Fired()) {
        co_return asio::error::timed_out;
    }
    co_await asio::async_connect(socket, endpoints, asio::redirect_error(asio::use_awaitable, ec));
    co_return ec;
}

asio::awaitable<TRoute> OpenTunnel(tcp::socket& socket,
                                   const TProxyAddress& upstream,
                                   const TTarget& target,
                                   std::chrono::milliseconds limit,
                                   TGuardRegistry& guards) {
    co_return co_await Open(socket, upstream, target, limit, guards, false);
}

asio::awaitable<TRoute> OpenPlain(tcp::socket& socket,
                                  const TProxyAddress& upstream,
                                  const TTarget& target,
                                  std::chrono::milliseconds limit,
                                  TGuardRegistry& guards) {
    co_return co_await Open(socket, upstream, target, limit, guards, true);
}

std::string ProxyAuthorizationOf(const TProxyAddress& upstream) {
    if (upstream.Scheme != TProxyScheme::Http || !upstream.HasCredentials()) {
        return {};
    }
    return BasicCredentials(upstream.User, upstream.Password);
}

}  // namespace cloakline::gateway
