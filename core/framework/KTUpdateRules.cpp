#include "core/framework/KTUpdateRules.h"

#include <algorithm>
#include <array>

#include "core/framework/DebugLog.h"
#include "core/support/DateTimeUtils.h"
#include "core/support/PathUtils.h"
#include "core/support/StringList.h"
#include "core/support/TextEncoding.h"
#include "core/support/TextUtils.h"

namespace cloakline {

namespace {

// Names that lead to programs, files or folders, or say who the
// installation is; the autostart entry and the program's own start-up rules;
// and the debug switches (a debug log holds whole answers, magic word and all).
constexpr std::array<std::string_view, 15> kProtectedNames = {
    "FireFoxPath",  "URL.LocalFlagPath", "FLS.Background",    "FLS.Logo", "App.ConfigPath", "App.GUID",
    "App.ID",       "App.MagicWord",     "Setting.NoAllUser", "App.Name", "AutoRun",        "App.Autorun",
    "App.Multiple", "Debug.Enabled",     "Debug.Disabled",
};
constexpr std::string_view kProtectedPrefix = "Path.";
// Settings whose value becomes a file name inside a folder of the program.
constexpr std::array<std::string_view, 3> kItemNameSettings = {"Skin", "Language", "Language.Force"};

}  // namespace

bool IsProtectedFromUpdate(std::string_view settingName) {
    // The store trims names as it writes them, so " FireFoxPath" is FireFoxPath.
    const std::string_view name = TrimText(settingName);
    if (name.empty() || StartsWithText(name, kProtectedPrefix)) {
        return true;
    }
    return std::any_of(kProtectedNames.begin(), kProtectedNames.end(),
                       [name](std::string_view p) { return SameTextAscii(name, p); });
}

bool IsRefusedUpdatePush(std::string_view settingName, std::string_view value) {
    if (IsProtectedFromUpdate(settingName)) {
        return true;
    }
    const std::string_view name = TrimText(settingName);
    const bool itemName = std::any_of(kItemNameSettings.begin(), kItemNameSettings.end(),
                                      [name](std::string_view p) { return SameTextAscii(name, p); });
    // The store trims values too; an empty one only brings the default back.
    const std::string_view trimmed = TrimText(value);
    return itemName && !trimmed.empty() && !IsPlainItemName(trimmed);
}

TUpdateAnswer ReadUpdateAnswer(std::string_view answer, std::string_view magicWord) {
    TUpdateAnswer out;
    if (answer.size() > kMaxUpdateAnswerBytes) {
        return out;
    }
    TStringList lines;
    lines.SetText(answer);
    if (lines.Count() > kMaxUpdateAnswerLines) {
        return out;
    }
    // An answer that does not say the word at all is as foreign as a wrong one.
    if (!lines.HasName("magicword") || !SameTextAscii(lines.Value("magicword"), magicWord)) {
        return out;
    }
    out.Accepted = true;
    for (const std::string& line : lines) {
        const std::string name = TStringList::NameOf(line);
        if (StartsWithText(name, kBannerPrefix)) {
            out.Pushes.push_back({name, TStringList::ValueOf(line)});
        } else if (StartsWithText(name, kModifyPrefix)) {
            std::string target = name.substr(kModifyPrefix.size());
            std::string value = TStringList::ValueOf(line);
            if (IsRefusedUpdatePush(target, value)) {
                out.Refused.push_back(line);
            } else {
                out.Pushes.push_back({std::move(target), std::move(value)});
            }
        }
    }
    out.Result = TextToIntDef(lines.Value("Result"), kUpdateLatest);
    out.Info = lines.Value("info");
    out.Page = lines.Value("page");
    return out;
}

void ApplyUpdateAnswer(const TUpdateAnswer& answer, TKTSettings& settings) {
    if (!answer.Accepted) {
        return;
    }
    for (const std::string& line : answer.Refused) {
        DebugLog::Log("Update Refused : " + line, kUpdateLogTag);
    }
    settings.BeginUpdate();
    for (const TSettingPush& push : answer.Pushes) {
        settings.SetSettingstring(push.Name, push.Value);
    }
    settings.SetSettingInteger("Update.Times", settings.GetSettingInteger("Update.Times") + 1);
    settings.EndUpdate();
}

bool UpdateCheckDue(TDateTime now, TDateTime lastDate, std::int32_t minDays) {
    return DaysBetween(now, lastDate) >= minDays;
}

bool ReportAutomaticCheck(bool autoCheck, bool noAutoCheck, std::int32_t runTimes) {
    return autoCheck && !noAutoCheck && runTimes > 0;
}

std::int32_t UpdateDelaySeconds(std::int32_t setting) {
    return std::max(setting, kMinUpdateDelaySeconds);
}

std::int64_t CountdownLeft(TDateTime start, TDateTime now, std::int32_t delay) {
    return static_cast<std::int64_t>(delay) - SecondsBetween(now, start);
}

}  // namespace cloakline
