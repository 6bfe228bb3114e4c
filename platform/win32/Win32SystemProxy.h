#pragma once

#include <string>
#include <string_view>

#include "platform/api/SystemProxy.h"

namespace cloakline {

inline constexpr std::string_view kInternetSettingsKey =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// Internet Explorer's and WinInet's proxy: WinInet's per-connection options
// of the LAN connection, then "ProxyServer" and "ProxyEnable" in the user's
// Internet Settings.
class Win32SystemProxy : public ISystemProxy {
  public:
    // False for a malformed text (nothing changed), or when the options or
    // the registry refused the change; both are tried in every case.
    bool ApplyProxy(std::string_view proxy) override;
    // The "http=" server of "ProxyServer" (or its whole text when it names
    // one server for all) while "ProxyEnable" is 1.
    std::string CurrentProxy() const override;
};

// InternetSetOptionW with the three per-connection options; true when accepted.
bool SetWinInetProxy(bool on, std::string_view bypass, std::string_view server);
// The two registry values; false when they could not be written.
bool SetIERegistryProxy(std::string_view proxy);
// The HTTP proxy named by a "ProxyServer" text; empty when it names none.
std::string HttpProxyOfServerList(std::string_view proxyServer);

}  // namespace cloakline
