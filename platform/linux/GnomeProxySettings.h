#pragma once

#include <optional>

#include "core/proxy/ProxyText.h"
#include "platform/linux/DesktopProxyStore.h"

namespace cloakline {

// GNOME's "org.gnome.system.proxy" through GIO's GSettings, in whichever
// backend GIO chooses for this process (dconf on a desktop; the environment
// can pick another). A proxy sets mode "manual" with the same host and port
// for "http", "https" and "ftp" and an empty "ignore-hosts"; nullopt sets
// mode "none". Absent when the schemas are not installed or GIO has only a
// backend that keeps nothing. Waits until the backend has taken the change.
ProxyStoreResult ApplyGnomeProxy(const std::optional<TProxyEndpoint>& proxy);

// The schemas are installed and GIO's backend keeps what is written where
// other programs read it (the store is not absent).
bool GnomeProxyStoreKept();

// The HTTP proxy of mode "manual" as host:port; empty for any other mode or
// a host and port that do not make a proxy text. nullopt when the store is
// absent (as for ApplyGnomeProxy).
std::optional<std::string> ReadGnomeProxy();

}  // namespace cloakline
