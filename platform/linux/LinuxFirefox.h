#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/api/Browsers.h"
#include "platform/linux/EnvLookup.h"
#include "platform/linux/GnomeProxySettings.h"
#include "platform/linux/LinuxFileSystem.h"

namespace cloakline {

// A Firefox of this system runs on the profile folder (program form).
bool FirefoxProfileInUse(const std::string& folder);

// Firefox on Linux follows the desktop's proxy settings (GNOME's GSettings)
// while running, unless the user chose otherwise in a profile; such a profile
// is pointed at the desktop while hiding through its "user.js", from its next
// start (SwitchFirefoxPrefFiles). No command line can hand a proxy to a
// running Firefox.
class LinuxFirefox : public IFirefox {
  public:
    explicit LinuxFirefox(EnvLookup env = SystemGetenv);
    // For testing: usualPrograms (native paths) replaces the usual install
    // places; desktopCarriesProxy tells whether the desktop keeps proxy
    // settings Firefox reads; profileInUse whether a Firefox runs on a
    // profile folder (program form).
    LinuxFirefox(EnvLookup env,
                 std::vector<std::string> usualPrograms,
                 std::function<bool()> desktopCarriesProxy = GnomeProxyStoreKept,
                 std::function<bool(const std::string&)> profileInUse = FirefoxProfileInUse);

    // "firefox" or "firefox-esr" on PATH (absolute entries only), else the
    // first executable of the usual install places.
    std::string FindInstalledProgram() const override;
    // A process of this user whose name or program file is Firefox's.
    bool IsRunning() const override;
    // Points every listed profile that exists at the desktop's settings while
    // hiding (a non-empty proxy; the proxy itself is the desktop's), or gives
    // each its own setting back. False when a profile's files could not be
    // read or written (the others are still switched), or when hiding on a
    // desktop whose settings Firefox cannot read. programPath is not needed:
    // profiles belong to the user.
    bool ApplyProxy(std::string_view programPath, std::string_view proxy) override;
    // No extension is needed here: true when a profile exists that the
    // proxy can be written to.
    bool InstallExtension(std::string_view programPath, std::string_view packagePath) override;

    // The existing profile folders that the user's "profiles.ini" files list
    // (classic, XDG, Snap and Flatpak places), program form, each once.
    std::vector<std::string> ProfileFolders() const;

  private:
    // path's bytes, or empty when there is no such file; false when it cannot be read.
    bool ReadIfThere(const std::string& path, std::string& bytes) const;

    EnvLookup FEnv;
    std::vector<std::string> FUsualPrograms;
    std::function<bool()> FDesktopCarriesProxy;
    std::function<bool(const std::string&)> FProfileInUse;
    mutable LinuxFileSystem FFiles;
};

// The places distributions and Mozilla's own archive install Firefox to.
std::vector<std::string> UsualFirefoxPrograms();

}  // namespace cloakline
