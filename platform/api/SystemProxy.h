#pragma once

#include <string>
#include <string_view>

namespace cloakline {

// The proxy that the desktop tells its programs to use (the system-wide
// settings that browsers without settings of their own follow).
class ISystemProxy {
  public:
    virtual ~ISystemProxy() = default;
    // proxy is a well-formed host:port text: HTTP, HTTPS and FTP then go
    // through it, with no exceptions. The empty text means a direct
    // connection. A malformed text changes nothing and answers false.
    // Otherwise false when a settings store of the desktop refused the
    // change, or when a proxy reached no store at all; stores that this
    // user's desktop does not have are skipped.
    // Main thread only.
    virtual bool ApplyProxy(std::string_view proxy) = 0;
    // The HTTP proxy that the desktop is set to, as host:port; empty for a
    // direct connection and for settings that name no fixed proxy (an
    // automatic configuration). Main thread only.
    virtual std::string CurrentProxy() const { return {}; }
    // Every settings store of this user's desktop names proxy (a host:port
    // text) as its HTTP proxy; false also when there is no store at all.
    // Main thread only.
    virtual bool HoldsProxy(std::string_view proxy) const {
        return !proxy.empty() && CurrentProxy() == proxy;
    }
};

}  // namespace cloakline
