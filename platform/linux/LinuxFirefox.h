#pragma once

#include <string>
#include <vector>

#include "platform/api/Browsers.h"
#include "platform/linux/EnvLookup.h"
#include "platform/linux/LinuxFileSystem.h"

namespace cloakline {

// Firefox on Linux takes its proxy from each profile's "user.js", read at its
// next start: no command line can hand a proxy to a running Firefox, and
// starting a browser window at every switch is not what the user asked for.
class LinuxFirefox : public IFirefox {
  public:
    explicit LinuxFirefox(EnvLookup env = SystemGetenv);
    // For testing: usualPrograms (native paths) replaces the usual install places.
    LinuxFirefox(EnvLookup env, std::vector<std::string> usualPrograms);

    // "firefox" or "firefox-esr" on PATH (absolute entries only), else the
    // first executable of the usual install places.
    std::string FindInstalledProgram() const override;
    // A process of this user whose name or program file is Firefox's.
    bool IsRunning() const override;
    // Writes the proxy block into every listed profile that exists; false
    // when one of them could not be read or written (the others are still
    // written). programPath is not needed: profiles belong to the user.
    bool ApplyProxy(std::string_view programPath, std::string_view proxy) override;
    // No extension is needed here: true when a profile exists that the
    // proxy can be written to.
    bool InstallExtension(std::string_view programPath, std::string_view packagePath) override;

    // The existing profile folders that the user's "profiles.ini" files list
    // (classic, XDG, Snap and Flatpak places), program form, each once.
    std::vector<std::string> ProfileFolders() const;

  private:
    EnvLookup FEnv;
    std::vector<std::string> FUsualPrograms;
    mutable LinuxFileSystem FFiles;
};

// The places distributions and Mozilla's own archive install Firefox to.
std::vector<std::string> UsualFirefoxPrograms();

}  // namespace cloakline
