#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "server/core/ProxyEntry.h"

namespace cloakline::server {

// A failure of the store underneath (file, disk, lock held too long).
class TStoreError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct TTouch {
    std::string Host;
    std::optional<std::uint16_t> Port;
    std::int64_t At = 0;
};

// The server's whole state: the proxy inventory with its health and touches,
// and the release record. Every server process reads and writes it here, so
// several of them can share one store. Safe to use from many threads.
class IProxyStore {
  public:
    virtual ~IProxyStore() = default;

    // Sorted by address.
    virtual std::vector<TProxyEntry> ListProxies() = 0;
    virtual std::vector<TProxyEntry> HealthyProxies() = 0;
    // Adds the proxy, or replaces the one with the same address; either way
    // it counts as not checked until the next health check.
    virtual void PutProxy(const TProxyEntry& entry) = 0;
    // Several at once, all or none.
    virtual void PutProxies(const std::vector<TProxyEntry>& entries) = 0;
    // False when there was none.
    virtual bool RemoveProxy(const std::string& address) = 0;
    // Ignored for an address that has been removed meanwhile.
    virtual void RecordHealth(const std::string& address, bool healthy, std::int64_t checkedAt) = 0;
    // Records the touch on the super proxies of that host (and port, when
    // given); the number of proxies it was recorded on.
    virtual int RecordTouch(const std::string& host, std::optional<std::uint16_t> port, std::int64_t at) = 0;
    // Several touches in one write; what each recorded is not reported.
    virtual void RecordTouches(const std::vector<TTouch>& touches) {
        for (const TTouch& touch : touches) {
            RecordTouch(touch.Host, touch.Port, touch.At);
        }
    }
    virtual std::optional<TRelease> Release() = 0;
    virtual void SetRelease(const TRelease& release) = 0;
    // Claims the health round due at now for this process: false when another
    // process of the deployment claimed one less than interval seconds ago. A
    // store that serves one process alone always grants it.
    virtual bool ClaimHealthRound(std::int64_t now, std::int64_t intervalSeconds) {
        (void)now;
        (void)intervalSeconds;
        return true;
    }
};

}  // namespace cloakline::server
