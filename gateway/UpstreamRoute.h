#pragma once

#include <chrono>
#include <string>

#include "core/proxy/ProxyAddress.h"
#include "gateway/Asio.h"
#include "gateway/Target.h"
#include "gateway/Watchdog.h"

// Opening a way to a target through an upstream proxy, on the I/O thread.
namespace cloakline::gateway {

enum class TRouteState {
    Open,
    // The upstream could not be reached, did not finish its handshake in
    // time, or refused the login: it does not carry.
    UpstreamDown,
    // The upstream works but would not open the way to this target (an
    // error status to CONNECT, a SOCKS5 failure reply).
    TargetRefused,
};

struct TRoute {
    TRouteState State = TRouteState::UpstreamDown;
    // The HTTP status, or the SOCKS5 reply code, of a refusal.
    int Code = 0;
    // Bytes the upstream sent after its answer, already meant for the client.
    std::string Early;
    // In words, without credentials.
    std::string Failure;
};

// Connects socket to host:port (a name is resolved); gives up once the
// watchdog, if any, has fired.
boost::asio::awaitable<boost::system::error_code> ConnectTcp(boost::asio::ip::tcp::socket& socket,
                                                             const std::string& host,
                                                             std::uint16_t port,
                                                             const TWatchdog* watchdog = nullptr);

// A tunnel to target: CONNECT through an HTTP upstream, or a SOCKS5 CONNECT;
// all of it within limit.
boost::asio::awaitable<TRoute> OpenTunnel(boost::asio::ip::tcp::socket& socket,
                                          const TProxyAddress& upstream,
                                          const TTarget& target,
                                          std::chrono::milliseconds limit,
                                          TGuardRegistry& guards);

// The way for a plain request: towards an HTTP upstream just the connection
// to it (the request goes in absolute form), through SOCKS5 a tunnel to
// target (the request goes in origin form).
boost::asio::awaitable<TRoute> OpenPlain(boost::asio::ip::tcp::socket& socket,
                                         const TProxyAddress& upstream,
                                         const TTarget& target,
                                         std::chrono::milliseconds limit,
                                         TGuardRegistry& guards);

// The Proxy-Authorization value for upstream; empty without credentials or for SOCKS5.
std::string ProxyAuthorizationOf(const TProxyAddress& upstream);

}  // namespace cloakline::gateway
