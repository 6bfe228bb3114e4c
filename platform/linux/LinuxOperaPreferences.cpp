#include "platform/linux/LinuxOperaPreferences.h"

#include "platform/linux/LinuxDataFolders.h"
#include "platform/linux/NativePath.h"
#include "platform/linux/ResolvedPath.h"

namespace cloakline {

LinuxOperaPreferences::LinuxOperaPreferences(EnvLookup env) : FEnv(std::move(env)) {}

std::vector<std::string> LinuxOperaPreferences::ExtraPreferenceFiles() const {
    const std::string home = UserHomeFolder(FEnv);
    if (home.empty()) {
        return {};
    }
    const std::string folder = (home == "/" ? std::string() : home) + "/.opera/";
    return {ToProgramPath(folder + "opera6.ini"), ToProgramPath(folder + "operaprefs.ini")};
}

std::string LinuxOperaPreferences::WritablePreferenceFile(const std::string& path) const {
    return ResolvedProgramPath(path);
}

}  // namespace cloakline
