#pragma once

#include <string>
#include <vector>

#include "platform/api/Browsers.h"

namespace cloakline {

inline constexpr std::string_view kMozillaFirefoxKey = "SOFTWARE\\Mozilla\\Mozilla Firefox";
inline constexpr std::string_view kPortableFirefoxKey = "Software\\Kestrel";
inline constexpr std::string_view kPortableFirefoxProgram = "\\Kestrel.exe";

// Firefox as its installer registers it, or the portable one, switched by
// starting it with the extension's command lines.
class Win32Firefox : public IFirefox {
  public:
    // "PathToExe" of the current version under the machine's Mozilla key
    // (the process's registry view first, then the other one), overridden by
    // the portable Firefox's folder + "\Kestrel.exe".
    std::string FindInstalledProgram() const override;
    // A top-level window of Firefox's class exists.
    bool IsRunning() const override;
    // Starts the program with the set or clear command line.
    bool ApplyProxy(std::string_view programPath, std::string_view proxy) override;
    // Starts the program with the package's quoted path.
    bool InstallExtension(std::string_view programPath, std::string_view packagePath) override;
};

// Opera for Windows keeps its files under "AppData", which the switch
// routine already tries: nothing more to look at.
class Win32OperaPreferences : public IOperaPreferences {
  public:
    std::vector<std::string> ExtraPreferenceFiles() const override { return {}; }
};

// Starts program (a path) with the quoted path, a space and params as its
// command line, in the program's own folder, without waiting.
bool RunProgramWithParams(std::string_view program, std::string_view params);

}  // namespace cloakline
