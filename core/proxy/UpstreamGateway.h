#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/proxy/ProxyAddress.h"

namespace cloakline {

// One upstream the gateway may forward through; Id is the caller's handle
// for it in the gateway's events.
struct TGatewayUpstream {
    std::uint64_t Id = 0;
    TProxyAddress Address;
};

// What fetching the check page through an upstream gave.
struct TCheckAnswer {
    // A 2xx page came back within the time limit.
    bool Answered = false;
    // What the page reports: the address it saw the request come from and
    // the two-letter country of that address (empty when it names none).
    std::string ExitAddress;
    std::string Country;
    // Why there was no answer, in words; never holds credentials.
    std::string Failure;
};

// The local proxy that the browsers are pointed at while hiding. It forwards
// through the current upstream, moves to the standby by itself when the
// current one stops carrying, and when neither is left it fails closed:
// nothing is ever sent direct. Every callback runs on the caller's main
// thread.
class IUpstreamGateway {
  public:
    virtual ~IUpstreamGateway() = default;

    // Listens on 127.0.0.1: on wishedPort, or on a free port when that one
    // is taken. Answers the port; 0, with the reason in error, when nothing
    // could be opened. Listening already: answers the port it has.
    virtual std::uint16_t Listen(std::uint16_t wishedPort, std::string& error) = 0;
    // 0 while not listening.
    virtual std::uint16_t Port() const = 0;

    // New connections go through current from now on; open tunnels keep
    // their upstream. No current: fail closed.
    virtual void SetUpstreams(std::optional<TGatewayUpstream> current,
                              std::optional<TGatewayUpstream> standby) = 0;
    virtual void SetStandby(std::optional<TGatewayUpstream> standby) = 0;

    // The HTML body of the 503 answer to plain requests while failing closed.
    virtual void SetFailClosedPage(std::string html) = 0;

    // Fetches checkUrl through the upstream within timeout.
    virtual void CheckUpstream(const TProxyAddress& upstream,
                               const std::string& checkUrl,
                               std::chrono::milliseconds timeout,
                               std::function<void(TCheckAnswer)> done) = 0;

    // failedId stopped carrying and is no longer used; nowCurrent is the
    // standby that took over, or nullopt when none was left (failing closed).
    using TOnUpstreamFailed =
        std::function<void(std::uint64_t failedId, std::optional<std::uint64_t> nowCurrent)>;
    virtual void SetOnUpstreamFailed(TOnUpstreamFailed handler) = 0;
};

}  // namespace cloakline
