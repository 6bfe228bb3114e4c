#pragma once

#include <string>

namespace cloakline::test {

// A real folder below the system's temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Native path, no trailing "/".
    const std::string& Path() const { return FPath; }
    // Path + "/" + relative, with the folders on the way created.
    std::string Sub(const std::string& relative) const;
    // Program form ("\" separators) of Path() + "/" + relative.
    std::string ProgramPath(const std::string& relative = "") const;

    void WriteFile(const std::string& relative, const std::string& bytes) const;
    std::string ReadFile(const std::string& relative) const;
    bool Exists(const std::string& relative) const;

  private:
    std::string FPath;
};

// "/" to "\" as the program spells paths.
std::string ToProgramForm(const std::string& nativePath);

}  // namespace cloakline::test
