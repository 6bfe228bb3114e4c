#include "tests/support/FakeDataFolders.h"

namespace cloakline::test {

std::string FakeDataFolders::GetShellFolder(std::string_view name) const {
    auto it = ShellFolders.find(std::string(name));
    return it != ShellFolders.end() ? it->second : GetCommonShellFolder(name);
}

std::string FakeDataFolders::GetCommonShellFolder(std::string_view name) const {
    auto it = CommonShellFolders.find(std::string(name));
    return it != CommonShellFolders.end() ? it->second : std::string();
}

}  // namespace cloakline::test
