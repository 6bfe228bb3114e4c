#include "bench/GatewayTraffic.h"

#include <algorithm>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <cmath>
#include <exception>
#include <stdexcept>
#include <thread>

namespace cloakline::bench {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using asio::awaitable;
using asio::use_awaitable;
using Clock = std::chrono::steady_clock;

tcp::endpoint Loopback(std::uint16_t port) {
    return {asio::ip::address_v4::loopback(), port};
}

std::string Describe(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown failure";
    }
}

// Runs the context until its work is done or the limit passes; false then.
bool RunWithin(asio::io_context& io, std::chrono::milliseconds limit) {
    io.run_for(limit);
    const bool done = io.stopped();
    io.restart();
    return done;
}

const std::string& PageBody() {
    static const std::string body = "<!DOCTYPE html><html><head><title>bench</title></head><body><p>" +
                                    std::string(200, 'x') + "</p></body></html>\n";
    return body;
}

// The target of a CONNECT to the loopback port, in the form browsers send.
std::string ConnectRequest(std::uint16_t port) {
    const std::string target = "127.0.0.1:" + std::to_string(port);
    return "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n";
}

// Connects to the proxy and asks for a tunnel; bytes of the tunnel that came
// with the proxy's answer stay in `buffer`.
awaitable<void> OpenTunnel(tcp::socket& socket,
                           beast::flat_buffer& buffer,
                           std::uint16_t proxyPort,
                           std::uint16_t targetPort) {
    co_await socket.async_connect(Loopback(proxyPort), use_awaitable);
    socket.set_option(tcp::no_delay(true));
    const std::string request = ConnectRequest(targetPort);
    co_await asio::async_write(socket, asio::buffer(request), use_awaitable);
    http::response_parser<http::empty_body> answer;
    answer.skip(true);
    co_await http::async_read_header(socket, buffer, answer, use_awaitable);
    if (answer.get().result_int() != 200) {
        throw std::runtime_error("CONNECT answered " + std::to_string(answer.get().result_int()));
    }
}

// Whether the peer has closed a kept-alive connection, without waiting.
bool PeerClosed(tcp::socket& socket) {
    boost::system::error_code error;
    socket.non_blocking(true, error);
    char byte = 0;
    socket.read_some(asio::buffer(&byte, 1), error);
    const bool alive = error == asio::error::would_block;
    socket.non_blocking(false, error);
    return !alive;
}

http::request<http::empty_body> PageRequest(std::uint16_t pagePort) {
    const std::string host = "127.0.0.1:" + std::to_string(pagePort);
    http::request<http::empty_body> request{http::verb::get, "http://" + host + "/page", 11};
    request.set(http::field::host, host);
    request.set(http::field::user_agent, "gateway_bench");
    return request;
}

}  // namespace

// ---------------------------------------------------------------------------

class TSources::TImpl {
  public:
    explicit TImpl(std::uint64_t bulkBytes)
        : FBulkBytes(bulkBytes),
          FBlock(std::make_shared<const std::vector<char>>(256 * 1024, 'b')),
          FBulk(FIo, Loopback(0)),
          FPages(FIo, Loopback(0)),
          FEcho(FIo, Loopback(0)) {
        asio::co_spawn(FIo, Accept(FBulk, [this](tcp::socket s) { return StreamBulk(std::move(s)); }),
                       asio::detached);
        asio::co_spawn(FIo, Accept(FPages, [](tcp::socket s) { return ServePages(std::move(s)); }),
                       asio::detached);
        asio::co_spawn(FIo, Accept(FEcho, [](tcp::socket s) { return Echo(std::move(s)); }), asio::detached);
        FThread = std::thread([this] { FIo.run(); });
    }

    ~TImpl() {
        FIo.stop();
        FThread.join();
    }

    std::uint16_t BulkPort() const { return FBulk.local_endpoint().port(); }
    std::uint16_t PagePort() const { return FPages.local_endpoint().port(); }
    std::uint16_t EchoPort() const { return FEcho.local_endpoint().port(); }

  private:
    template <class TServe>
    static awaitable<void> Accept(tcp::acceptor& acceptor, TServe serve) {
        for (;;) {
            boost::system::error_code error;
            tcp::socket socket = co_await acceptor.async_accept(asio::redirect_error(use_awaitable, error));
            if (error == asio::error::operation_aborted) {
                co_return;
            }
            if (!error) {
                asio::co_spawn(acceptor.get_executor(), serve(std::move(socket)), asio::detached);
            }
        }
    }

    awaitable<void> StreamBulk(tcp::socket socket) {
        const std::shared_ptr<const std::vector<char>> block = FBlock;
        boost::system::error_code error;
        std::uint64_t left = FBulkBytes;
        while (left > 0 && !error) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block->size()));
            co_await asio::async_write(socket, asio::buffer(block->data(), n),
                                       asio::redirect_error(use_awaitable, error));
            left -= n;
        }
        socket.shutdown(tcp::socket::shutdown_send, error);
    }

    static awaitable<void> ServePages(tcp::socket socket) {
        socket.set_option(tcp::no_delay(true));
        beast::flat_buffer buffer;
        boost::system::error_code error;
        for (;;) {
            http::request<http::string_body> request;
            co_await http::async_read(socket, buffer, request, asio::redirect_error(use_awaitable, error));
            if (error) {
                co_return;
            }
            http::response<http::string_body> response{http::status::ok, request.version()};
            response.set(http::field::content_type, "text/html");
            response.body() = PageBody();
            response.keep_alive(request.keep_alive());
            response.prepare_payload();
            co_await http::async_write(socket, response, asio::redirect_error(use_awaitable, error));
            if (error || !response.keep_alive()) {
                co_return;
            }
        }
    }

    static awaitable<void> Echo(tcp::socket socket) {
        std::vector<char> data(16 * 1024);
        boost::system::error_code error;
        for (;;) {
            const std::size_t n = co_await socket.async_read_some(asio::buffer(data),
                                                                  asio::redirect_error(use_awaitable, error));
            if (error) {
                co_return;
            }
            co_await asio::async_write(socket, asio::buffer(data.data(), n),
                                       asio::redirect_error(use_awaitable, error));
            if (error) {
                co_return;
            }
        }
    }

    std::uint64_t FBulkBytes;
    std::shared_ptr<const std::vector<char>> FBlock;
    asio::io_context FIo;
    tcp::acceptor FBulk;
    tcp::acceptor FPages;
    tcp::acceptor FEcho;
    std::thread FThread;
};

TSources::TSources(std::uint64_t bulkBytes) : FImpl(std::make_unique<TImpl>(bulkBytes)) {}
TSources::~TSources() = default;
std::uint16_t TSources::BulkPort() const {
    return FImpl->BulkPort();
}
std::uint16_t TSources::PagePort() const {
    return FImpl->PagePort();
}
std::uint16_t TSources::EchoPort() const {
    return FImpl->EchoPort();
}

// ---------------------------------------------------------------------------

TBulkResult DownloadThroughTunnel(std::uint16_t proxyPort,
                                  std::uint16_t bulkPort,
                                  std::uint64_t expectedBytes,
                                  std::chrono::seconds limit) {
    asio::io_context io;
    TBulkResult result;
    auto download = [&]() -> awaitable<void> {
        tcp::socket socket(io);
        beast::flat_buffer buffer;
        const auto start = Clock::now();
        co_await OpenTunnel(socket, buffer, proxyPort, bulkPort);
        std::uint64_t got = buffer.size();
        std::vector<char> chunk(1 << 20);
        boost::system::error_code error;
        for (;;) {
            got += co_await socket.async_read_some(asio::buffer(chunk),
                                                   asio::redirect_error(use_awaitable, error));
            if (error) {
                break;
            }
        }
        result.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
        result.Bytes = got;
        if (error != asio::error::eof) {
            result.Failure = "the tunnel broke: " + error.message();
        } else if (got != expectedBytes) {
            result.Failure = "the tunnel carried " + std::to_string(got) + " bytes instead of " +
                             std::to_string(expectedBytes);
        } else {
            result.Ok = true;
        }
    };
    asio::co_spawn(io, download(), [&](std::exception_ptr error) {
        if (error) {
            result.Failure = Describe(error);
        }
    });
    if (!RunWithin(io, limit)) {
        result.Ok = false;
        result.Failure = "not done within " + std::to_string(limit.count()) + " s";
    }
    return result;
}

TLatencyResult TimeSmallGets(std::uint16_t proxyPort,
                             std::uint16_t pagePort,
                             std::size_t requests,
                             std::size_t warmup,
                             std::size_t connections) {
    asio::io_context io;
    TLatencyResult result;
    result.Milliseconds.reserve(requests);
    auto run = [&]() -> awaitable<void> {
        std::vector<tcp::socket> sockets;
        std::vector<beast::flat_buffer> buffers(connections);
        for (std::size_t i = 0; i < connections; ++i) {
            sockets.emplace_back(io);
        }
        const http::request<http::empty_body> request = PageRequest(pagePort);
        for (std::size_t i = 0; i < warmup + requests; ++i) {
            tcp::socket& socket = sockets[i % connections];
            beast::flat_buffer& buffer = buffers[i % connections];
            // tinyproxy closes every connection after one answer while its
            // answer claims keep-alive (it drops the server's "Connection:
            // close"); a closed connection is noticed here, untimed, as a
            // browser notices it before reusing one.
            if (socket.is_open() && PeerClosed(socket)) {
                socket.close();
            }
            const auto start = Clock::now();
            http::response<http::string_body> response;
            for (int attempt = 0;; ++attempt) {
                const bool reused = socket.is_open();
                if (!reused) {
                    buffer.clear();
                    co_await socket.async_connect(Loopback(proxyPort), use_awaitable);
                    socket.set_option(tcp::no_delay(true));
                    ++result.ConnectionsOpened;
                }
                boost::system::error_code error;
                co_await http::async_write(socket, request, asio::redirect_error(use_awaitable, error));
                if (!error) {
                    co_await http::async_read(socket, buffer, response,
                                              asio::redirect_error(use_awaitable, error));
                }
                if (!error) {
                    break;
                }
                // A kept-alive connection may close just as it is reused;
                // browsers send the request again on a new one.
                socket.close();
                if (!reused || attempt > 0) {
                    throw boost::system::system_error(error);
                }
                ++result.StaleRetries;
                response = {};
            }
            const auto end = Clock::now();
            if (response.result() != http::status::ok || response.body() != PageBody()) {
                throw std::runtime_error("request " + std::to_string(i) + " answered " +
                                         std::to_string(response.result_int()));
            }
            if (!response.keep_alive()) {
                socket.close();
            }
            if (i >= warmup) {
                result.Milliseconds.push_back(std::chrono::duration<double, std::milli>(end - start).count());
            }
        }
        result.Ok = true;
    };
    asio::co_spawn(io, run(), [&](std::exception_ptr error) {
        if (error) {
            result.Failure = Describe(error);
        }
    });
    if (!RunWithin(io, std::chrono::minutes(5))) {
        result.Ok = false;
        result.Failure = "not done within 5 minutes";
    }
    return result;
}

TTunnelResult HoldTunnels(std::uint16_t proxyPort,
                          std::uint16_t echoPort,
                          std::size_t count,
                          const std::function<void()>& whileHeld) {
    asio::io_context io;
    TTunnelResult result;
    struct TTunnel {
        explicit TTunnel(asio::io_context& context) : Socket(context) {}
        tcp::socket Socket;
        beast::flat_buffer Buffer;
        bool Open = false;
    };
    std::vector<std::unique_ptr<TTunnel>> tunnels;
    for (std::size_t i = 0; i < count; ++i) {
        tunnels.push_back(std::make_unique<TTunnel>(io));
    }
    std::string firstFailure;
    auto note = [&firstFailure](std::exception_ptr error) {
        if (error && firstFailure.empty()) {
            firstFailure = Describe(error);
        }
    };

    // In waves, so that no listen queue on the way overflows.
    constexpr std::size_t kWave = 100;
    for (std::size_t from = 0; from < count; from += kWave) {
        for (std::size_t i = from; i < std::min(count, from + kWave); ++i) {
            TTunnel& tunnel = *tunnels[i];
            asio::co_spawn(
                io,
                [&tunnel, proxyPort, echoPort]() -> awaitable<void> {
                    co_await OpenTunnel(tunnel.Socket, tunnel.Buffer, proxyPort, echoPort);
                    tunnel.Open = true;
                },
                note);
        }
        if (!RunWithin(io, std::chrono::seconds(30))) {
            result.Failure = "opening tunnels did not end within 30 s";
            return result;
        }
    }
    result.Opened = static_cast<std::size_t>(
        std::count_if(tunnels.begin(), tunnels.end(), [](const auto& tunnel) { return tunnel->Open; }));
    whileHeld();

    std::size_t carried = 0;
    for (std::size_t i = 0; i < count; ++i) {
        TTunnel& tunnel = *tunnels[i];
        if (!tunnel.Open) {
            continue;
        }
        asio::co_spawn(
            io,
            [&tunnel, &carried, i]() -> awaitable<void> {
                std::string message = "tunnel " + std::to_string(i) + " ";
                message.resize(1024, static_cast<char>('a' + i % 26));
                co_await asio::async_write(tunnel.Socket, asio::buffer(message), use_awaitable);
                std::string echo(message.size(), '\0');
                co_await asio::async_read(tunnel.Socket, asio::buffer(echo), use_awaitable);
                if (echo == message) {
                    ++carried;
                }
            },
            note);
    }
    if (!RunWithin(io, std::chrono::seconds(30))) {
        result.Failure = "the echoes did not all come back within 30 s";
    }
    result.Carried = carried;
    whileHeld();
    if (result.Failure.empty()) {
        result.Failure = firstFailure;
    }
    return result;
}

bool LoadPage(std::uint16_t proxyPort, std::uint16_t pagePort, std::chrono::milliseconds limit) {
    asio::io_context io;
    bool loaded = false;
    auto load = [&]() -> awaitable<void> {
        tcp::socket socket(io);
        const http::request<http::empty_body> request = PageRequest(pagePort);
        co_await socket.async_connect(Loopback(proxyPort), use_awaitable);
        co_await http::async_write(socket, request, use_awaitable);
        beast::flat_buffer buffer;
        http::response<http::string_body> response;
        co_await http::async_read(socket, buffer, response, use_awaitable);
        loaded = response.result() == http::status::ok && response.body() == PageBody();
    };
    asio::co_spawn(io, load(), asio::detached);
    return RunWithin(io, limit) && loaded;
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(p / 100.0 * static_cast<double>(values.size()));
    const std::size_t index = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
    return values[std::min(index, values.size() - 1)];
}

}  // namespace cloakline::bench
