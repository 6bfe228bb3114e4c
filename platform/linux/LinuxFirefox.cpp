#include "platform/linux/LinuxFirefox.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>

#include "core/proxy/FirefoxProfiles.h"
#include "core/proxy/ProxyText.h"
#include "platform/linux/GnomeProxySettings.h"
#include "platform/linux/LinuxDataFolders.h"
#include "platform/linux/NativePath.h"
#include "platform/linux/ResolvedPath.h"

namespace cloakline {

namespace {

constexpr std::size_t kMaxPreferenceFileSize = 16u << 20;
constexpr const char* kProgramNames[] = {"firefox", "firefox-esr"};
// Names a Firefox process goes by: its launcher and program files, old and new.
constexpr std::string_view kProcessNames[] = {"firefox", "firefox-esr", "firefox-bin"};

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool IsFirefoxName(std::string_view name) {
    for (std::string_view known : kProcessNames) {
        if (name == known) {
            return true;
        }
    }
    return false;
}

std::string ReadSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text;
    std::getline(in, text, '\0');
    return text;
}

bool ProcessIsFirefox(const std::string& procEntry) {
    std::string comm = ReadSmallFile(procEntry + "/comm");
    while (!comm.empty() && (comm.back() == '\n' || comm.back() == '\0')) {
        comm.pop_back();
    }
    if (IsFirefoxName(comm)) {
        return true;
    }
    // The name is cut to 15 characters and a process may rename itself; the
    // program file tells the rest.
    char target[4096];
    const ssize_t n = ::readlink((procEntry + "/exe").c_str(), target, sizeof target - 1);
    if (n <= 0) {
        return false;
    }
    std::string_view exe(target, static_cast<std::size_t>(n));
    constexpr std::string_view kDeleted = " (deleted)";
    if (exe.ends_with(kDeleted)) {
        exe.remove_suffix(kDeleted.size());
    }
    const std::size_t slash = exe.rfind('/');
    return IsFirefoxName(slash == std::string_view::npos ? exe : exe.substr(slash + 1));
}

}  // namespace

std::vector<std::string> UsualFirefoxPrograms() {
    return {
        "/usr/bin/firefox",           "/usr/bin/firefox-esr",
        "/usr/lib/firefox/firefox",   "/usr/lib/firefox-esr/firefox-esr",
        "/usr/lib64/firefox/firefox", "/usr/local/bin/firefox",
        "/opt/firefox/firefox",       "/snap/bin/firefox",
    };
}

LinuxFirefox::LinuxFirefox(EnvLookup env) : LinuxFirefox(std::move(env), UsualFirefoxPrograms()) {}

LinuxFirefox::LinuxFirefox(EnvLookup env,
                           std::vector<std::string> usualPrograms,
                           std::function<bool()> desktopCarriesProxy,
                           std::function<bool(const std::string&)> profileInUse)
    : FEnv(std::move(env)),
      FUsualPrograms(std::move(usualPrograms)),
      FDesktopCarriesProxy(std::move(desktopCarriesProxy)),
      FProfileInUse(std::move(profileInUse)) {}

std::string LinuxFirefox::FindInstalledProgram() const {
    if (const char* path = NonEmptyEnv(FEnv, "PATH")) {
        const std::string_view all(path);
        for (const char* name : kProgramNames) {
            std::size_t start = 0;
            while (start <= all.size()) {
                std::size_t end = all.find(':', start);
                if (end == std::string_view::npos) {
                    end = all.size();
                }
                const std::string_view folder = all.substr(start, end - start);
                // A relative entry would name a different file from every other folder.
                if (!folder.empty() && folder.front() == '/') {
                    std::string candidate(folder);
                    if (candidate.back() != '/') {
                        candidate += '/';
                    }
                    candidate += name;
                    if (IsExecutableFile(candidate)) {
                        return ToProgramPath(candidate);
                    }
                }
                start = end + 1;
            }
        }
    }
    for (const std::string& candidate : FUsualPrograms) {
        if (IsExecutableFile(candidate)) {
            return ToProgramPath(candidate);
        }
    }
    return {};
}

bool LinuxFirefox::IsRunning() const {
    std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
    if (!proc) {
        return false;
    }
    const uid_t me = ::getuid();
    while (const dirent* entry = ::readdir(proc.get())) {
        const std::string_view name(entry->d_name);
        if (name.empty() || name.find_first_not_of("0123456789") != std::string_view::npos) {
            continue;
        }
        const std::string folder = "/proc/" + std::string(name);
        struct stat st {};
        // The folder belongs to the process's effective user.
        if (::stat(folder.c_str(), &st) != 0 || st.st_uid != me) {
            continue;
        }
        if (ProcessIsFirefox(folder)) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> LinuxFirefox::ProfileFolders() const {
    const std::string home = UserHomeFolder(FEnv);
    const std::string config = UserConfigHome(FEnv);
    std::vector<std::string> roots;
    if (!home.empty()) {
        roots.push_back(home + "/.mozilla/firefox");
    }
    if (!config.empty()) {
        roots.push_back(config + "/mozilla/firefox");
    }
    if (!home.empty()) {
        roots.push_back(home + "/snap/firefox/common/.mozilla/firefox");
        roots.push_back(home + "/.var/app/org.mozilla.firefox/.mozilla/firefox");
    }

    std::vector<std::string> folders;
    std::set<std::string> seen;
    for (const std::string& root : roots) {
        const std::string rootPath = ToProgramPath(root);
        const auto ini =
            FFiles.ReadFile(rootPath + "\\" + std::string(kFirefoxProfilesIni), kMaxPreferenceFileSize);
        if (!ini) {
            continue;
        }
        for (std::string& folder : FirefoxProfileFolders(*ini, rootPath)) {
            if (!FFiles.DirectoryExists(folder)) {
                continue;
            }
            if (seen.insert(ResolvedProgramPath(folder)).second) {
                folders.push_back(std::move(folder));
            }
        }
    }
    return folders;
}

bool LinuxFirefox::ApplyProxy(std::string_view, std::string_view proxy) {
    if (!proxy.empty() && !ParseProxyText(proxy)) {
        return false;
    }
    const bool hiding = !proxy.empty();
    bool ok = true;
    bool any = false;
    for (const std::string& folder : ProfileFolders()) {
        any = true;
        const std::string userJs = ResolvedProgramPath(folder + "\\" + std::string(kFirefoxUserJs));
        const std::string prefsJs = ResolvedProgramPath(folder + "\\" + std::string(kFirefoxPrefsJs));
        TFirefoxPrefFiles old;
        // Writing over a file we cannot read would lose the user's lines.
        if (!ReadIfThere(userJs, old.UserJs) || !ReadIfThere(prefsJs, old.PrefsJs)) {
            ok = false;
            continue;
        }
        const TFirefoxPrefFiles updated = SwitchFirefoxPrefFiles(old, hiding, FProfileInUse(folder));
        const bool linked = userJs != ResolvedProgramPath(folder) + "\\" + std::string(kFirefoxUserJs);
        if (updated.UserJs.empty() && !old.UserJs.empty() && !linked) {
            // Nothing but our block was in it: the profile had no user.js.
            if (::unlink(ToNativePath(userJs).c_str()) != 0 && errno != ENOENT) {
                ok = false;
            }
        } else if (updated.UserJs != old.UserJs && !FFiles.ReplaceFile(userJs, updated.UserJs)) {
            ok = false;
        }
        if (updated.PrefsJs != old.PrefsJs && !FFiles.ReplaceFile(prefsJs, updated.PrefsJs)) {
            ok = false;
        }
    }
    // Every profile follows the desktop while hiding; that needs settings
    // that Firefox can read.
    if (hiding && any && !FDesktopCarriesProxy()) {
        ok = false;
    }
    return ok;
}

bool LinuxFirefox::ReadIfThere(const std::string& path, std::string& bytes) const {
    if (!FFiles.FileExists(path)) {
        bytes.clear();
        return true;
    }
    auto read = FFiles.ReadFile(path, kMaxPreferenceFileSize);
    if (!read) {
        return false;
    }
    bytes = std::move(*read);
    return true;
}

bool FirefoxProfileInUse(const std::string& folder) {
    // A running Firefox holds the link "lock" -> "address:+pid" in its profile.
    char target[256];
    const ssize_t n = ::readlink((ToNativePath(folder) + "/lock").c_str(), target, sizeof target - 1);
    if (n <= 0) {
        return false;
    }
    const std::string_view text(target, static_cast<std::size_t>(n));
    const std::size_t plus = text.rfind('+');
    const long pid = plus == std::string_view::npos
                         ? 0
                         : std::strtol(std::string(text.substr(plus + 1)).c_str(), nullptr, 10);
    if (pid <= 0) {
        return true;  // a lock we cannot read: better not to write behind it
    }
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

bool LinuxFirefox::InstallExtension(std::string_view, std::string_view) {
    for (const std::string& folder : ProfileFolders()) {
        if (FFiles.CheckFileAccess(GENERIC_WRITE_ACCESS, folder)) {
            return true;
        }
    }
    return false;
}

}  // namespace cloakline
