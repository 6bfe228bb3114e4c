#include "core/framework/KTEngineUrls.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/support/PathUtils.h"
#include "core/support/TextEncoding.h"
#include "core/support/TextUtils.h"
#include "core/support/UrlUtils.h"

namespace cloakline {

namespace {

constexpr std::int64_t kMsPerDay = 86400000;
constexpr std::string_view kExePath = "%exepath%";

std::string Hex8(std::uint32_t value) {
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8) {
        AppendHexByte(out, static_cast<std::uint8_t>(value >> shift));
    }
    return out;
}

void AddParam(std::string& out, std::string_view name, std::string_view value) {
    out += '&';
    out += name;
    out += '=';
    out += FormEncode(value);
}

TStringList SortedFiles(const TStringList& files) {
    std::vector<std::string> lines = files.Lines();
    std::sort(lines.begin(), lines.end(),
              [](const std::string& a, const std::string& b) { return CompareTextAscii(a, b) < 0; });
    TStringList sorted;
    for (std::string& line : lines) {
        sorted.Add(std::move(line));
    }
    return sorted;
}

}  // namespace

std::string TimeToken(TDateTime now) {
    const double fraction = now - std::floor(now);
    std::int64_t msOfDay = std::llround(fraction * static_cast<double>(kMsPerDay));
    if (msOfDay >= kMsPerDay || msOfDay < 0) {
        msOfDay = 0;
    }
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02d%03d", static_cast<int>((msOfDay / 1000) % 60),
                  static_cast<int>(msOfDay % 1000));
    return buffer;
}

std::string SalesChannelName(const std::optional<std::string>& raw) {
    if (!raw) {
        return "unknow";
    }
    std::string name;
    for (const char c : *raw) {
        if (c != '"') {
            name += c;
        }
    }
    if (const std::size_t cut = name.find_last_of("\\:"); cut != std::string::npos) {
        name.erase(0, cut + 1);
    }
    return name;
}

std::string SystemVersionText(std::uint32_t major, std::uint32_t minor, std::string_view servicePack) {
    return std::to_string(major) + "_" + std::to_string(minor) + "_" + std::string(servicePack);
}

std::string BuildURLParam(TKTSettings& settings, const TURLSystemValues& system) {
    std::string out = TimeToken(system.Now);
    std::string pid = settings.GetSettingString("App.PID");
    if (pid.empty()) {
        pid = settings.GetSettingString("App.MagicWord");
    }
    AddParam(out, "PID", pid);
    AddParam(out, "LANG", settings.GetSettingString("Language"));
    AddParam(out, "DAY", std::to_string(settings.GetRunDays()));
    AddParam(out, "RUNTIME", std::to_string(settings.RunTimes()));
    AddParam(out, "VER", Hex8(VersionToInt(settings.GetSettingString("App.Ver"))));
    AddParam(out, "SVER", std::to_string(settings.GetSettingInteger("App.SubVer")));
    AddParam(out, "WVER", SystemVersionText(system.VersionMajor, system.VersionMinor, system.ServicePack));
    AddParam(out, "WLANG", std::to_string(system.LanguageId));
    AddParam(out, "CHL", TextToHex(SalesChannelName(system.Channel)));
    return out;
}

std::string ReplaceExePath(std::string_view text, std::string_view appDir) {
    const std::string lower = AsciiLowerCase(text);
    std::string out;
    std::size_t from = 0;
    for (std::size_t at = lower.find(kExePath); at != std::string::npos; at = lower.find(kExePath, from)) {
        out.append(text.substr(from, at - from));
        out.append(appDir);
        from = at + kExePath.size();
    }
    out.append(text.substr(from));
    return out;
}

std::string BuildPageURL(TKTSettings& settings,
                         std::string_view strPage,
                         bool bAddParams,
                         std::string_view appDir,
                         const std::function<std::string()>& urlParam) {
    std::string url = settings.GetSettingString("URL." + std::string(strPage));
    if (!TrimText(url).empty()) {
        url = ReplaceExePath(url, appDir);
    } else {
        url = settings.GetSettingString("URL.Redirect");
    }
    if (bAddParams && StartsWithText(url, "http")) {
        return AppendURLParams(url, "ACTION=" + std::string(strPage) + "&" + (urlParam ? urlParam() : ""));
    }
    return url;
}

std::optional<std::string> QvtxCommandPage(std::string_view url) {
    if (!StartsWithText(url, kQvtxScheme)) {
        return std::nullopt;
    }
    TStringList params;
    ParseURLParams(url, params);
    return params.Value("PAGE");
}

std::string BuildAppTitle(std::string_view appName, bool includeVer, std::string_view version) {
    std::string title(appName);
    if (includeVer) {
        title += "  ";
        title += version;
    }
    return title;
}

std::string MessageTextOrKey(std::string_view found, std::string_view name, bool bLib) {
    if (!found.empty()) {
        return std::string(found);
    }
    return (bLib ? "[LibRes]" : "[AppRes]") + std::string(name);
}

bool SessionEndingAt(bool queried, std::uint32_t queryTick, std::uint32_t nowTick) {
    return queried && static_cast<std::uint32_t>(nowTick - queryTick) < kSessionEndingWindowMs;
}

TStringList BuildSkinNameList(const TStringList& files) {
    TStringList names{"Default"};
    for (const std::string& file : SortedFiles(files)) {
        std::string name = ExtractBaseName(ExtractBaseName(file));
        if (!SameTextAscii(name, "Default")) {
            names.Add(std::move(name));
        }
    }
    return names;
}

TStringList BuildLanguageNameList(const TStringList& files) {
    TStringList names{"English"};
    for (const std::string& file : SortedFiles(files)) {
        std::string name = ExtractBaseName(file);
        if (!SameTextAscii(name, "English")) {
            names.Add(std::move(name));
        }
    }
    return names;
}

}  // namespace cloakline
