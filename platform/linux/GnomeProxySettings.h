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

}  // namespace cloakline
