#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/proxy/IniTextEdit.h"
#include "core/proxy/ProxyText.h"
#include "platform/linux/DesktopProxyStore.h"
#include "platform/linux/EnvLookup.h"

namespace cloakline {

// KDE's proxy settings, group "Proxy Settings" of "kioslaverc" in the config
// home. A desktop that has the file is written whatever its session; a KDE
// session without the file gets one when a proxy is set (a clear of a
// missing file is nothing to do).
ProxyStoreResult ApplyKdeProxy(const EnvLookup& env, const std::optional<TProxyEndpoint>& proxy);

// XDG_CURRENT_DESKTOP names KDE among its desktops.
bool IsKdeSession(const EnvLookup& env);

// The HTTP proxy of ProxyType 1 as host:port, from "http://host port" or
// "host:port"; empty for any other type or an entry that makes no proxy
// text. nullopt when there is no file.
std::optional<std::string> ReadKdeProxy(const EnvLookup& env);

// The entries written: ProxyType 1 (manual) with the proxy for HTTP, HTTPS
// and FTP in the "http://host port" form that KDE's own dialog writes, and
// no exceptions; ProxyType 0 (none) for nullopt.
std::vector<TIniEntry> KdeProxyEntries(const std::optional<TProxyEndpoint>& proxy);

}  // namespace cloakline
