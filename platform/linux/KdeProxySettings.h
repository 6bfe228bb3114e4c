#pragma once

#include <optional>
#include <vector>

#include "core/proxy/IniTextEdit.h"
#include "core/proxy/ProxyText.h"
#include "platform/linux/DesktopProxyStore.h"
#include "platform/linux/EnvLookup.h"

namespace cloakline {

// KDE's proxy settings, group "Proxy Settings" of "kioslaverc" in the config
// home. Only a desktop that has the file is KDE's; none is created.
ProxyStoreResult ApplyKdeProxy(const EnvLookup& env, const std::optional<TProxyEndpoint>& proxy);

// The entries written: ProxyType 1 (manual) with the proxy for HTTP, HTTPS
// and FTP in the "http://host port" form that KDE's own dialog writes, and
// no exceptions; ProxyType 0 (none) for nullopt.
std::vector<TIniEntry> KdeProxyEntries(const std::optional<TProxyEndpoint>& proxy);

}  // namespace cloakline
