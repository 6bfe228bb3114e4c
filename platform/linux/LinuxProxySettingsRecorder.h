#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/api/ProxySettingsRecorder.h"
#include "platform/linux/EnvLookup.h"
#include "platform/linux/LinuxFileSystem.h"

namespace cloakline {

// The stores of the record besides GSettings ("gsettings/" + schema id):
// - "kioslaverc", "opera": Key the file (program form, links followed);
//   Value "S" + the bytes of its proxy section, "F" + the whole file when it
//   had no such section, nullopt when there was no file.
// - "firefox": Key a profile folder; Value its "user.js", nullopt for none.
// - "file": Key a file written whole while hiding; Value its bytes, nullopt
//   for none.
inline constexpr std::string_view kKdeRecordStore = "kioslaverc";
inline constexpr std::string_view kOperaRecordStore = "opera";
inline constexpr std::string_view kFirefoxRecordStore = "firefox";
inline constexpr std::string_view kFileRecordStore = "file";

// The Chromium policy file written while hiding, in each managed policy folder.
inline constexpr std::string_view kChromiumPolicyFileName = "cloakline-webrtc.json";
std::vector<std::string> SystemChromiumPolicyFolders();

// Everything the Linux switches change, from GNOME's GSettings to the
// browsers' own files. Needs no display and no Qt.
class LinuxProxySettingsRecorder : public IProxySettingsRecorder {
  public:
    explicit LinuxProxySettingsRecorder(EnvLookup env = SystemGetenv);
    // For testing: the managed policy folders (native) in place of the
    // system's, and whether a Firefox runs on a profile folder.
    LinuxProxySettingsRecorder(EnvLookup env,
                               std::vector<std::string> policyFolders,
                               std::function<bool(const std::string&)> profileInUse);

    bool Record(std::vector<TRecordedSetting>& settings) const override;
    // A Firefox profile first gets the switch of a Stop, which gives the
    // user's own setting back to "prefs.js"; then its "user.js" the recorded
    // bytes, unless a running Firefox still has to be given its setting back
    // at its next start (then our block stays until then).
    bool Restore(const std::vector<TRecordedSetting>& settings) override;

  private:
    std::string KdeFile() const;
    std::string OperaFile() const;
    bool RecordSection(std::string_view store,
                       const std::string& path,
                       std::string_view section,
                       std::vector<TRecordedSetting>& settings) const;
    bool RestoreSection(const TRecordedSetting& setting, std::string_view section);
    bool RestoreFirefox(const TRecordedSetting& setting);
    bool RestoreFile(const TRecordedSetting& setting);

    EnvLookup FEnv;
    std::vector<std::string> FPolicyFolders;
    std::function<bool(const std::string&)> FProfileInUse;
    mutable LinuxFileSystem FFiles;
};

}  // namespace cloakline
