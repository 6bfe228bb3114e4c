#include "core/proxy/SHRUtils.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/proxy/BrowserProxyTexts.h"
#include "tests/core/framework/SettingsTestPlatform.h"
#include "tests/support/RecordingBrowsers.h"

namespace cloakline::test {
namespace {

const std::vector<std::string> kBadTexts = {
    "1.2.3.4",
    "1.2.3.4:",
    ":8080",
    "host:port",
    "1.2.3.4:70000",
    "1.2.3.4:0",
    "a b:80",
    "h;x=1:80",
    "h\":80",
    "h\n:80",
    "h:80\r\n",
    std::string("h\0:80", 5),
    std::string(10000, 'a') + ":80",
};

class SwitchTest : public ::testing::Test {
  protected:
    SwitchTest() {
        auto system = std::make_unique<RecordingSystemProxy>();
        SystemProxy = system.get();
        Env.P.SystemProxy = std::move(system);
        auto firefox = std::make_unique<RecordingFirefox>();
        Firefox = firefox.get();
        Env.P.Firefox = std::move(firefox);
        auto opera = std::make_unique<FixedOperaPreferences>();
        Opera = opera.get();
        Env.P.Opera = std::move(opera);
    }

    TKTSettings& Settings() {
        if (!FSettings) {
            FSettings = std::make_unique<TKTSettings>(Env.P, "");
        }
        return *FSettings;
    }
    TSwitchServices With() { return TSwitchServices{Settings(), Env.P}; }
    void SwitchOn(const char* name) { Settings().SetSettingBool(name, true); }

    SettingsTestPlatform Env;
    RecordingSystemProxy* SystemProxy;
    RecordingFirefox* Firefox;
    FixedOperaPreferences* Opera;

  private:
    std::unique_ptr<TKTSettings> FSettings;
};

// Internet Explorer: the desktop's proxy.

TEST_F(SwitchTest, SystemProxyIsSetOnlyWhileItsSwitchIsOn) {
    SwitchOn("SWITCH.IE");
    EXPECT_TRUE(SwitchIEProxy(With(), "1.2.3.4:8080"));
    EXPECT_TRUE(SwitchIEProxy(With(), ""));
    Settings().SetSettingBool("SWITCH.IE", false);
    EXPECT_TRUE(SwitchIEProxy(With(), "1.2.3.4:8080"));
    EXPECT_EQ(SystemProxy->Applied, (std::vector<std::string>{"1.2.3.4:8080", "", ""}))
        << "a switched-off browser is cleared, not left alone";
}

TEST_F(SwitchTest, AbsentSwitchSettingClears) {
    EXPECT_TRUE(SwitchIEProxy(With(), "1.2.3.4:8080"));
    EXPECT_EQ(SystemProxy->Applied, (std::vector<std::string>{""}));
}

TEST_F(SwitchTest, SystemProxyRefusesMalformedTextsAndReportsFailures) {
    SwitchOn("SWITCH.IE");
    for (const std::string& bad : kBadTexts) {
        SCOPED_TRACE(bad.substr(0, 20));
        EXPECT_FALSE(SwitchIEProxy(With(), bad));
    }
    // Even with the switch off a malformed text is a caller's error, not a clear.
    Settings().SetSettingBool("SWITCH.IE", false);
    EXPECT_FALSE(SwitchIEProxy(With(), "1.2.3.4"));
    EXPECT_TRUE(SystemProxy->Applied.empty());

    SystemProxy->Result = false;
    EXPECT_FALSE(SwitchIEProxy(With(), ""));
    Env.P.SystemProxy.reset();
    EXPECT_FALSE(SwitchIEProxy(With(), ""));
}

// Opera: the first preference file that exists.

class OperaSwitchTest : public SwitchTest {
  protected:
    OperaSwitchTest() {
        Env.Dir.Sub("home/.keep");
        Opera->Extra = {Env.Dir.ProgramPath("home/.opera/opera6.ini"),
                        Env.Dir.ProgramPath("home/.opera/operaprefs.ini")};
    }
    static constexpr const char* kOpera6 = "user/Opera/Opera/profile/opera6.ini";
    static constexpr const char* kOperaPrefs = "user/Opera/Opera/operaprefs.ini";
    static constexpr const char* kPrefs = "Opera Preferences version 2.1\n\n[Proxy]\nUse HTTP=0\n";

    // Replacements of any Opera file (the settings store saves its own file too).
    int OperaWrites() const {
        int writes = 0;
        for (const auto& [path, count] : Env.Files->Replacements) {
            if (path.find("pera") != std::string::npos) {
                writes += count;
            }
        }
        return writes;
    }
};

TEST_F(OperaSwitchTest, OnlyTheFirstExistingFileIsWritten) {
    SwitchOn("SWITCH.OPERA");
    Env.Dir.WriteFile(kOpera6, kPrefs);
    Env.Dir.WriteFile(kOperaPrefs, kPrefs);
    Env.Dir.WriteFile("home/.opera/opera6.ini", kPrefs);
    ASSERT_TRUE(SwitchOperaProxy(With(), "1.2.3.4:8080"));
    EXPECT_EQ(Env.Dir.ReadFile(kOpera6), ApplyOperaProxy(kPrefs, "1.2.3.4:8080"));
    EXPECT_EQ(Env.Dir.ReadFile(kOperaPrefs), kPrefs);
    EXPECT_EQ(Env.Dir.ReadFile("home/.opera/opera6.ini"), kPrefs);
    EXPECT_EQ(Env.Files->ReplacementsOf(Env.Dir.ProgramPath(kOpera6)), 1) << "written by atomic replacement";
}

TEST_F(OperaSwitchTest, CandidatesAreTriedInOrder) {
    SwitchOn("SWITCH.OPERA");
    Env.Dir.WriteFile("home/.opera/operaprefs.ini", kPrefs);
    ASSERT_TRUE(SwitchOperaProxy(With(), "1.2.3.4:8080"));
    EXPECT_EQ(Env.Dir.ReadFile("home/.opera/operaprefs.ini"), ApplyOperaProxy(kPrefs, "1.2.3.4:8080"));

    Env.Dir.WriteFile(kOperaPrefs, kPrefs);
    ASSERT_TRUE(SwitchOperaProxy(With(), ""));
    EXPECT_EQ(Env.Dir.ReadFile(kOperaPrefs), ApplyOperaProxy(kPrefs, ""));
    EXPECT_EQ(Env.Dir.ReadFile("home/.opera/operaprefs.ini"), ApplyOperaProxy(kPrefs, "1.2.3.4:8080"))
        << "the AppData file now comes first";
}

TEST_F(OperaSwitchTest, SwitchedOffClearsTheFile) {
    Env.Dir.WriteFile(kOpera6, ApplyOperaProxy(kPrefs, "9.9.9.9:99"));
    ASSERT_TRUE(SwitchOperaProxy(With(), "1.2.3.4:8080"));
    const std::string text = Env.Dir.ReadFile(kOpera6);
    EXPECT_EQ(text, ApplyOperaProxy(kPrefs, ""));
    EXPECT_EQ(text.find("9.9.9.9"), std::string::npos);
}

TEST_F(OperaSwitchTest, NoFileNoWrite) {
    SwitchOn("SWITCH.OPERA");
    // A folder of the candidate's name is not a preference file.
    Env.Dir.Sub("user/Opera/Opera/profile/opera6.ini/.keep");
    EXPECT_TRUE(SwitchOperaProxy(With(), "1.2.3.4:8080"));
    EXPECT_EQ(OperaWrites(), 0);
    EXPECT_FALSE(Env.Dir.Exists(kOperaPrefs));
    EXPECT_FALSE(Env.Dir.Exists("home/.opera/operaprefs.ini"));
}

TEST_F(OperaSwitchTest, MalformedTextsLeaveTheFileAlone) {
    SwitchOn("SWITCH.OPERA");
    Env.Dir.WriteFile(kOpera6, kPrefs);
    for (const std::string& bad : kBadTexts) {
        SCOPED_TRACE(bad.substr(0, 20));
        EXPECT_FALSE(SwitchOperaProxy(With(), bad));
    }
    EXPECT_EQ(Env.Dir.ReadFile(kOpera6), kPrefs);
    EXPECT_EQ(OperaWrites(), 0);
}

TEST_F(OperaSwitchTest, AFailedWriteIsReportedAndKeepsTheOldFile) {
    SwitchOn("SWITCH.OPERA");
    Env.Dir.WriteFile(kOpera6, kPrefs);
    Env.Files->FailReplace = true;
    EXPECT_FALSE(SwitchOperaProxy(With(), "1.2.3.4:8080"));
    EXPECT_EQ(Env.Dir.ReadFile(kOpera6), kPrefs);
}

// Firefox.

TEST_F(SwitchTest, FirefoxPathSettingWinsWhileItsFileExists) {
    Env.Dir.WriteFile("ff/firefox", "");
    Env.Dir.WriteFile("other/firefox", "");
    Settings().SetSettingstring("FireFoxPath", Env.Dir.ProgramPath("ff/firefox"));
    Firefox->Installed = Env.Dir.ProgramPath("other/firefox");
    EXPECT_EQ(GetFirefoxPath(With()), Env.Dir.ProgramPath("ff/firefox"));
    EXPECT_EQ(Firefox->Lookups, 0);
}

TEST_F(SwitchTest, FoundProgramReplacesARemovedOneAndIsRemembered) {
    Env.Dir.WriteFile("other/firefox", "");
    Settings().SetSettingstring("FireFoxPath", Env.Dir.ProgramPath("gone/firefox"));
    Firefox->Installed = Env.Dir.ProgramPath("other/firefox");
    EXPECT_EQ(GetFirefoxPath(With()), Env.Dir.ProgramPath("other/firefox"));
    EXPECT_TRUE(Settings().UpdateSettingINI());
    TKTSettings reopened(Env.P, "");
    EXPECT_EQ(reopened.GetSettingString("FireFoxPath"), Env.Dir.ProgramPath("other/firefox"));
}

TEST_F(SwitchTest, ARemovedProgramStillCountsAsInstalled) {
    Settings().SetSettingstring("FireFoxPath", Env.Dir.ProgramPath("gone/firefox"));
    EXPECT_EQ(GetFirefoxPath(With()), Env.Dir.ProgramPath("gone/firefox"));
    EXPECT_TRUE(IsFirefoxInstalled(With()));

    // A found path that does not exist is answered but not remembered.
    Firefox->Installed = Env.Dir.ProgramPath("also-gone/firefox");
    EXPECT_EQ(GetFirefoxPath(With()), Env.Dir.ProgramPath("also-gone/firefox"));
    EXPECT_EQ(Settings().GetSettingString("FireFoxPath"), Env.Dir.ProgramPath("gone/firefox"));
}

TEST_F(SwitchTest, NoFirefoxAnywhere) {
    EXPECT_EQ(GetFirefoxPath(With()), "");
    EXPECT_FALSE(IsFirefoxInstalled(With()));
    EXPECT_FALSE(Settings().GetSettingExists("FireFoxPath"));
    SwitchOn("SWITCH.FF");
    EXPECT_TRUE(SwitchFirefoxProxy(With(), "1.2.3.4:8080")) << "nothing to switch is no failure";
    EXPECT_FALSE(InstallFirefoxExtension(With()));
    EXPECT_TRUE(Firefox->Applied.empty());
    EXPECT_TRUE(Firefox->Installs.empty());
}

TEST_F(SwitchTest, FirefoxGetsTheProxyOrAClear) {
    Env.Dir.WriteFile("ff/firefox", "");
    Firefox->Installed = Env.Dir.ProgramPath("ff/firefox");
    const std::string program = Env.Dir.ProgramPath("ff/firefox");

    EXPECT_TRUE(SwitchFirefoxProxy(With(), "1.2.3.4:8080"));
    SwitchOn("SWITCH.FF");
    EXPECT_TRUE(SwitchFirefoxProxy(With(), "1.2.3.4:8080"));
    EXPECT_TRUE(SwitchFirefoxProxy(With(), ""));
    EXPECT_EQ(Firefox->Applied,
              (std::vector<RecordingFirefox::Call>{{program, ""}, {program, "1.2.3.4:8080"}, {program, ""}}));

    Firefox->ApplyResult = false;
    EXPECT_FALSE(SwitchFirefoxProxy(With(), "1.2.3.4:8080"));
}

TEST_F(SwitchTest, FirefoxRefusesMalformedTexts) {
    Env.Dir.WriteFile("ff/firefox", "");
    Firefox->Installed = Env.Dir.ProgramPath("ff/firefox");
    SwitchOn("SWITCH.FF");
    for (const std::string& bad : kBadTexts) {
        SCOPED_TRACE(bad.substr(0, 20));
        EXPECT_FALSE(SwitchFirefoxProxy(With(), bad));
    }
    EXPECT_TRUE(Firefox->Applied.empty());
}

TEST_F(SwitchTest, ExtensionPackageBesideTheProgramGoesToFirefox) {
    Env.Dir.WriteFile("ff/firefox", "");
    Firefox->Installed = Env.Dir.ProgramPath("ff/firefox");
    EXPECT_TRUE(InstallFirefoxExtension(With()));
    Firefox->InstallResult = false;
    EXPECT_FALSE(InstallFirefoxExtension(With()));
    const RecordingFirefox::Call expected{Env.Dir.ProgramPath("ff/firefox"),
                                          Env.Dir.ProgramPath("prog") + "\\ffextension.xpi"};
    EXPECT_EQ(Firefox->Installs, (std::vector<RecordingFirefox::Call>{expected, expected}));
}

TEST_F(SwitchTest, SwitchingEveryBrowserNamesThoseThatFailed) {
    for (const char* name : {"SWITCH.IE", "SWITCH.FF", "SWITCH.OPERA"}) {
        SwitchOn(name);
    }
    // No Firefox and no Opera: only the desktop's settings are there.
    TSwitchReport report = SwitchAllBrowsers(With(), "1.2.3.4:8080");
    EXPECT_TRUE(report.Failed.empty());
    EXPECT_TRUE(report.AnySwitched);
    SystemProxy->Result = false;
    report = SwitchAllBrowsers(With(), "1.2.3.4:8080");
    EXPECT_EQ(report.Failed, std::vector<std::string>{"Browser.System"});
    EXPECT_FALSE(report.AnySwitched) << "a browser that is not there switched nothing";

    // Every browser is tried, in the order Internet Explorer, Firefox, Opera.
    Firefox->Installed = "/opt/firefox/firefox";
    Firefox->ApplyResult = false;
    Env.Dir.WriteFile("home/.opera/opera6.ini", "[Proxy]\n");
    Opera->Extra = {Env.Dir.ProgramPath("home/.opera/opera6.ini")};
    report = SwitchAllBrowsers(With(), "1.2.3.4:8080");
    EXPECT_EQ(report.Failed, (std::vector<std::string>{"Browser.System", "Browser.Firefox"}));
    EXPECT_TRUE(report.AnySwitched) << "Opera took it";
    EXPECT_NE(Env.Dir.ReadFile("home/.opera/opera6.ini").find("HTTP server=1.2.3.4:8080"), std::string::npos);

    // Opera switched off is cleared, which is no proxy taken.
    Settings().SetSettingBool("SWITCH.OPERA", false);
    EXPECT_FALSE(SwitchAllBrowsers(With(), "1.2.3.4:8080").AnySwitched);
    EXPECT_EQ(Env.Dir.ReadFile("home/.opera/opera6.ini").find("1.2.3.4"), std::string::npos);

    // A system without a backend for the desktop's settings has none to fail.
    Env.P.SystemProxy.reset();
    EXPECT_EQ(SwitchAllBrowsers(With(), "").Failed, std::vector<std::string>{"Browser.Firefox"});
}

TEST_F(SwitchTest, RunningIsTheBackendsAnswer) {
    EXPECT_FALSE(IsFirefoxRunning(With()));
    Firefox->Running = true;
    EXPECT_TRUE(IsFirefoxRunning(With()));
    Env.P.Firefox.reset();
    EXPECT_FALSE(IsFirefoxRunning(With()));
    EXPECT_TRUE(SwitchFirefoxProxy(With(), "")) << "no Firefox found: nothing to do";
}

}  // namespace
}  // namespace cloakline::test
