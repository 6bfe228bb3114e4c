#include "gateway/Session.h"

#include <array>
#include <limits>
#include <memory>

#include "gateway/Asio.h"
#include "gateway/ProxyRequest.h"
#include "gateway/Socks5.h"
#include "gateway/Tunnel.h"
#include "gateway/UpstreamRoute.h"

namespace cloakline::gateway {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;

namespace {

constexpr std::size_t kBodyChunk = 16 * 1024;
constexpr std::uint64_t kNoBodyLimit = std::numeric_limits<std::uint64_t>::max();

auto Redirect(error_code& ec) {
    return asio::redirect_error(asio::use_awaitable, ec);
}

void Close(tcp::socket& socket) {
    error_code ignored;
    socket.close(ignored);
}

const char* ReasonOf(int status) {
    switch (status) {
        case 400:
            return "Bad Request";
        case 431:
            return "Request Header Fields Too Large";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        default:
            return "Error";
    }
}

// A whole answer of the gateway's own, after which the connection ends.
asio::awaitable<void> Answer(tcp::socket& client,
                             int status,
                             const std::string& body,
                             const char* type = "text/plain; charset=utf-8") {
    const std::string text = "HTTP/1.1 " + std::to_string(status) + " " + ReasonOf(status) +
                             "\r\nContent-Type: " + type +
                             "\r\nContent-Length: " + std::to_string(body.size()) +
                             "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body;
    error_code ec;
    co_await asio::async_write(client, asio::buffer(text), Redirect(ec));
    client.shutdown(tcp::socket::shutdown_send, ec);
}

asio::awaitable<void> AnswerFailClosed(tcp::socket& client, ISessionHost& host) {
    co_await Answer(client, 503, host.FailClosedPage(), "text/html; charset=utf-8");
}

struct TOpened {
    TRoute Route;
    bool FailClosed = false;
    // The upstream the route went through.
    TGatewayUpstream Used;
};

// A way to target through the current upstream; when that upstream fails
// and a standby took over, once more through the standby.
asio::awaitable<TOpened> OpenWithFailover(tcp::socket& upstream,
                                          const TTarget& target,
                                          bool plain,
                                          ISessionHost& host) {
    TOpened opened;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto current = host.Current();
        if (!current) {
            opened.FailClosed = true;
            co_return opened;
        }
        Close(upstream);
        opened.Used = *current;
        const auto limit = host.Limits().UpstreamConnect;
        opened.Route = plain ? co_await OpenPlain(upstream, current->Address, target, limit, host.Guards())
                             : co_await OpenTunnel(upstream, current->Address, target, limit, host.Guards());
        const bool handshake = !plain || current->Address.Scheme == TProxyScheme::Socks5;
        switch (opened.Route.State) {
            case TRouteState::Open:
                if (handshake) {
                    host.ConnectAnswered(current->Id, true);
                }
                co_return opened;
            case TRouteState::UpstreamDown:
                host.UpstreamDown(current->Id);
                break;
            case TRouteState::TargetRefused:
                host.ConnectAnswered(current->Id, false);
                break;
        }
        Close(upstream);
        const auto next = host.Current();
        if (!next) {
            opened.FailClosed = true;
            co_return opened;
        }
        if (next->Id == current->Id) {
            co_return opened;
        }
    }
    co_return opened;
}

// Passes one message on: the head as it stands in parser, then the body
// chunk by chunk through scratch, the framing kept.
template <bool isRequest>
asio::awaitable<bool> RelayMessage(tcp::socket& from,
                                   beast::flat_buffer& fromBuffer,
                                   http::parser<isRequest, http::buffer_body>& parser,
                                   tcp::socket& to,
                                   TWatchdog& watchdog,
                                   std::chrono::milliseconds idle,
                                   char* scratch) {
    http::serializer<isRequest, http::buffer_body> serializer{parser.get()};
    error_code ec;
    co_await http::async_write_header(to, serializer, Redirect(ec));
    if (ec) {
        co_return false;
    }
    while (!parser.is_done()) {
        parser.get().body().data = scratch;
        parser.get().body().size = kBodyChunk;
        watchdog.Arm(idle);
        co_await http::async_read(from, fromBuffer, parser, Redirect(ec));
        watchdog.Disarm();
        if (ec == http::error::need_buffer) {
            ec = {};
        }
        if (ec) {
            co_return false;
        }
        parser.get().body().size = kBodyChunk - parser.get().body().size;
        parser.get().body().data = scratch;
        parser.get().body().more = !parser.is_done();
        co_await http::async_write(to, serializer, Redirect(ec));
        if (ec == http::error::need_buffer) {
            ec = {};
        }
        if (ec) {
            co_return false;
        }
    }
    co_return true;
}

bool IsHundredContinue(const TRequestHead& head) {
    const auto expect = head[http::field::expect];
    if (expect.size() != 12) {
        return false;
    }
    for (std::size_t i = 0; i < expect.size(); ++i) {
        const char c =
            expect[i] >= 'A' && expect[i] <= 'Z' ? static_cast<char>(expect[i] - 'A' + 'a') : expect[i];
        if (c != "100-continue"[i]) {
            return false;
        }
    }
    return true;
}

// The plain requests of one client connection share one upstream
// connection while they go to the same place.
struct TKeptUpstream {
    explicit TKeptUpstream(const asio::any_io_executor& executor) : Socket(executor) {}

    tcp::socket Socket;
    beast::flat_buffer Buffer;
    std::uint64_t Id = 0;
    std::string Place;
};

// One absolute-form request and its response; true when the client
// connection stays open for the next one.
asio::awaitable<bool> Forward(tcp::socket& client,
                              beast::flat_buffer& clientBuffer,
                              http::request_parser<http::buffer_body>& request,
                              const TProxyRequest& wanted,
                              TKeptUpstream& kept,
                              TWatchdog& watchdog,
                              ISessionHost& host,
                              char* scratch) {
    const TGatewayLimits& limits = host.Limits();
    const bool clientKeepAlive = request.get().keep_alive();
    const bool isHead = request.get().method() == http::verb::head;
    error_code ec;
    // Answered here, so that the client sends its body at once whatever the
    // upstream does about it.
    if (IsHundredContinue(request.get())) {
        request.get().erase(http::field::expect);
        co_await asio::async_write(client, asio::buffer(std::string_view("HTTP/1.1 100 Continue\r\n\r\n")),
                                   Redirect(ec));
        if (ec) {
            co_return false;
        }
    }
    const bool hasBody = !request.is_done();

    std::optional<http::response_parser<http::buffer_body>> response;
    for (int attempt = 0;; ++attempt) {
        const auto current = host.Current();
        if (!current) {
            Close(kept.Socket);
            co_await AnswerFailClosed(client, host);
            co_return false;
        }
        const bool viaSocks = current->Address.Scheme == TProxyScheme::Socks5;
        const std::string place = viaSocks ? wanted.Target.Authority() : std::string();
        bool reused = kept.Socket.is_open() && kept.Id == current->Id && kept.Place == place;
        std::uint64_t usedId = current->Id;
        TProxyAddress usedAddress = current->Address;
        if (!reused) {
            Close(kept.Socket);
            kept.Buffer.clear();
            const TOpened opened = co_await OpenWithFailover(kept.Socket, wanted.Target, true, host);
            if (opened.FailClosed) {
                co_await AnswerFailClosed(client, host);
                co_return false;
            }
            if (opened.Route.State != TRouteState::Open) {
                co_await Answer(client, 502,
                                "The proxy could not reach " + wanted.Target.Authority() + ".\n");
                co_return false;
            }
            // The failover may have moved the request to the standby.
            usedId = opened.Used.Id;
            usedAddress = opened.Used.Address;
            kept.Id = usedId;
            kept.Place =
                usedAddress.Scheme == TProxyScheme::Socks5 ? wanted.Target.Authority() : std::string();
            const std::string& early = opened.Route.Early;
            kept.Buffer.commit(asio::buffer_copy(kept.Buffer.prepare(early.size()), asio::buffer(early)));
        }
        PrepareForward(request.get(), wanted, usedAddress.Scheme == TProxyScheme::Http,
                       ProxyAuthorizationOf(usedAddress));
        request.get().keep_alive(true);
        const bool sent =
            co_await RelayMessage(client, clientBuffer, request, kept.Socket, watchdog, limits.Idle, scratch);
        if (!sent) {
            if (reused && !hasBody && attempt == 0) {
                Close(kept.Socket);
                continue;
            }
            co_await Answer(client, 502, "The request could not be passed on.\n");
            co_return false;
        }
        // Interim answers (100 Continue and the like) are the gateway's business, not the client's.
        do {
            response.emplace();
            response->body_limit(kNoBodyLimit);
            response->skip(isHead);
            watchdog.Arm(limits.Idle);
            co_await http::async_read_header(kept.Socket, kept.Buffer, *response, Redirect(ec));
            watchdog.Disarm();
        } while (!ec && response->get().result_int() / 100 == 1 &&
                 response->get().result() != http::status::switching_protocols);
        if (!ec) {
            break;
        }
        Close(kept.Socket);
        // A kept connection that the upstream had closed meanwhile: once more on a fresh one.
        if (reused && !hasBody && attempt == 0 && !watchdog.Fired()) {
            continue;
        }
        if (!watchdog.Fired()) {
            co_await Answer(client, 502, "The proxy gave no answer.\n");
        }
        co_return false;
    }

    auto& head = response->get();
    const bool upstreamKeepAlive = head.keep_alive() && !response->need_eof();
    const bool clientStays = clientKeepAlive && !response->need_eof();
    StripHopByHop(head);
    head.keep_alive(clientStays);
    const bool relayed =
        co_await RelayMessage(kept.Socket, kept.Buffer, *response, client, watchdog, limits.Idle, scratch);
    if (!relayed || !upstreamKeepAlive) {
        Close(kept.Socket);
    }
    co_return relayed&& clientStays;
}

asio::awaitable<void> ServeConnect(tcp::socket& client,
                                   beast::flat_buffer& clientBuffer,
                                   const TProxyRequest& wanted,
                                   TWatchdog& watchdog,
                                   ISessionHost& host) {
    tcp::socket upstream(client.get_executor());
    watchdog.Guard(upstream);
    const TOpened opened = co_await OpenWithFailover(upstream, wanted.Target, false, host);
    if (opened.FailClosed) {
        co_await Answer(client, 503, "No working proxy: nothing is sent directly.\n");
        co_return;
    }
    if (opened.Route.State != TRouteState::Open) {
        co_await Answer(client, 502,
                        "The proxy could not open a tunnel to " + wanted.Target.Authority() + ".\n");
        co_return;
    }
    error_code ec;
    const std::string established = "HTTP/1.1 200 Connection established\r\n\r\n" + opened.Route.Early;
    co_await asio::async_write(client, asio::buffer(established), Redirect(ec));
    if (!ec && clientBuffer.size() > 0) {
        co_await asio::async_write(upstream, clientBuffer.data(), Redirect(ec));
    }
    if (ec) {
        co_return;
    }
    StartTunnel(std::move(client), std::move(upstream), host.Guards());
}

asio::awaitable<void> ServeHttp(tcp::socket& client, TWatchdog& watchdog, ISessionHost& host) {
    const TGatewayLimits& limits = host.Limits();
    beast::flat_buffer clientBuffer;
    TKeptUpstream kept(client.get_executor());
    watchdog.Guard(kept.Socket);
    std::unique_ptr<char[]> scratch;
    bool first = true;
    for (;;) {
        http::request_parser<http::buffer_body> request;
        request.header_limit(static_cast<std::uint32_t>(limits.MaxHeadBytes));
        request.body_limit(kNoBodyLimit);
        error_code ec;
        watchdog.Arm(first ? limits.RequestHead : limits.Idle);
        co_await http::async_read_header(client, clientBuffer, request, Redirect(ec));
        watchdog.Disarm();
        if (ec) {
            if (watchdog.Fired() || ec == http::error::end_of_stream || !client.is_open()) {
                co_return;
            }
            if (ec == http::error::header_limit) {
                co_await Answer(client, 431, "The request head is too large.\n");
            } else if (ec.category() == http::make_error_code(http::error::bad_method).category()) {
                co_await Answer(client, 400,
                                "This is a proxy: it takes absolute http:// requests and CONNECT.\n");
            }
            co_return;
        }
        first = false;
        const TProxyRequest wanted = ClassifyRequest(request.get());
        if (wanted.Kind == TRequestKind::Bad) {
            co_await Answer(client, 400,
                            "This is a proxy: it takes absolute http:// requests and CONNECT.\n");
            co_return;
        }
        if (wanted.Kind == TRequestKind::Connect) {
            co_await ServeConnect(client, clientBuffer, wanted, watchdog, host);
            co_return;
        }
        if (!scratch) {
            scratch = std::make_unique<char[]>(kBodyChunk);
        }
        if (!co_await Forward(client, clientBuffer, request, wanted, kept, watchdog, host, scratch.get())) {
            co_return;
        }
    }
}

// Reads from client until reader has a whole message.
template <class TReader>
asio::awaitable<bool> ReadSocks(tcp::socket& client, std::string& bytes, TReader reader) {
    std::array<char, 512> chunk{};
    while (reader(std::string_view(bytes)) == socks5::TState::NeedMore) {
        if (bytes.size() > 1024) {
            co_return false;
        }
        error_code ec;
        const std::size_t got = co_await client.async_read_some(asio::buffer(chunk), Redirect(ec));
        if (ec) {
            co_return false;
        }
        bytes.append(chunk.data(), got);
    }
    co_return true;
}

asio::awaitable<void> ServeSocks(tcp::socket& client, TWatchdog& watchdog, ISessionHost& host) {
    std::string bytes;
    error_code ec;
    watchdog.Arm(host.Limits().RequestHead);
    socks5::TGreeting greeting;
    if (!co_await ReadSocks(client, bytes, [&greeting](std::string_view in) {
            greeting = socks5::ReadGreeting(in);
            return greeting.State;
        })) {
        co_return;
    }
    if (greeting.State == socks5::TState::Bad) {
        co_return;
    }
    co_await asio::async_write(client, asio::buffer(socks5::MethodChoice(greeting.OffersNoAuth)),
                               Redirect(ec));
    if (ec || !greeting.OffersNoAuth) {
        co_return;
    }
    bytes.erase(0, greeting.Used);
    socks5::TRequest request;
    if (!co_await ReadSocks(client, bytes, [&request](std::string_view in) {
            request = socks5::ReadRequest(in);
            return request.State;
        })) {
        co_return;
    }
    watchdog.Disarm();
    if (request.State == socks5::TState::Bad) {
        co_await asio::async_write(client, asio::buffer(socks5::Reply(request.Failure)), Redirect(ec));
        co_return;
    }
    bytes.erase(0, request.Used);

    tcp::socket upstream(client.get_executor());
    watchdog.Guard(upstream);
    const TOpened opened = co_await OpenWithFailover(upstream, request.Target, false, host);
    if (opened.FailClosed || opened.Route.State != TRouteState::Open) {
        std::uint8_t code = socks5::kGeneralFailure;
        if (!opened.FailClosed && opened.Route.State == TRouteState::TargetRefused) {
            code = host.Current() && host.Current()->Address.Scheme == TProxyScheme::Socks5 &&
                           opened.Route.Code > 0 && opened.Route.Code <= 8
                       ? static_cast<std::uint8_t>(opened.Route.Code)
                       : socks5::kHostUnreachable;
        }
        co_await asio::async_write(client, asio::buffer(socks5::Reply(code)), Redirect(ec));
        co_return;
    }
    const std::string reply = socks5::Reply(socks5::kSucceeded) + opened.Route.Early;
    co_await asio::async_write(client, asio::buffer(reply), Redirect(ec));
    if (!ec && !bytes.empty()) {
        co_await asio::async_write(upstream, asio::buffer(bytes), Redirect(ec));
    }
    if (ec) {
        co_return;
    }
    StartTunnel(std::move(client), std::move(upstream), host.Guards());
}

}  // namespace

asio::awaitable<void> ServeClient(tcp::socket client, ISessionHost& host) {
    TWatchdog watchdog(co_await asio::this_coro::executor, host.Guards());
    watchdog.Guard(client);
    watchdog.Arm(host.Limits().RequestHead);
    std::array<char, 1> first{};
    error_code ec;
    co_await client.async_receive(asio::buffer(first), tcp::socket::message_peek, Redirect(ec));
    if (ec) {
        co_return;
    }
    if (static_cast<std::uint8_t>(first[0]) == socks5::kVersion) {
        co_await ServeSocks(client, watchdog, host);
    } else {
        co_await ServeHttp(client, watchdog, host);
    }
}

}  // namespace cloakline::gateway
