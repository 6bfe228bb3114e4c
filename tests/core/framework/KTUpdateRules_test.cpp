#include "core/framework/KTUpdateRules.h"

#include <gtest/gtest.h>

#include <string>

#include "core/framework/DebugLog.h"
#include "core/support/DateTimeUtils.h"
#include "tests/core/framework/SettingsTestPlatform.h"
#include "tests/support/RecordingLogSink.h"

namespace cloakline::test {
namespace {

constexpr TDateTime kNow = 45429.0 + 13.0 / 24.0;

TEST(UpdateAnswerTest, PushesBannerAndModifyLinesInOrderInAnyCase) {
    const TUpdateAnswer a = ReadUpdateAnswer(
        "MagicWord=Secret\r\nbanner.Main.URL=x\nResult=1\rinfo=New: 2.0\r\npage=http://h/d?a=b\r\n"
        "__modify__.Update.Days=7\r\n__MODIFY__.NORMAL_IPS=1.2.3.4:80,US\r\nother=ignored\r\n",
        "secret");
    ASSERT_TRUE(a.Accepted);
    EXPECT_EQ(a.Result, kUpdateNewVersion);
    EXPECT_EQ(a.Info, "New: 2.0");
    EXPECT_EQ(a.Page, "http://h/d?a=b") << "the value runs from the first \"=\" on";
    EXPECT_EQ(a.Pushes,
              (std::vector<TSettingPush>{
                  {"banner.Main.URL", "x"}, {"Update.Days", "7"}, {"NORMAL_IPS", "1.2.3.4:80,US"}}));
    EXPECT_TRUE(a.Refused.empty());
}

TEST(UpdateAnswerTest, ResultReadsAsAWholeNumberWithLatestByDefault) {
    EXPECT_EQ(ReadUpdateAnswer("magicword=w", "w").Result, kUpdateLatest);
    EXPECT_EQ(ReadUpdateAnswer("magicword=w\nResult=yes", "w").Result, kUpdateLatest);
    EXPECT_EQ(ReadUpdateAnswer("magicword=w\nResult=2\nResult=1", "w").Result, 2) << "the first line counts";
}

TEST(UpdateAnswerTest, OnlyAnAnswerWithTheWordWithinTheLimitsIsAccepted) {
    EXPECT_FALSE(ReadUpdateAnswer("magicword=other\n__MODIFY__.Update.Days=7", "w").Accepted);
    EXPECT_FALSE(ReadUpdateAnswer("Result=1\ninfo=x", "").Accepted)
        << "no word at all, even for an empty one";
    const TUpdateAnswer wrong = ReadUpdateAnswer("magicword=other\nBanner.A=1", "w");
    EXPECT_TRUE(wrong.Pushes.empty());

    std::string lines = "magicword=w\n";
    for (std::size_t i = 1; i < kMaxUpdateAnswerLines; ++i) {
        lines += "Banner.L=1\n";
    }
    EXPECT_TRUE(ReadUpdateAnswer(lines, "w").Accepted);
    EXPECT_FALSE(ReadUpdateAnswer(lines + "Banner.L=1\n", "w").Accepted);

    const std::string head = "magicword=w\n__MODIFY__.NORMAL_IPS=";
    const std::string full = head + std::string(kMaxUpdateAnswerBytes - head.size(), 'a');
    EXPECT_TRUE(ReadUpdateAnswer(full, "w").Accepted);
    EXPECT_FALSE(ReadUpdateAnswer(full + "a", "w").Accepted);
}

TEST(UpdateAnswerTest, SettingsThatNameProgramsFilesFoldersOrTheInstallationAreNeverPushed) {
    for (const char* name : {"FireFoxPath", "firefoxpath", " FireFoxPath ", "Path.Skins", "path.languages",
                             "Path.", "URL.LocalFlagPath", "FLS.Background", "FLS.Logo", "App.ConfigPath",
                             "App.GUID", "App.ID", "App.MagicWord", "Setting.NoAllUser", "", "  "}) {
        EXPECT_TRUE(IsProtectedFromUpdate(name)) << "'" << name << "'";
    }
    for (const char* name :
         {"Update.Days", "NORMAL_IPS", "URL.Update", "Banner.Path.X", "FireFoxPath2", "PathX", "Skin"}) {
        EXPECT_FALSE(IsProtectedFromUpdate(name)) << name;
    }
    const TUpdateAnswer a =
        ReadUpdateAnswer("magicword=w\n__MODIFY__.FireFoxPath=/tmp/evil\n__MODIFY__.Update.Days=2\n", "w");
    EXPECT_EQ(a.Refused, std::vector<std::string>{"__MODIFY__.FireFoxPath=/tmp/evil"});
    EXPECT_EQ(a.Pushes, (std::vector<TSettingPush>{{"Update.Days", "2"}}));
}

TEST(UpdateAnswerTest, TheAutostartStartUpAndDebugSwitchesAndPathLikeItemNamesAreNeverPushed) {
    for (const char* name : {"App.Name", "AutoRun", "autorun", "App.Autorun", "App.Multiple", "Debug.Enabled",
                             "debug.disabled"}) {
        EXPECT_TRUE(IsProtectedFromUpdate(name)) << name;
    }
    const TUpdateAnswer a = ReadUpdateAnswer(
        "magicword=w\n__MODIFY__.Skin=..\\..\\..\\tmp\\x\n__MODIFY__.Language=/etc/x\n"
        "__MODIFY__.Language.Force=C:x\n__MODIFY__.skin=a..b\n__MODIFY__.App.Name=firefox\n"
        "__MODIFY__.Debug.Enabled=1\n__MODIFY__.Skin=Dark\n__MODIFY__.Language=Deutsch (Schweiz)\n"
        "__MODIFY__.Language.Force=\n",
        "w");
    EXPECT_EQ(a.Refused.size(), 6u);
    EXPECT_EQ(a.Pushes, (std::vector<TSettingPush>{
                            {"Skin", "Dark"}, {"Language", "Deutsch (Schweiz)"}, {"Language.Force", ""}}))
        << "plain names, and an empty one that brings the default back, still pass";
}

TEST(UpdateAnswerTest, AnAcceptedAnswerIsSavedOnceAndCountedAndRefusalsAreLogged) {
    SettingsTestPlatform env;
    env.WriteConst("[setting]\r\nUpdate.Times=4\r\nFireFoxPath=/usr/bin/firefox\r\n");
    TKTSettings settings(env.P, "");
    const auto saves = [&] {
        int count = 0;
        for (const auto& [path, n] : env.Files->Replacements) {
            count += n;
        }
        return count;
    };
    const int savesBefore = saves();
    {
        ScopedLogCapture log;

        ApplyUpdateAnswer(ReadUpdateAnswer("magicword=w\n__MODIFY__.FireFoxPath=/tmp/evil\nBanner.A=1\n"
                                           "__MODIFY__.Update.Days=7\n",
                                           "w"),
                          settings);
        EXPECT_TRUE(log.Sink->Contains("Update Refused : __MODIFY__.FireFoxPath=/tmp/evil", "KTUpdate"));
    }
    EXPECT_EQ(saves() - savesBefore, 1) << "one save for the whole answer";
    TKTSettings reread(env.P, "");
    EXPECT_EQ(reread.GetSettingString("Banner.A"), "1");
    EXPECT_EQ(reread.GetSettingInteger("Update.Days"), 7);
    EXPECT_EQ(reread.GetSettingInteger("Update.Times"), 5);
    EXPECT_EQ(reread.GetSettingString("FireFoxPath"), "/usr/bin/firefox");

    ApplyUpdateAnswer(ReadUpdateAnswer("magicword=x\nBanner.B=1", "w"), settings);
    EXPECT_EQ(settings.GetSettingInteger("Update.Times"), 5) << "a rejected answer is no contact";
    EXPECT_FALSE(settings.GetSettingExists("Banner.B"));
}

TEST(UpdateScheduleTest, WholeDaysSinceTheLastAnswerEitherWayRound) {
    EXPECT_TRUE(UpdateCheckDue(kNow, kNow - 3.0, 3));
    EXPECT_FALSE(UpdateCheckDue(kNow, kNow - 3.0 + 1.0 / 24.0, 3)) << "2 days 23 hours";
    EXPECT_TRUE(UpdateCheckDue(kNow, kNow + 3.5, 3)) << "a clock set back";
    EXPECT_TRUE(UpdateCheckDue(kNow, kNow, 0)) << "0: at every start";
    EXPECT_TRUE(UpdateCheckDue(kNow, 0.0, 3)) << "never checked";

    EXPECT_TRUE(ReportAutomaticCheck(true, false, 1));
    EXPECT_FALSE(ReportAutomaticCheck(true, false, 0)) << "the very first start";
    EXPECT_FALSE(ReportAutomaticCheck(true, true, 3));
    EXPECT_FALSE(ReportAutomaticCheck(false, false, 3));
}

TEST(UpdateScheduleTest, CountdownCountsWholeSecondsOfAtLeastFive) {
    EXPECT_EQ(UpdateDelaySeconds(2), 5);
    EXPECT_EQ(UpdateDelaySeconds(-1), 5);
    EXPECT_EQ(UpdateDelaySeconds(9), 9);

    // Seconds added one at a time as fractions of a day still count in full.
    TDateTime t = kNow;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(CountdownLeft(kNow, t, 5), 5 - i);
        t += 1.0 / 86400.0;
    }
    EXPECT_EQ(CountdownLeft(kNow, t, 5), 0);
    EXPECT_EQ(SecondsBetween(kNow, kNow + 0.999 / 86400.0), 0);
    EXPECT_EQ(DaysBetween(kNow - 2.0, kNow), 2);
}

}  // namespace
}  // namespace cloakline::test
