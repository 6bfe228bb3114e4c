#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "core/proxy/ProxyText.h"
#include "platform/api/ProxySettingsRecorder.h"
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

// The store of a recorded GSettings key: this prefix and the schema id.
inline constexpr std::string_view kGnomeRecordStore = "gsettings/";

// Every key of "org.gnome.system.proxy" and its child schemas (http, https,
// ftp, socks) that are installed, sorted by schema and key: the user's value
// as GVariant text with its type, nullopt for a key at its default. Nothing
// when the store is absent; true then too.
bool RecordGnomeProxy(std::vector<TRecordedSetting>& settings);

// Puts the recorded keys back (nullopt resets the key), the mode last so
// that nothing sees the old mode with new addresses; other stores and
// schemas not of the proxy are left alone. False when a value was refused
// or the store has gone while the record holds keys of it.
bool RestoreGnomeProxy(const std::vector<TRecordedSetting>& settings);

}  // namespace cloakline
