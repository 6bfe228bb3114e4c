#pragma once

#include <string>
#include <string_view>

namespace cloakline {

// Where the program is and where the system keeps data. Paths in program form,
// folders without a trailing "\" unless stated.
class IDataFolders {
  public:
    virtual ~IDataFolders() = default;

    // Full path of the program file.
    virtual std::string GetExeName() const = 0;
    // A per-user system folder by its Windows shell name ("AppData"); empty when unknown.
    virtual std::string GetShellFolder(std::string_view name) const = 0;
    // A folder shared by all users ("Common AppData"); empty when unknown.
    virtual std::string GetCommonShellFolder(std::string_view name) const = 0;
    // The user's temporary folder, ending with "\".
    virtual std::string GetTempDir() const = 0;
};

}  // namespace cloakline
