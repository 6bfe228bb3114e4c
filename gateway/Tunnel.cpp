#include "gateway/Tunnel.h"

#include <array>
#include <memory>

#include "gateway/Asio.h"

namespace cloakline::gateway {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

// 16 KiB a direction: big enough for bulk transfers, small enough for
// thousands of open tunnels (pages never written stay unbacked).
constexpr std::size_t kBufferSize = 16 * 1024;

struct TTunnel {
    TTunnel(tcp::socket client, tcp::socket upstream, TGuardRegistry& guards)
        : Client(std::move(client)), Upstream(std::move(upstream)), Watchdog(Client.get_executor(), guards) {
        Watchdog.Guard(Client);
        Watchdog.Guard(Upstream);
    }

    void CloseBoth() {
        boost::system::error_code ignored;
        Client.close(ignored);
        Upstream.close(ignored);
    }

    tcp::socket Client;
    tcp::socket Upstream;
    // Never armed: only there so that stopping the gateway closes the tunnel.
    TWatchdog Watchdog;
    std::array<char, kBufferSize> Outbound;
    std::array<char, kBufferSize> Inbound;
};

asio::awaitable<void> Pump(std::shared_ptr<TTunnel> tunnel, bool outbound) {
    tcp::socket& from = outbound ? tunnel->Client : tunnel->Upstream;
    tcp::socket& to = outbound ? tunnel->Upstream : tunnel->Client;
    std::array<char, kBufferSize>& buffer = outbound ? tunnel->Outbound : tunnel->Inbound;
    for (;;) {
        boost::system::error_code ec;
        const std::size_t got = co_await from.async_read_some(asio::buffer(buffer),
                                                              asio::redirect_error(asio::use_awaitable, ec));
        if (ec == asio::error::eof) {
            // A half close goes on to the other side; the other way may still carry.
            boost::system::error_code ignored;
            to.shutdown(tcp::socket::shutdown_send, ignored);
            co_return;
        }
        if (ec) {
            tunnel->CloseBoth();
            co_return;
        }
        co_await asio::async_write(to, asio::buffer(buffer.data(), got),
                                   asio::redirect_error(asio::use_awaitable, ec));
        if (ec) {
            tunnel->CloseBoth();
            co_return;
        }
    }
}

}  // namespace

void StartTunnel(tcp::socket client, tcp::socket upstream, TGuardRegistry& guards) {
    const auto executor = client.get_executor();
    auto tunnel = std::make_shared<TTunnel>(std::move(client), std::move(upstream), guards);
    asio::co_spawn(executor, Pump(tunnel, true), asio::detached);
    asio::co_spawn(executor, Pump(std::move(tunnel), false), asio::detached);
}

}  // namespace cloakline::gateway
