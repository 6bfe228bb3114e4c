#include "platform/linux/LinuxDataFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

#include "core/support/TextEncoding.h"
#include "platform/linux/NativePath.h"

namespace cloakline {

namespace {

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// The XDG variables count only when they hold an absolute path.
std::string XdgFolder(const EnvLookup& env, const char* variable, const char* underHome) {
    const char* value = NonEmptyEnv(env, variable);
    if (value != nullptr && value[0] == '/') {
        return WithoutTrailingSlashes(value);
    }
    const std::string home = UserHomeFolder(env);
    return home.empty() ? std::string() : (home == "/" ? std::string() : home) + underHome;
}

}  // namespace

std::string UserHomeFolder(const EnvLookup& env) {
    if (const char* home = NonEmptyEnv(env, "HOME")) {
        return WithoutTrailingSlashes(home);
    }
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
        found->pw_dir == nullptr || found->pw_dir[0] == '\0') {
        return {};
    }
    return WithoutTrailingSlashes(found->pw_dir);
}

std::string UserConfigHome(const EnvLookup& env) {
    return XdgFolder(env, "XDG_CONFIG_HOME", "/.config");
}

std::string UserDataHome(const EnvLookup& env) {
    return XdgFolder(env, "XDG_DATA_HOME", "/.local/share");
}

LinuxDataFolders::LinuxDataFolders(EnvLookup env) : FEnv(std::move(env)) {}

std::string LinuxDataFolders::GetExeName() const {
    std::vector<char> buffer(4096);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) {
            return {};
        }
        if (static_cast<std::size_t>(n) < buffer.size()) {
            return ToProgramPath(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
        }
        buffer.resize(buffer.size() * 2);
    }
    return {};
}

std::string LinuxDataFolders::GetShellFolder(std::string_view name) const {
    std::string folder;
    if (SameTextAscii(name, "AppData")) {
        folder = UserConfigHome(FEnv);
    } else if (SameTextAscii(name, "Local AppData")) {
        folder = UserDataHome(FEnv);
    } else {
        return GetCommonShellFolder(name);
    }
    return ToProgramPath(folder);
}

std::string LinuxDataFolders::GetCommonShellFolder(std::string_view name) const {
    if (!SameTextAscii(name, "Common AppData")) {
        return {};
    }
    const char* configured = NonEmptyEnv(FEnv, "CLOAKLINE_COMMON_APPDATA");
    if (configured != nullptr) {
        return ToProgramPath(WithoutTrailingSlashes(configured));
    }
    // Only root may create folders in /var/lib, and one made there by a
    // program run as root would then hold the data of every user the
    // administrator lets in: root keeps to its own per-user folder. A shared
    // folder is the administrator's to prepare (and to name in the variable).
    if (::geteuid() == 0) {
        return {};
    }
    return ToProgramPath("/var/lib");
}

std::string LinuxDataFolders::GetTempDir() const {
    const char* configured = NonEmptyEnv(FEnv, "TMPDIR");
    std::string folder = WithoutTrailingSlashes(configured != nullptr ? configured : "/tmp");
    if (folder.back() != '/') {
        folder += '/';
    }
    return ToProgramPath(folder);
}

}  // namespace cloakline
