#pragma once

#include <string>

#include "platform/api/DataFolders.h"
#include "platform/linux/EnvLookup.h"

namespace cloakline {

// The Windows shell folders mapped onto the XDG base directories.
class LinuxDataFolders : public IDataFolders {
  public:
    explicit LinuxDataFolders(EnvLookup env = SystemGetenv);

    std::string GetExeName() const override;
    // "AppData" is the user's config home, "Local AppData" the data home;
    // other names fall back to the common folders, as on Windows.
    std::string GetShellFolder(std::string_view name) const override;
    // "Common AppData" is $CLOAKLINE_COMMON_APPDATA, else /var/lib, except
    // for root, which gets none (so never creates a folder there by itself).
    std::string GetCommonShellFolder(std::string_view name) const override;
    std::string GetTempDir() const override;

  private:
    EnvLookup FEnv;
};

// Native folders, without a trailing "/". Empty when no home folder is known.
std::string UserHomeFolder(const EnvLookup& env);
std::string UserConfigHome(const EnvLookup& env);
std::string UserDataHome(const EnvLookup& env);

}  // namespace cloakline
