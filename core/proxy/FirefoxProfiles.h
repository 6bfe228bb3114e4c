#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/proxy/ProxyText.h"

namespace cloakline {

// Firefox keeps its proxy in each profile's preferences. A profile's
// "user.js" is read at every start and wins over what the user chose in the
// browser, so the program keeps one delimited block of it for itself.

inline constexpr std::string_view kFirefoxUserJs = "user.js";
inline constexpr std::string_view kFirefoxProfilesIni = "profiles.ini";

// The block: a manual proxy for HTTP, SSL and FTP with no exceptions, or a
// direct connection (with the addresses emptied) for nullopt.
std::string FirefoxUserJsBlock(const std::optional<TProxyEndpoint>& proxy, std::string_view lineBreak);

// userJs without any block of ours (a block whose end line went missing ends
// at its last proxy preference), with the new block appended last so that it
// wins over earlier lines. The user's own lines and line breaks are kept.
std::string ReplaceFirefoxUserJsBlock(std::string_view userJs, const std::optional<TProxyEndpoint>& proxy);

// The profile folders that a "profiles.ini" lists, in program form. Like
// Firefox, the list ends at the first "Profile<N>" section without
// "IsRelative", and a profile without "Path" is skipped. IsRelative=1 paths
// are taken from iniFolder (program form, no trailing "\").
std::vector<std::string> FirefoxProfileFolders(std::string_view profilesIni, std::string_view iniFolder);

}  // namespace cloakline
