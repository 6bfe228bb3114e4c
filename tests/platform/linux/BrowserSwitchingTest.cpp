#include <gtest/gtest.h>

#include <filesystem>

#include "core/framework/KTSettings.h"
#include "core/proxy/BrowserProxyTexts.h"
#include "core/proxy/FirefoxProfiles.h"
#include "core/proxy/SHRUtils.h"
#include "platform/linux/LinuxFirefox.h"
#include "platform/linux/LinuxOperaPreferences.h"
#include "platform/linux/LinuxSystemProxy.h"
#include "tests/platform/linux/FakeEnv.h"
#include "tests/platform/linux/TempDesktop.h"

namespace cloakline {
namespace {

namespace fs = std::filesystem;
using test::ToProgramForm;

constexpr const char* kOperaPrefs = "home/.opera/operaprefs.ini";
constexpr const char* kUserJs = "home/.mozilla/firefox/abc.default/user.js";
constexpr const char* kPrefsJs = "home/.mozilla/firefox/abc.default/prefs.js";
constexpr const char* kKioslaverc = "cfg/kioslaverc";
const std::string kOperaStart = "Opera Preferences version 2.1\n\n[Proxy]\nUse HTTP=0\n";
const std::string kUserJsStart = "user_pref(\"browser.startup.page\", 3);\n";
const std::string kKdeStart = "[Other]\nKeep=1\n";

// The program's switches over the Linux backends that the factory makes, in
// a user's desktop with GNOME settings, a KDE file, a Firefox profile and an
// Opera preference file, all in a temporary folder.
class BrowserSwitchingTest : public ::testing::Test {
  protected:
    BrowserSwitchingTest() {
        Desktop.Env["CLOAKLINE_COMMON_APPDATA"] = Desktop.Dir.Path() + "/common";
        Desktop.Env["PATH"] = Desktop.Dir.Path() + "/bin:" + Desktop.Env["PATH"];
        Desktop.Dir.WriteFile("bin/firefox", "#!/bin/sh\nexit 0\n");
        fs::permissions(Desktop.Dir.Path() + "/bin/firefox", fs::perms::owner_all);
        Desktop.Dir.WriteFile("home/.mozilla/firefox/profiles.ini",
                              "[Profile0]\nName=default\nIsRelative=1\nPath=abc.default\nDefault=1\n");
        Desktop.Dir.WriteFile(kUserJs, kUserJsStart);
        // The user chose "no proxy" in this Firefox.
        Desktop.Dir.WriteFile(kPrefsJs, "user_pref(\"network.proxy.type\", 0);\n");
        Desktop.Dir.WriteFile(kOperaPrefs, kOperaStart);
        Desktop.Dir.WriteFile(kKioslaverc, kKdeStart);
    }

    void SetUp() override {
        if (!Desktop.HasGnomeProxySchema()) {
            GTEST_SKIP() << "needs gsettings and the GNOME desktop schemas";
        }
    }

    std::string FirefoxProgram() const { return ToProgramForm(Desktop.Dir.Path() + "/bin/firefox"); }

    // Runs the three switches as a Hide (or Stop) does, with the switch
    // settings given; 0 when every step answered as expected.
    std::optional<int> Switch(const std::string& proxy, bool switchesOn, bool expectSuccess = true) const {
        const std::string firefox = FirefoxProgram();
        return Desktop.InChild([&] {
            auto system = CreateSystemPlatform();
            TKTSettings settings(*system, "");
            for (const char* name : {"SWITCH.IE", "SWITCH.FF", "SWITCH.OPERA"}) {
                settings.SetSettingBool(name, switchesOn);
            }
            const TSwitchServices with{settings, *system};
            if (SwitchIEProxy(with, proxy) != expectSuccess) {
                return 1;
            }
            if (SwitchFirefoxProxy(with, proxy) != expectSuccess) {
                return 2;
            }
            if (SwitchOperaProxy(with, proxy) != expectSuccess) {
                return 3;
            }
            if (!expectSuccess) {
                return 0;
            }
            if (GetFirefoxPath(with) != firefox || settings.GetSettingString("FireFoxPath") != firefox) {
                return 4;
            }
            if (!InstallFirefoxExtension(with)) {
                return 5;
            }
            return 0;
        });
    }

    void ExpectGnome(const std::string& mode, const std::string& host, const std::string& port) const {
        EXPECT_EQ(Desktop.GSettingsGet("org.gnome.system.proxy", "mode"), mode + "\n");
        for (const char* scheme : {"http", "https", "ftp"}) {
            SCOPED_TRACE(scheme);
            const std::string schema = std::string("org.gnome.system.proxy.") + scheme;
            EXPECT_EQ(Desktop.GSettingsGet(schema, "host"), host + "\n");
            EXPECT_EQ(Desktop.GSettingsGet(schema, "port"), port + "\n");
        }
    }

    test::TempDesktop Desktop;
};

TEST_F(BrowserSwitchingTest, HideSetsEveryBrowserAndStopClearsThem) {
    ASSERT_EQ(Switch("1.2.3.4:8080", true), 0);
    ExpectGnome("'manual'", "'1.2.3.4'", "8080");
    EXPECT_EQ(Desktop.GSettingsGet("org.gnome.system.proxy", "ignore-hosts"), "@as []\n");
    const std::string kde = Desktop.Dir.ReadFile(kKioslaverc);
    EXPECT_NE(kde.find("[Proxy Settings]\nProxyType=1\nhttpProxy=http://1.2.3.4 8080\n"), std::string::npos)
        << kde;
    EXPECT_EQ(Desktop.Dir.ReadFile(kUserJs),
              SwitchFirefoxPrefFiles({Desktop.Dir.ReadFile(kPrefsJs), kUserJsStart}, true, false).UserJs)
        << "pointed at the desktop's settings";
    EXPECT_EQ(Desktop.Dir.ReadFile(kOperaPrefs), ApplyOperaProxy(kOperaStart, "1.2.3.4:8080"));

    ASSERT_EQ(Switch("", true), 0);
    EXPECT_EQ(Desktop.GSettingsGet("org.gnome.system.proxy", "mode"), "'none'\n");
    EXPECT_NE(Desktop.Dir.ReadFile(kKioslaverc).find("ProxyType=0\n"), std::string::npos);
    EXPECT_EQ(Desktop.Dir.ReadFile(kUserJs), kUserJsStart) << "the user's own choice again";
    EXPECT_EQ(Desktop.Dir.ReadFile(kOperaPrefs), ApplyOperaProxy(kOperaStart, ""));
}

TEST_F(BrowserSwitchingTest, SwitchedOffBrowsersAreClearedByAHide) {
    ASSERT_EQ(Switch("1.2.3.4:8080", true), 0);
    ASSERT_EQ(Switch("5.6.7.8:3128", false), 0);
    EXPECT_EQ(Desktop.GSettingsGet("org.gnome.system.proxy", "mode"), "'none'\n");
    EXPECT_EQ(Desktop.Dir.ReadFile(kUserJs), kUserJsStart);
    EXPECT_EQ(Desktop.Dir.ReadFile(kOperaPrefs), ApplyOperaProxy(kOperaStart, ""));
    EXPECT_EQ(Desktop.Dir.ReadFile(kKioslaverc).find("5.6.7.8"), std::string::npos);
}

TEST_F(BrowserSwitchingTest, ALinkedOperaPreferenceFileIsWrittenThroughItsLink) {
    const std::string link = Desktop.Dir.Path() + "/" + kOperaPrefs;
    Desktop.Dir.WriteFile("dotfiles/operaprefs.ini", kOperaStart);
    fs::remove(link);
    fs::create_symlink(Desktop.Dir.Path() + "/dotfiles/operaprefs.ini", link);
    ASSERT_EQ(Switch("1.2.3.4:8080", true), 0);
    EXPECT_TRUE(fs::is_symlink(link)) << "the user's link stays";
    EXPECT_EQ(Desktop.Dir.ReadFile("dotfiles/operaprefs.ini"), ApplyOperaProxy(kOperaStart, "1.2.3.4:8080"));
}

TEST_F(BrowserSwitchingTest, MalformedTextsReachNoBrowser) {
    ASSERT_EQ(Switch("1.2.3.4:8080", true), 0);
    const std::string keyfile = Desktop.KeyFile();
    for (const std::string bad :
         {"1.2.3.4", "9.9.9.9:80;https=evil:1", "9.9.9.9:80\nmode='auto'", "9.9.9.9:0"}) {
        SCOPED_TRACE(bad);
        ASSERT_EQ(Switch(bad, true, false), 0);
    }
    EXPECT_EQ(Desktop.KeyFile(), keyfile);
    ExpectGnome("'manual'", "'1.2.3.4'", "8080");
    EXPECT_EQ(Desktop.Dir.ReadFile(kUserJs).find("9.9.9.9"), std::string::npos);
    EXPECT_EQ(Desktop.Dir.ReadFile(kOperaPrefs), ApplyOperaProxy(kOperaStart, "1.2.3.4:8080"));
    EXPECT_EQ(Desktop.Dir.ReadFile(kKioslaverc).find("9.9.9.9"), std::string::npos);
}

TEST_F(BrowserSwitchingTest, ADesktopThatKeepsNoSettingsIsAFailedHide) {
    // GIO's backend in memory takes every write and shows it to no one.
    Desktop.Env["GSETTINGS_BACKEND"] = "memory";
    fs::remove(Desktop.Dir.Path() + "/" + kKioslaverc);
    const std::optional<int> result = Desktop.InChild([] {
        auto system = CreateSystemPlatform();
        TKTSettings settings(*system, "");
        settings.SetSettingBool("SWITCH.IE", true);
        settings.SetSettingBool("SWITCH.FF", true);
        const TSwitchServices with{settings, *system};
        if (SwitchIEProxy(with, "1.2.3.4:8080") || SwitchFirefoxProxy(with, "1.2.3.4:8080")) {
            return 1;
        }
        // Nothing was left on a proxy to clear.
        return SwitchIEProxy(with, "") && SwitchFirefoxProxy(with, "") ? 0 : 2;
    });
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(Desktop.Dir.Exists(kKioslaverc)) << "no KDE session";
}

TEST(LinuxBrowserBackends, FactoryMakesTheLinuxOnes) {
    const auto system = CreateSystemPlatform();
    EXPECT_NE(dynamic_cast<LinuxSystemProxy*>(system->SystemProxy.get()), nullptr);
    EXPECT_NE(dynamic_cast<LinuxFirefox*>(system->Firefox.get()), nullptr);
    EXPECT_NE(dynamic_cast<LinuxOperaPreferences*>(system->Opera.get()), nullptr);
}

TEST(LinuxBrowserBackends, OperaForLinuxKeepsItsFilesInDotOpera) {
    test::FakeEnv env{{"HOME", "/home/u"}};
    EXPECT_EQ(
        LinuxOperaPreferences(env.Lookup()).ExtraPreferenceFiles(),
        (std::vector<std::string>{"\\home\\u\\.opera\\opera6.ini", "\\home\\u\\.opera\\operaprefs.ini"}));
}

TEST(LinuxBrowserBackends, SystemProxyRefusesMalformedTextsBeforeAnyStore) {
    // Refused before GIO or the files are reached, so this may run in the test process.
    test::TempDir dir;
    dir.WriteFile("cfg/kioslaverc", kKdeStart);
    test::FakeEnv env{{"HOME", dir.Path()}, {"XDG_CONFIG_HOME", dir.Path() + "/cfg"}};
    LinuxSystemProxy proxy(env.Lookup());
    EXPECT_FALSE(proxy.ApplyProxy("1.2.3.4"));
    EXPECT_FALSE(proxy.ApplyProxy("h:1\n[Proxy Settings]"));
    EXPECT_EQ(dir.ReadFile("cfg/kioslaverc"), kKdeStart);
}

}  // namespace
}  // namespace cloakline
