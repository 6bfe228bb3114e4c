#include <gtest/gtest.h>

#include "core/framework/KTSettings.h"
#include "core/proxy/SHRUtils.h"
#include "journal/RestoreJournal.h"
#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/LinuxProxySettingsRecorder.h"
#include "tests/journal/UsersDesktop.h"

namespace cloakline {
namespace {

class DesktopRoundTripTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!User.SetUpGnome()) {
            GTEST_SKIP() << "needs gsettings and the GNOME desktop schemas";
        }
        User.Desktop.Dir.WriteFile("policies/b/" + std::string(kChromiumPolicyFileName), "{\"user\": 1}\n");
        User.Desktop.Dir.Sub("policies/a/.keep");
    }

    // In a child with the desktop's environment: record, Hide through the
    // program's switches, what happens while hiding, and the Stop's restore.
    std::optional<int> HideAndStop(const std::function<void()>& whileHiding) {
        const std::string policies = User.Desktop.Dir.Path() + "/policies/";
        const std::string journalPath = User.Desktop.Dir.ProgramPath("data\\restore.journal");
        return User.Desktop.InChild([&] {
            LinuxFileSystem files;
            LinuxProxySettingsRecorder recorder(SystemGetenv, {policies + "a", policies + "b"},
                                                [](const std::string&) { return false; });
            TRestoreJournal journal(files, recorder, journalPath);
            if (!journal.RecordBeforeChange()) {
                return 1;
            }
            auto system = CreateSystemPlatform();
            TKTSettings settings(*system, "");
            for (const char* name : {"SWITCH.IE", "SWITCH.FF", "SWITCH.OPERA"}) {
                settings.SetSettingBool(name, true);
            }
            const TSwitchReport report = SwitchAllBrowsers({settings, *system}, "1.2.3.4:8080");
            if (!report.Failed.empty() || !report.AnySwitched) {
                return 2;
            }
            whileHiding();
            if (!journal.RestoreAndRemove()) {
                return 3;
            }
            return journal.Exists() ? 4 : 0;
        });
    }

    test::UsersDesktop User;
};

TEST_F(DesktopRoundTripTest, StopPutsBackExactlyWhatTheUserHad) {
    const auto gnomeBefore = User.GnomeValues();
    const std::string listedBefore = User.Desktop.GSettingsGet("org.gnome.system.proxy", "mode");
    test::TempDir& dir = User.Desktop.Dir;
    const std::string policyFile = "policies/a/" + std::string(kChromiumPolicyFileName);
    const std::string userPolicy = "policies/b/" + std::string(kChromiumPolicyFileName);

    ASSERT_EQ(HideAndStop([&] {
                  // The leak guard's policy, and a Firefox that ran while
                  // hiding: it dropped the user's type from prefs.js, as it
                  // does for a value user.js sets to the default.
                  dir.WriteFile(policyFile, "{\"WebRtcIPHandlingPolicy\": \"disable_non_proxied_udp\"}\n");
                  dir.WriteFile(userPolicy, "{}\n");
                  dir.WriteFile(
                      test::UsersDesktop::kPrefsJs,
                      "// Mozilla User Preferences\n\nuser_pref(\"network.proxy.http\", \"web.corp\");\n");
              }),
              0);

    EXPECT_EQ(User.GnomeValues(), gnomeBefore) << User.Desktop.KeyFile();
    EXPECT_EQ(User.Desktop.GSettingsGet("org.gnome.system.proxy", "mode"), "'auto'\n");
    EXPECT_EQ(listedBefore, "'auto'\n");
    EXPECT_EQ(User.Desktop.GSettingsGet("org.gnome.system.proxy.https", "port"), "0\n") << "default again";
    EXPECT_FALSE(dir.Exists(test::UsersDesktop::kKioslaverc)) << "the file Hide made is gone";
    EXPECT_EQ(dir.ReadFile(test::UsersDesktop::kOperaPrefs), test::UsersDesktop::kOperaStart);
    EXPECT_EQ(dir.ReadFile(test::UsersDesktop::kUserJs), test::UsersDesktop::kUserJsStart);
    const std::string prefs = dir.ReadFile(test::UsersDesktop::kPrefsJs);
    EXPECT_NE(prefs.find("user_pref(\"network.proxy.type\", 1);\n"), std::string::npos)
        << "the manual proxy given back: " << prefs;
    EXPECT_NE(prefs.find("user_pref(\"network.proxy.http\", \"web.corp\");\n"), std::string::npos) << prefs;
    EXPECT_FALSE(dir.Exists(policyFile));
    EXPECT_EQ(dir.ReadFile(userPolicy), "{\"user\": 1}\n");
}

TEST_F(DesktopRoundTripTest, OtherChangesWhileHidingAreKept) {
    test::TempDir& dir = User.Desktop.Dir;
    ASSERT_EQ(HideAndStop([&] {
                  // Another program adds to kioslaverc and to Opera's other sections.
                  std::string kde = dir.ReadFile(test::UsersDesktop::kKioslaverc);
                  dir.WriteFile(test::UsersDesktop::kKioslaverc, "[Cache]\nSize=5\n\n" + kde);
                  dir.WriteFile(test::UsersDesktop::kOperaPrefs,
                                dir.ReadFile(test::UsersDesktop::kOperaPrefs) + "\r\n[New]\r\nZ=1\r\n");
              }),
              0);
    EXPECT_EQ(dir.ReadFile(test::UsersDesktop::kKioslaverc), "[Cache]\nSize=5\n\n");
    EXPECT_EQ(dir.ReadFile(test::UsersDesktop::kOperaPrefs),
              test::UsersDesktop::kOperaStart + "\r\n[New]\r\nZ=1\r\n");
}

}  // namespace
}  // namespace cloakline
