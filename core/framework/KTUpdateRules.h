#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/framework/KTSettings.h"
#include "core/support/Types.h"

namespace cloakline {

// The rules of the update check: how the server's answer is read and what it
// may write, and when the automatic check is due.

// The page whose address the check asks for.
inline constexpr std::string_view kUpdatePage = "Update";
inline constexpr std::string_view kUpdateLogTag = "KTUpdate";
// Answer lines whose names begin so are written into the settings.
inline constexpr std::string_view kBannerPrefix = "Banner.";
inline constexpr std::string_view kModifyPrefix = "__MODIFY__.";
// An answer beyond either limit is no answer of our server; proxy lists in
// one line each stay far below them.
inline constexpr std::size_t kMaxUpdateAnswerBytes = 1u << 20;
inline constexpr std::size_t kMaxUpdateAnswerLines = 10'000;
// The self-closing result view counts down at least this long.
inline constexpr std::int32_t kMinUpdateDelaySeconds = 5;

// "Result" of an answer.
inline constexpr std::int32_t kUpdateLatest = 0;
inline constexpr std::int32_t kUpdateNewVersion = 1;

struct TSettingPush {
    std::string Name;
    std::string Value;
    friend bool operator==(const TSettingPush&, const TSettingPush&) = default;
};

struct TUpdateAnswer {
    // The magic word matched and the answer is within the limits; nothing
    // else below is filled in otherwise.
    bool Accepted = false;
    std::int32_t Result = kUpdateLatest;
    std::string Info;
    std::string Page;
    // Settings to write, in the answer's order.
    std::vector<TSettingPush> Pushes;
    // Lines that named a setting the server must not change.
    std::vector<std::string> Refused;
};

// Reads the server's name=value lines. magicWord is the installation's
// "App.MagicWord"; the answer must carry it under "magicword" (either case).
TUpdateAnswer ReadUpdateAnswer(std::string_view answer, std::string_view magicWord);

// Settings that name programs to run, files or folders to read, or who the
// installation is: an answer that could rewrite them could make the program
// run or read whatever it chose.
bool IsProtectedFromUpdate(std::string_view settingName);

// A protected setting, or a skin or language name ("Skin", "Language",
// "Language.Force") that is not a plain name and would open a file elsewhere.
bool IsRefusedUpdatePush(std::string_view settingName, std::string_view value);

// Writes the pushes of an accepted answer, saves the settings file once and
// counts the contact in "Update.Times". Refused lines go to the debug log.
void ApplyUpdateAnswer(const TUpdateAnswer& answer, TKTSettings& settings);

// The automatic check runs when at least minDays whole days have passed
// since the last answer (either way round: a clock set back counts too).
bool UpdateCheckDue(TDateTime now, TDateTime lastDate, std::int32_t minDays);

// The automatic check tells about a new version only to a user who asked for
// it, where that is allowed, and never at the very first start.
bool ReportAutomaticCheck(bool autoCheck, bool noAutoCheck, std::int32_t runTimes);

// The countdown length for the "Update.DelaySeconds" value.
std::int32_t UpdateDelaySeconds(std::int32_t setting);

// Seconds left of a delay-second countdown started at start; 0 or less once over.
std::int64_t CountdownLeft(TDateTime start, TDateTime now, std::int32_t delay);

}  // namespace cloakline
