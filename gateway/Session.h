#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/proxy/UpstreamGateway.h"
#include "gateway/Asio.h"
#include "gateway/Gateway.h"
#include "gateway/Watchdog.h"

// One client connection of the gateway, HTTP proxy or SOCKS5, on the I/O thread.
namespace cloakline::gateway {

// What a connection asks of the gateway; every call on the I/O thread.
class ISessionHost {
  public:
    virtual ~ISessionHost() = default;

    // The upstream for a new way; nullopt while failing closed.
    virtual std::optional<TGatewayUpstream> Current() const = 0;
    // id did not carry: the standby takes over.
    virtual void UpstreamDown(std::uint64_t id) = 0;
    // id answered a CONNECT (or a SOCKS5 connect): with success or not.
    virtual void ConnectAnswered(std::uint64_t id, bool opened) = 0;
    virtual std::string FailClosedPage() const = 0;
    virtual const TGatewayLimits& Limits() const = 0;
    virtual TGuardRegistry& Guards() = 0;
};

boost::asio::awaitable<void> ServeClient(boost::asio::ip::tcp::socket client, ISessionHost& host);

}  // namespace cloakline::gateway
