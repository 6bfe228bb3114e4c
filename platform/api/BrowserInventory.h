#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cloakline {

// How a browser found on the machine takes the proxy.
enum class TBrowserKind {
    ChromiumBased,   // follows the desktop's proxy settings
    FirefoxProfile,  // one profile of a Firefox that follows the desktop's settings
    Flatpak,         // a sandboxed install that cannot see the desktop's settings
    Snap,
};

struct TInstalledBrowser {
    TBrowserKind Kind = TBrowserKind::ChromiumBased;
    // Chromium-based: the product's name ("Chromium", "Google Chrome").
    // Firefox: the profile folder's name. Flatpak: the application id
    // ("org.chromium.Chromium"). Snap: the snap's name.
    std::string Name;
    // Firefox: the user had set the profile to a proxy configuration of its
    // own, so it follows the desktop only from Firefox's next start.
    bool OwnProxySetting = false;
    // Firefox: a Firefox runs on the profile now.
    bool InUse = false;

    friend bool operator==(const TInstalledBrowser&, const TInstalledBrowser&) = default;
};

// A browser that runs now, all its processes together.
struct TRunningBrowser {
    // The product's name, as TInstalledBrowser names Chromium-based browsers;
    // "Firefox" for every Firefox.
    std::string Name;
    // Its open connections to the local gateway.
    int GatewayConnections = 0;

    friend bool operator==(const TRunningBrowser&, const TRunningBrowser&) = default;
};

// The browsers of this user's machine and what they do now.
class IBrowserInventory {
  public:
    virtual ~IBrowserInventory() = default;
    // Every browser found: programs, profile folders, sandboxed installs.
    virtual std::vector<TInstalledBrowser> Installed() const = 0;
    // The browsers of this user that run now, with their connections to
    // 127.0.0.1:gatewayPort (0: none counted).
    virtual std::vector<TRunningBrowser> Running(std::uint16_t gatewayPort) const = 0;
};

// A browser policy that keeps Chromium-based browsers' WebRTC on the proxy
// (no UDP that bypasses it) while hiding.
class IChromiumPolicy {
  public:
    virtual ~IChromiumPolicy() = default;
    // Writes the policy while hiding, takes it away otherwise. True when
    // every place the policy belongs to holds what was asked.
    virtual bool Apply(bool hiding) = 0;
    // The policy is written now.
    virtual bool Applied() const = 0;
};

}  // namespace cloakline
