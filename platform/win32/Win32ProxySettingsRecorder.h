#pragma once

#include "platform/api/ProxySettingsRecorder.h"

namespace cloakline {

// The store of a recorded registry value: Key is the key below
// HKEY_CURRENT_USER, a "|" and the value's name; Value the registry type in
// decimal, a ":" and the value's raw bytes; nullopt when there was no value.
inline constexpr std::string_view kRegistryRecordStore = "registry";

// The user's Internet Settings that the Windows switch changes, directly
// ("ProxyEnable", "ProxyServer") and through WinInet's per-connection
// options (kept in "Connections"), with their neighbours that decide the
// proxy ("ProxyOverride", "AutoConfigURL", "AutoDetect"). A restore writes
// the values back as they were, type and bytes, and tells WinInet to read
// them again.
class Win32ProxySettingsRecorder : public IProxySettingsRecorder {
  public:
    bool Record(std::vector<TRecordedSetting>& settings) const override;
    bool Restore(const std::vector<TRecordedSetting>& settings) override;
};

}  // namespace cloakline
