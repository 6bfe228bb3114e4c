#include "platform/linux/KdeProxySettings.h"

#include <string>

#include "platform/linux/LinuxDataFolders.h"
#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/NativePath.h"
#include "platform/linux/ResolvedPath.h"

namespace cloakline {

namespace {

constexpr std::string_view kGroup = "Proxy Settings";
constexpr std::size_t kMaxConfigSize = 16u << 20;

}  // namespace

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

ProxyStoreResult ApplyKdeProxy(const EnvLookup& env, const std::optional<TProxyEndpoint>& proxy) {
    const std::string configHome = UserConfigHome(env);
    if (configHome.empty()) {
        return ProxyStoreResult::Absent;
    }
    const std::string path = ResolvedProgramPath(ToProgramPath(configHome + "/kioslaverc"));
    LinuxFileSystem files;
    if (!files.FileExists(path) || files.DirectoryExists(path)) {
        return ProxyStoreResult::Absent;
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
