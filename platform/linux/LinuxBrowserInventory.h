#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/api/BrowserInventory.h"
#include "platform/linux/EnvLookup.h"

namespace cloakline {

// Where the inventory looks; native paths. The system's by default, a
// temporary home in tests.
struct TBrowserRoots {
    std::string Home;
    // The user's configuration folder (XDG_CONFIG_HOME or ~/.config).
    std::string ConfigHome;
    // The program search path, as PATH holds it.
    std::string SearchPath;
    // Places where browsers install outside the search path.
    std::vector<std::string> UsualPrograms;
    // Flatpak's system-wide and per-user installation folders.
    std::vector<std::string> FlatpakRoots;
    std::string SnapRoot;
    std::string Proc;
    // Firefox profile folders (program form) and whether a Firefox runs on one.
    std::function<std::vector<std::string>()> FirefoxProfiles;
    std::function<bool(const std::string&)> ProfileInUse;
};

// The roots of this system, for the environment env.
TBrowserRoots SystemBrowserRoots(const EnvLookup& env = SystemGetenv);

// Chromium-based browsers by their programs and profile folders, Firefox
// profiles by the user's "profiles.ini" files, Flatpak and Snap installs by
// their folders, running browsers by /proc.
class LinuxBrowserInventory : public IBrowserInventory {
  public:
    explicit LinuxBrowserInventory(TBrowserRoots roots = SystemBrowserRoots());

    std::vector<TInstalledBrowser> Installed() const override;
    std::vector<TRunningBrowser> Running(std::uint16_t gatewayPort) const override;

  private:
    bool ProgramFound(const std::vector<std::string>& names) const;

    TBrowserRoots FRoots;
};

// The product a process of that name or program file belongs to ("Chromium",
// "Firefox"); empty for any other program.
std::string BrowserOfProcess(std::string_view comm, std::string_view exe);

}  // namespace cloakline
