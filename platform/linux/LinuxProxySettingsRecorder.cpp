#include "platform/linux/LinuxProxySettingsRecorder.h"

#include <set>

#include "core/proxy/BrowserProxyTexts.h"
#include "core/proxy/FirefoxProfiles.h"
#include "core/proxy/IniTextEdit.h"
#include "core/support/TextUtils.h"
#include "platform/linux/GnomeProxySettings.h"
#include "platform/linux/LinuxDataFolders.h"
#include "platform/linux/LinuxFirefox.h"
#include "platform/linux/LinuxOperaPreferences.h"
#include "platform/linux/NativePath.h"
#include "platform/linux/ResolvedPath.h"

namespace cloakline {

namespace {

constexpr std::size_t kMaxFileSize = 16u << 20;
constexpr std::string_view kKdeSection = "Proxy Settings";
constexpr std::string_view kOperaSection = "Proxy";
constexpr std::string_view kUtf16LEBom = "\xFF\xFE";
constexpr std::string_view kUtf16BEBom = "\xFE\xFF";

bool IsRegularFile(const IFileSystem& files, const std::string& path) {
    return files.FileExists(path) && !files.DirectoryExists(path);
}

// The file's bytes into bytes, or nullopt into bytes for no file; false when
// a file is there that cannot be read.
bool ReadIfThere(const IFileSystem& files, const std::string& path, std::optional<std::string>& bytes) {
    bytes.reset();
    if (!files.FileExists(path)) {
        return true;
    }
    bytes = files.ReadFile(path, kMaxFileSize);
    return bytes.has_value();
}

bool IsWhitespace(std::string_view text) {
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

std::string_view WithoutTrailingSpace(std::string_view text) {
    const std::size_t end = text.find_last_not_of(" \t\r\n");
    return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

bool WriteOrRemove(IFileSystem& files,
                   const std::string& path,
                   const std::optional<std::string>& wanted,
                   const std::optional<std::string>& current) {
    if (wanted == current) {
        return true;
    }
    if (!wanted) {
        return files.RemoveFile(path);
    }
    const std::size_t slash = path.rfind('\\');
    if (slash != std::string::npos && slash > 0 && !files.ForceDirectories(path.substr(0, slash))) {
        return false;
    }
    return files.ReplaceFile(path, *wanted);
}

}  // namespace

std::vector<std::string> SystemChromiumPolicyFolders() {
    return {"/etc/chromium/policies/managed", "/etc/opt/chrome/policies/managed"};
}

LinuxProxySettingsRecorder::LinuxProxySettingsRecorder(EnvLookup env)
    : LinuxProxySettingsRecorder(std::move(env), SystemChromiumPolicyFolders(), FirefoxProfileInUse) {}

LinuxProxySettingsRecorder::LinuxProxySettingsRecorder(EnvLookup env,
                                                       std::vector<std::string> policyFolders,
                                                       std::function<bool(const std::string&)> profileInUse)
    : FEnv(std::move(env)),
      FPolicyFolders(std::move(policyFolders)),
      FProfileInUse(std::move(profileInUse)) {}

std::string LinuxProxySettingsRecorder::KdeFile() const {
    const std::string configHome = UserConfigHome(FEnv);
    return configHome.empty() ? std::string()
                              : ResolvedProgramPath(ToProgramPath(configHome + "/kioslaverc"));
}

// The file SwitchOperaProxy writes: the first candidate that exists, where
// its links lead.
std::string LinuxProxySettingsRecorder::OperaFile() const {
    std::vector<std::string> candidates =
        OperaPreferenceFiles(LinuxDataFolders(FEnv).GetShellFolder("AppData"));
    const LinuxOperaPreferences opera(FEnv);
    for (std::string& path : opera.ExtraPreferenceFiles()) {
        candidates.push_back(std::move(path));
    }
    for (const std::string& path : candidates) {
        if (!path.empty() && IsRegularFile(FFiles, path)) {
            return opera.WritablePreferenceFile(path);
        }
    }
    return {};
}

bool LinuxProxySettingsRecorder::RecordSection(std::string_view store,
                                               const std::string& path,
                                               std::string_view section,
                                               std::vector<TRecordedSetting>& settings) const {
    std::optional<std::string> bytes;
    if (FFiles.DirectoryExists(path) || !ReadIfThere(FFiles, path, bytes)) {
        return false;
    }
    TRecordedSetting setting{std::string(store), path, std::nullopt};
    if (bytes) {
        // A UTF-16 file is kept whole: its sections are not cut as bytes.
        const bool wide = bytes->starts_with(kUtf16LEBom) || bytes->starts_with(kUtf16BEBom);
        const auto own = wide ? std::nullopt : ReadIniSection(*bytes, section);
        setting.Value = own ? "S" + *own : "F" + *bytes;
    }
    settings.push_back(std::move(setting));
    return true;
}

bool LinuxProxySettingsRecorder::Record(std::vector<TRecordedSetting>& settings) const {
    std::vector<TRecordedSetting> found;
    if (!RecordGnomeProxy(found)) {
        return false;
    }
    const std::string kde = KdeFile();
    // A KDE session gets the file when Hide finds none, so its absence counts.
    if (!kde.empty() && !FFiles.DirectoryExists(kde) &&
        !RecordSection(kKdeRecordStore, kde, kKdeSection, found)) {
        return false;
    }
    const std::string opera = OperaFile();
    if (!opera.empty() && !RecordSection(kOperaRecordStore, opera, kOperaSection, found)) {
        return false;
    }
    for (const std::string& folder : LinuxFirefox(FEnv).ProfileFolders()) {
        TRecordedSetting setting{std::string(kFirefoxRecordStore), folder, std::nullopt};
        const std::string userJs = ResolvedProgramPath(folder + "\\" + std::string(kFirefoxUserJs));
        if (!ReadIfThere(FFiles, userJs, setting.Value)) {
            return false;
        }
        found.push_back(std::move(setting));
    }
    for (const std::string& folder : FPolicyFolders) {
        TRecordedSetting setting{std::string(kFileRecordStore),
                                 ToProgramPath(folder + "/" + std::string(kChromiumPolicyFileName)),
                                 std::nullopt};
        if (!ReadIfThere(FFiles, setting.Key, setting.Value)) {
            return false;
        }
        found.push_back(std::move(setting));
    }
    settings.insert(settings.end(), found.begin(), found.end());
    return true;
}

bool LinuxProxySettingsRecorder::RestoreSection(const TRecordedSetting& setting, std::string_view section) {
    const std::string& path = setting.Key;
    std::optional<std::string> current;
    if (FFiles.DirectoryExists(path) || !ReadIfThere(FFiles, path, current)) {
        return false;
    }
    if (setting.Value && !setting.Value->starts_with('S') && !setting.Value->starts_with('F')) {
        return false;
    }
    std::optional<std::string> wanted;
    if (!setting.Value) {
        // The file was made for the proxy: gone again unless something else
        // has been written to it since.
        if (current) {
            const std::string rest = ReplaceIniSection(*current, section, std::nullopt);
            if (!IsWhitespace(rest)) {
                wanted = rest;
            }
        }
    } else if (setting.Value->starts_with('S')) {
        const std::string own = setting.Value->substr(1);
        wanted = current ? ReplaceIniSection(*current, section, own) : own;
    } else if (current) {
        // There was no section: the recorded file whole, unless more than our
        // section has changed since; then only our section goes.
        const std::string whole = setting.Value->substr(1);
        const bool wide = whole.starts_with(kUtf16LEBom) || whole.starts_with(kUtf16BEBom);
        const std::string rest = ReplaceIniSection(*current, section, std::nullopt);
        wanted = wide || WithoutTrailingSpace(rest) == WithoutTrailingSpace(whole) ? whole : rest;
    }
    return WriteOrRemove(FFiles, path, wanted, current);
}

bool LinuxProxySettingsRecorder::RestoreFirefox(const TRecordedSetting& setting) {
    const std::string& folder = setting.Key;
    if (!FFiles.DirectoryExists(folder)) {
        return true;  // the profile is gone, and its files with it
    }
    const std::string userJs = ResolvedProgramPath(folder + "\\" + std::string(kFirefoxUserJs));
    const std::string prefsJs = ResolvedProgramPath(folder + "\\" + std::string(kFirefoxPrefsJs));
    std::optional<std::string> user;
    std::optional<std::string> prefs;
    if (!ReadIfThere(FFiles, userJs, user) || !ReadIfThere(FFiles, prefsJs, prefs)) {
        return false;
    }
    const TFirefoxPrefFiles old{prefs.value_or(""), user.value_or("")};
    const TFirefoxPrefFiles stopped = SwitchFirefoxPrefFiles(old, false, FProfileInUse(folder));
    if (stopped.PrefsJs != old.PrefsJs && !FFiles.ReplaceFile(prefsJs, stopped.PrefsJs)) {
        return false;
    }
    const bool pending =
        HasFirefoxProxyBlock(stopped.UserJs) && !(setting.Value && HasFirefoxProxyBlock(*setting.Value));
    return WriteOrRemove(FFiles, userJs, pending ? std::optional<std::string>(stopped.UserJs) : setting.Value,
                         user);
}

bool LinuxProxySettingsRecorder::RestoreFile(const TRecordedSetting& setting) {
    std::optional<std::string> current;
    if (FFiles.DirectoryExists(setting.Key) || !ReadIfThere(FFiles, setting.Key, current)) {
        return false;
    }
    return WriteOrRemove(FFiles, setting.Key, setting.Value, current);
}

bool LinuxProxySettingsRecorder::Restore(const std::vector<TRecordedSetting>& settings) {
    bool ok = RestoreGnomeProxy(settings);
    for (const TRecordedSetting& setting : settings) {
        if (setting.Store == kKdeRecordStore) {
            ok = RestoreSection(setting, kKdeSection) && ok;
        } else if (setting.Store == kOperaRecordStore) {
            ok = RestoreSection(setting, kOperaSection) && ok;
        } else if (setting.Store == kFirefoxRecordStore) {
            ok = RestoreFirefox(setting) && ok;
        } else if (setting.Store == kFileRecordStore) {
            ok = RestoreFile(setting) && ok;
        }
    }
    return ok;
}

}  // namespace cloakline
