#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/framework/KTSettings.h"
#include "core/support/StringList.h"
#include "core/support/Types.h"

namespace cloakline {

// The engine's portable rules: page addresses and their standard parameters,
// the "qvtx:" commands of embedded pages, the title, named-string fall-backs,
// the skin and language lists and the end-session window.

inline constexpr std::string_view kQvtxScheme = "qvtx:";

// What the system tells about itself for the parameters.
struct TURLSystemValues {
    TDateTime Now = 0.0;  // local time
    std::uint32_t VersionMajor = 0;
    std::uint32_t VersionMinor = 0;
    std::string ServicePack;
    std::uint16_t LanguageId = 0;
    // The raw sales-channel value; nullopt when there is none.
    std::optional<std::string> Channel;
};

// Seconds (2 digits) and milliseconds (3 digits) of the local time.
std::string TimeToken(TDateTime now);

// The channel value without double quotes and without anything up to the
// last "\" or ":"; "unknow" when there is no value.
std::string SalesChannelName(const std::optional<std::string>& raw);

// "major_minor_servicepack".
std::string SystemVersionText(std::uint32_t major, std::uint32_t minor, std::string_view servicePack);

// The parameter text: time token, then PID, LANG, DAY, RUNTIME, VER, SVER,
// WVER, WLANG, CHL, each value form-encoded.
std::string BuildURLParam(TKTSettings& settings, const TURLSystemValues& system);

// Every "%exepath%" (any letter case) replaced by appDir.
std::string ReplaceExePath(std::string_view text, std::string_view appDir);

// The address of a page: "URL." + page, or "URL.Redirect" when that is blank;
// http(s) addresses get "ACTION=" + page and the parameters when asked.
std::string BuildPageURL(TKTSettings& settings,
                         std::string_view strPage,
                         bool bAddParams,
                         std::string_view appDir,
                         const std::function<std::string()>& urlParam);

// nullopt when url is not a "qvtx:" command (any letter case); otherwise the
// value of its PAGE parameter, empty when it has none.
std::optional<std::string> QvtxCommandPage(std::string_view url);

// name, then two spaces and the version when includeVer.
std::string BuildAppTitle(std::string_view appName, bool includeVer, std::string_view version);

// The text of a named string for a message box: the string itself, or
// "[LibRes]" / "[AppRes]" + name when it is missing.
std::string MessageTextOrKey(std::string_view found, std::string_view name, bool bLib);

// An end-session query arrived at queryTick and fewer than five minutes have
// passed by nowTick, with 32-bit wrap-around.
inline constexpr std::uint32_t kSessionEndingWindowMs = 300000;
bool SessionEndingAt(bool queried, std::uint32_t queryTick, std::uint32_t nowTick);

// Skin names from the "*.skn" files found (with their folder): "Default",
// then each file's name without its last two extensions, sorted without
// regard to case, "Default" itself left out.
TStringList BuildSkinNameList(const TStringList& files);
// Language names from the "*.lan" files: "English", then each base name, sorted,
// "English" left out.
TStringList BuildLanguageNameList(const TStringList& files);

}  // namespace cloakline
