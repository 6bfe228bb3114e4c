#include "platform/linux/KdeProxySettings.h"

#include <map>
#include <string>
#include <string_view>

#include "platform/linux/LinuxDataFolders.h"
#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/NativePath.h"
#include "platform/linux/ResolvedPath.h"

namespace cloakline {

namespace {

constexpr std::string_view kGroup = "Proxy Settings";
constexpr std::size_t kMaxConfigSize = 16u << 20;

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

// The values of one group of an INI text; the last of a repeated key wins.
std::map<std::string, std::string> GroupEntries(std::string_view text, std::string_view group) {
    std::map<std::string, std::string> entries;
    bool inGroup = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view line = Trimmed(text.substr(start, end - start));
        start = end + 1;
        if (line.starts_with('[')) {
            inGroup = line.size() == group.size() + 2 && line.substr(1, group.size()) == group &&
                      line.back() == ']';
            continue;
        }
        const std::size_t equals = line.find('=');
        if (inGroup && equals != std::string_view::npos) {
            entries[std::string(Trimmed(line.substr(0, equals)))] =
                std::string(Trimmed(line.substr(equals + 1)));
        }
    }
    return entries;
}

}  // namespace

std::optional<std::string> ReadKdeProxy(const EnvLookup& env) {
    const std::string configHome = UserConfigHome(env);
    if (configHome.empty()) {
        return std::nullopt;
    }
    const std::string path = ResolvedProgramPath(ToProgramPath(configHome + "/kioslaverc"));
    const LinuxFileSystem files;
    if (!files.FileExists(path) || files.DirectoryExists(path)) {
        return std::nullopt;
    }
    const auto bytes = files.ReadFile(path, kMaxConfigSize);
    if (!bytes) {
        return std::string();
    }
    const auto entries = GroupEntries(*bytes, kGroup);
    const auto type = entries.find("ProxyType");
    const auto server = entries.find("httpProxy");
    if (type == entries.end() || type->second != "1" || server == entries.end()) {
        return std::string();
    }
    std::string_view value = server->second;
    if (value.starts_with("http://")) {
        value.remove_prefix(7);
    }
    std::string text(value);
    const std::size_t space = text.rfind(' ');
    if (space != std::string::npos) {
        text[space] = ':';
    }
    while (!text.empty() && text.back() == '/') {
        text.pop_back();
    }
    return IsValidProxyText(text) ? text : std::string();
}

std::vector<TIniEntry> KdeProxyEntries(const std::optional<TProxyEndpoint>& proxy) {
    if (!proxy) {
        return {{"ProxyType", "0"}};
    }
    const std::string server = "http://" + proxy->Host + " " + std::to_string(proxy->Port);
    return {
        {"ProxyType", "1"},   {"httpProxy", server}, {"httpsProxy", server},
        {"ftpProxy", server}, {"NoProxyFor", ""},    {"ReversedException", "false"},
    };
}

bool IsKdeSession(const EnvLookup& env) {
    const char* desktops = NonEmptyEnv(env, "XDG_CURRENT_DESKTOP");
    if (desktops == nullptr) {
        return false;
    }
    // A list such as "KDE" or "ubuntu:KDE"; names are compared as KDE spells them.
    std::string_view rest(desktops);
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        if (rest.substr(0, colon) == "KDE") {
            return true;
        }
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
    return false;
}

ProxyStoreResult ApplyKdeProxy(const EnvLookup& env, const std::optional<TProxyEndpoint>& proxy) {
    const std::string configHome = UserConfigHome(env);
    if (configHome.empty()) {
        return ProxyStoreResult::Absent;
    }
    const std::string path = ResolvedProgramPath(ToProgramPath(configHome + "/kioslaverc"));
    LinuxFileSystem files;
    if (files.DirectoryExists(path)) {
        return ProxyStoreResult::Absent;
    }
    if (!files.FileExists(path)) {
        // A KDE session that never opened its proxy settings has no file yet;
        // without one there is nothing to clear. Elsewhere the file is not ours to make.
        if (!proxy || !IsKdeSession(env)) {
            return ProxyStoreResult::Absent;
        }
        const std::string created = WriteIniEntries("", kGroup, KdeProxyEntries(proxy), "\n");
        return files.ForceDirectories(ToProgramPath(configHome)) && files.ReplaceFile(path, created)
                   ? ProxyStoreResult::Written
                   : ProxyStoreResult::Failed;
    }
    const auto bytes = files.ReadFile(path, kMaxConfigSize);
    if (!bytes) {
        return ProxyStoreResult::Failed;
    }
    const std::string edited = WriteIniEntries(*bytes, kGroup, KdeProxyEntries(proxy), "\n");
    if (edited == *bytes) {
        return ProxyStoreResult::Written;
    }
    return files.ReplaceFile(path, edited) ? ProxyStoreResult::Written : ProxyStoreResult::Failed;
}

}  // namespace cloakline
