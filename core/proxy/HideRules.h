#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/proxy/ProxyManager.h"
#include "core/support/Types.h"

namespace cloakline {

// The timing and display decisions of hiding, apart from any window.

// Hide and Stop are refused less than one whole second after the previous one.
bool ActionTooFast(TDateTime now, TDateTime lastAction);
// The timed change is due once changeMinutes whole minutes have passed; zero
// or fewer minutes make every tick due.
bool ChangeIPDue(TDateTime now, TDateTime lastChange, std::int32_t changeMinutes);
// A super proxy is touched again once more than 30 whole minutes have passed.
bool TouchDue(TDateTime now, TDateTime lastTouch, bool isSuper);
inline constexpr std::int32_t kTouchMinutes = 30;

// A choice the browsers can be pointed at: an address and a well-formed
// host:port. The proxy manager answers an empty record when it has nothing.
bool IsUsableProxyChoice(const TProxyRec& choice);

// 0x00BBGGRR colours of the panel's status line.
inline constexpr std::uint32_t kReadyTextColor = 0xFF0000;
// Grey for the one product whose panel is dark, else black.
std::uint32_t HidingTextColor(std::string_view productId);
// White for the one product whose panel is dark, else black.
std::uint32_t StartTextColor(std::string_view appName);

// The program refuses to serve a user whose local address lies in this country.
bool IsRefusedLocalCountry(std::string_view countryShort);

// Where the picture of a proxy's country is shown from: the shipped flag
// folder (appPath + localFlagFolder), else the downloaded flags of the user
// data folder, else the server's address. A code that is not plain letters
// and digits names no file and gets no picture (empty).
std::string TargetFlagReference(std::string_view appPath,
                                std::string_view localFlagFolder,
                                std::string_view userDataPath,
                                std::string_view serverFlagPrefix,
                                std::string_view code,
                                const std::function<bool(const std::string&)>& fileExists);
// The local card's picture: the shipped flag, else the server's address.
std::string LocalFlagReference(std::string_view appPath,
                               std::string_view localFlagFolder,
                               std::string_view serverFlagPrefix,
                               std::string_view code,
                               const std::function<bool(const std::string&)>& fileExists);

// The small flag of the fake location: a shipped file, a downloaded file, or
// a download of the server's picture into the user data folder.
struct TSmallFlagSource {
    enum class TKind { None, File, Download } Kind = TKind::None;
    std::string Path;  // the file to show, or where the download goes
    std::string URL;   // what to download
};
TSmallFlagSource SmallFlagSource(std::string_view appPath,
                                 std::string_view userDataPath,
                                 std::string_view serverFlagPrefix,
                                 std::string_view code,
                                 const std::function<bool(const std::string&)>& fileExists);

// Where a card's flag that is given as a server address is kept once it has
// been fetched: the user data folder, under the code the address ends with
// and ".PNG", where the other flag lookups find downloaded flags. Empty for
// a reference that is not an address ("scheme://...") or that does not end
// in a plain code and ".png" (any letter case), so no address can name a
// file elsewhere.
std::string DownloadedFlagFile(std::string_view userDataPath, std::string_view flagAddress);

}  // namespace cloakline
