#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cloakline {

// Firefox on Linux follows the desktop's proxy settings while a profile's
// "network.proxy.type" is 5 (its default there), and picks their changes up
// while it runs. So the proxy itself is never written into a profile; only a
// profile that the user set to something else is pointed at the desktop
// while hiding, through one delimited block of "user.js" (read at every
// start, after "prefs.js"). Firefox copies what "user.js" sets into
// "prefs.js", and drops a user value that equals the default, so the block
// also remembers what it must give back or clean up there.

inline constexpr std::string_view kFirefoxUserJs = "user.js";
inline constexpr std::string_view kFirefoxPrefsJs = "prefs.js";
inline constexpr std::string_view kFirefoxProfilesIni = "profiles.ini";
// Firefox's "use system proxy settings".
inline constexpr int kFirefoxSystemProxyType = 5;

// A profile's two preference files, as read or as they should be written.
struct TFirefoxPrefFiles {
    std::string PrefsJs;
    std::string UserJs;

    friend bool operator==(const TFirefoxPrefFiles&, const TFirefoxPrefFiles&) = default;
};

// The files after a switch. hiding: the desktop now carries a proxy (false
// for a Stop). inUse: a Firefox runs on the profile, so "prefs.js" is left
// alone (that Firefox writes it again at its end) and what is still to be
// done there is kept in the block for a later switch.
// - No block at all after a Stop, unless something is still to be done.
// - A block with type 5 while hiding when the own setting is another.
// - Blocks that earlier versions wrote (a fixed proxy or "no proxy") are
//   removed, and the values Firefox copied from them into "prefs.js" too.
// - A Stop gives the user's own type back to "prefs.js" when Firefox dropped it.
// - While hiding, every profile's block also carries the leak guard (WebRTC
//   only through the proxy, remote DNS for SOCKS), from Firefox's next start.
//   A Stop takes out of "prefs.js" what Firefox copied from it, keeping the
//   user's own values; while Firefox runs, the block gives them back at its
//   next start and the cleaning waits for a later switch.
// The user's own lines of both files are kept as they are.
TFirefoxPrefFiles SwitchFirefoxPrefFiles(const TFirefoxPrefFiles& files, bool hiding, bool inUse);

// The proxy type the profile has without us: the user's own lines of
// "user.js", else of "prefs.js", else what our block recorded of them.
int FirefoxOwnProxyType(const TFirefoxPrefFiles& files);

// user.js holds a block of ours (something is pointed at the desktop, or
// still to be given back).
bool HasFirefoxProxyBlock(std::string_view userJs);

// The profile folders that a "profiles.ini" lists, in program form. Like
// Firefox, the list ends at the first "Profile<N>" section without
// "IsRelative", and a profile without "Path" is skipped. IsRelative=1 paths
// are taken from iniFolder (program form, no trailing "\").
std::vector<std::string> FirefoxProfileFolders(std::string_view profilesIni, std::string_view iniFolder);

}  // namespace cloakline
