#pragma once

#include <map>
#include <string>

#include "platform/api/DataFolders.h"

namespace cloakline::test {

// Data folders that a test chooses (program form paths).
class FakeDataFolders : public IDataFolders {
  public:
    std::string ExeName;
    std::map<std::string, std::string> ShellFolders;
    std::map<std::string, std::string> CommonShellFolders;
    std::string TempDir;

    std::string GetExeName() const override { return ExeName; }
    std::string GetShellFolder(std::string_view name) const override;
    std::string GetCommonShellFolder(std::string_view name) const override;
    std::string GetTempDir() const override { return TempDir; }
};

}  // namespace cloakline::test
