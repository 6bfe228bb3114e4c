#pragma once

#include "platform/api/DataFolders.h"

namespace cloakline {

// The per-user and the all-users "Shell Folders" keys of Explorer.
inline constexpr std::string_view kShellFoldersKey =
    "Software\\MicroSoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

class Win32DataFolders : public IDataFolders {
  public:
    std::string GetExeName() const override;
    // The user's value of the name, else the machine's.
    std::string GetShellFolder(std::string_view name) const override;
    std::string GetCommonShellFolder(std::string_view name) const override;
    std::string GetTempDir() const override;
};

}  // namespace cloakline
