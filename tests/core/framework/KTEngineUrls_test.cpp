#include "core/framework/KTEngineUrls.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/framework/EngineLayers.h"
#include "core/support/ShellUtils.h"
#include "core/support/TextUtils.h"
#include "core/support/UrlUtils.h"
#include "tests/core/framework/SettingsTestPlatform.h"

namespace cloakline::test {
namespace {

// 2024-05-17 13:45:07.089 local time.
constexpr TDateTime kSampleTime = 45429.0 + (13 * 3600 + 45 * 60 + 7.089) / 86400.0;

TURLSystemValues XpInUsEnglish() {
    TURLSystemValues system;
    system.Now = kSampleTime;
    system.VersionMajor = 5;
    system.VersionMinor = 1;
    system.ServicePack = "Service Pack 3";
    system.LanguageId = 1033;
    return system;
}

class EngineUrlsTest : public ::testing::Test {
  protected:
    std::unique_ptr<TKTSettings> Open(const std::string& constants) {
        Env.WriteConst("[setting]\r\n" + constants);
        return std::make_unique<TKTSettings>(Env.P, "");
    }
    std::string AppDir() const { return GetAppDir(Env.P); }

    SettingsTestPlatform Env;
};

TEST_F(EngineUrlsTest, ParametersFollowTheFixedOrderWithEncodedValues) {
    auto s = Open("App.Ver=2.1.0.5\r\nApp.SubVer=3\r\nApp.PID=ABC\r\nLanguage=English\r\nRunTimes=12\r\n");
    const std::string days = std::to_string(s->GetRunDays());
    EXPECT_EQ(BuildURLParam(*s, XpInUsEnglish()),
              "07089&PID=ABC&LANG=English&DAY=" + days +
                  "&RUNTIME=12&VER=02010005&SVER=3&WVER=5_1_Service+Pack+3&WLANG=1033&CHL=756E6B6E6F77");
}

TEST_F(EngineUrlsTest, ParameterValuesAreFormEncodedAndFallBack) {
    auto s = Open(
        "App.Ver=1.2.3\r\nApp.MagicWord=x y&z\r\nLanguage=Fran\xC3\xA7"
        "ais\r\n");
    TURLSystemValues system = XpInUsEnglish();
    system.VersionMajor = 6;
    system.VersionMinor = 8;
    system.ServicePack = "";
    system.LanguageId = 1036;
    system.Channel = "\"C:\\Setups\\partner7.exe\"";
    TStringList params;
    ParseURLParams("?" + BuildURLParam(*s, system), params);
    EXPECT_EQ(params.Value("PID"), "x y&z") << "App.MagicWord stands in for an empty App.PID";
    EXPECT_EQ(params.Value("LANG"),
              "Fran\xC3\xA7"
              "ais");
    EXPECT_EQ(params.Value("VER"), "00000000") << "a version of three numbers counts as none";
    EXPECT_EQ(params.Value("SVER"), "0");
    EXPECT_EQ(params.Value("WVER"), "6_8_");
    EXPECT_EQ(params.Value("WLANG"), "1036");
    EXPECT_EQ(params.Value("CHL"), TextToHex("partner7.exe"));
    EXPECT_EQ(params.Value("RUNTIME"), "0");

    const std::string raw = BuildURLParam(*s, system);
    EXPECT_NE(raw.find("&PID=x+y%26z&"), std::string::npos);
    EXPECT_NE(raw.find("&LANG=Fran%E7ais&"), std::string::npos) << "encoded over the 8-bit code page";
}

TEST(EngineUrlPiecesTest, TimeTokenIsSecondsAndMilliseconds) {
    EXPECT_EQ(TimeToken(kSampleTime), "07089");
    EXPECT_EQ(TimeToken(45429.0), "00000");
    EXPECT_EQ(TimeToken(45429.0 + 59.999 / 86400.0), "59999");
    EXPECT_EQ(TimeToken(45429.0 + 86399.9996 / 86400.0), "00000") << "rounding past midnight wraps";
}

TEST(EngineUrlPiecesTest, SalesChannelKeepsTheLastPathPart) {
    EXPECT_EQ(SalesChannelName(std::nullopt), "unknow");
    EXPECT_EQ(TextToHex(SalesChannelName(std::nullopt)), "756E6B6E6F77");
    EXPECT_EQ(SalesChannelName("\"C:\\Setups\\partner7.exe\""), "partner7.exe");
    EXPECT_EQ(SalesChannelName("web:banner\\2"), "2");
    EXPECT_EQ(SalesChannelName("shop\"12\""), "shop12");
    EXPECT_EQ(SalesChannelName("C:"), "");
    EXPECT_EQ(SalesChannelName(""), "");
}

TEST_F(EngineUrlsTest, BlankPageAddressFallsToTheRedirectAndStillNamesThePage) {
    auto s = Open("URL.help=  \r\nURL.Redirect=https://srv.example/go.php?x=1\r\n");
    EXPECT_EQ(BuildPageURL(*s, "help", true, AppDir(), [] { return std::string("P"); }),
              "https://srv.example/go.php?x=1&ACTION=help&P");
    EXPECT_EQ(BuildPageURL(*s, "support", true, AppDir(), [] { return std::string("P"); }),
              "https://srv.example/go.php?x=1&ACTION=support&P")
        << "a page without any address";
    EXPECT_EQ(BuildPageURL(*s, "help", false, AppDir(), {}), "https://srv.example/go.php?x=1");
}

TEST_F(EngineUrlsTest, ExePathIsReplacedAndLocalAddressesGetNoParameters) {
    auto s = Open(
        "URL.help=%EXEPATH%\\help.htm\r\nURL.eula=HTTP://srv/%ExePath%/eula\r\n"
        "URL.Redirect=http://srv/%exepath%\r\n");
    bool asked = false;
    const auto params = [&] {
        asked = true;
        return std::string("P");
    };
    EXPECT_EQ(BuildPageURL(*s, "help", true, AppDir(), params), AppDir() + "\\help.htm");
    EXPECT_FALSE(asked) << "a local file never gets parameters";
    EXPECT_EQ(BuildPageURL(*s, "eula", true, AppDir(), params),
              "HTTP://srv/" + AppDir() + "/eula?ACTION=eula&P");
    EXPECT_EQ(BuildPageURL(*s, "home", false, AppDir(), params), "http://srv/%exepath%")
        << "the redirect address is taken as it is";
    EXPECT_EQ(BuildPageURL(*s, "help", true, "C:\\%exepath%", params), "C:\\%exepath%\\help.htm")
        << "the replacement is not searched again";
}

TEST_F(EngineUrlsTest, NoAddressAtAllGivesAnEmptyOne) {
    auto s = Open("");
    EXPECT_EQ(BuildPageURL(*s, "help", true, AppDir(), [] { return std::string("P"); }), "");
}

TEST(EngineUrlPiecesTest, QvtxCommandsInAnyLetterCase) {
    EXPECT_EQ(QvtxCommandPage("qvtx:PAGE=support"), "support");
    EXPECT_EQ(QvtxCommandPage("QVTX:PAGE=help"), "help");
    EXPECT_EQ(QvtxCommandPage("qvtx:page=eula&x=1"), "eula") << "parameter names ignore case";
    EXPECT_EQ(QvtxCommandPage("qvtx:ACTION=x"), "");
    EXPECT_EQ(QvtxCommandPage("qvtx:PAGE=my+page%21"), "my page!");
    EXPECT_EQ(QvtxCommandPage("Qvtx:go?PAGE=home"), "home") << "everything up to the \"?\" is dropped";
    EXPECT_EQ(QvtxCommandPage("https://example.com/?PAGE=help"), std::nullopt);
    EXPECT_EQ(QvtxCommandPage("qvt:PAGE=help"), std::nullopt);
    EXPECT_EQ(QvtxCommandPage(""), std::nullopt);
}

TEST(EngineUrlPiecesTest, TitleAndMessageTexts) {
    EXPECT_EQ(BuildAppTitle("Cloakline", true, "2.1"), "Cloakline  2.1");
    EXPECT_EQ(BuildAppTitle("Cloakline", false, "2.1"), "Cloakline");
    EXPECT_EQ(BuildAppTitle("Cloakline", true, ""), "Cloakline  ");
    EXPECT_EQ(MessageTextOrKey("", "MSGBox.FFPath", false), "[AppRes]MSGBox.FFPath");
    EXPECT_EQ(MessageTextOrKey("", "Update.NetError", true), "[LibRes]Update.NetError");
    EXPECT_EQ(MessageTextOrKey("Ready", "FLSMsg.Ready", true), "Ready");
}

TEST(EngineUrlPiecesTest, SessionEndingLastsFiveMinutesAcrossTheWrap) {
    EXPECT_FALSE(SessionEndingAt(false, 0, 0)) << "no query yet, even right after the system started";
    EXPECT_FALSE(SessionEndingAt(false, 0, 1000));
    EXPECT_TRUE(SessionEndingAt(true, 1000, 1000));
    EXPECT_TRUE(SessionEndingAt(true, 1000, 1000 + 299999));
    EXPECT_FALSE(SessionEndingAt(true, 1000, 1000 + 300000));
    EXPECT_TRUE(SessionEndingAt(true, 0xFFFFFF00u, 0x100u)) << "the tick count wrapped";
    EXPECT_FALSE(SessionEndingAt(true, 0xFFFFFF00u, 300000u));
}

TEST(EngineUrlPiecesTest, SkinAndLanguageNamesFromTheFiles) {
    const TStringList skins{"\\app\\skins\\blue.skn", "\\app\\skins\\Default.skn",
                            "\\app\\skins\\Blue.nsf.skn", "\\app\\skins\\Aqua.skn",
                            "\\app\\skins\\default.nsf.skn"};
    const TStringList skinNames = BuildSkinNameList(skins);
    EXPECT_EQ(skinNames, (TStringList{"Default", "Aqua", "Blue", "blue"}))
        << "sorted by file without regard to case, both Blue files listed";
    EXPECT_EQ(BuildSkinNameList({}), TStringList{"Default"});

    const TStringList langs{"\\app\\lang\\German.lan", "\\app\\lang\\english.lan",
                            "\\app\\lang\\Deutsch.lan"};
    EXPECT_EQ(BuildLanguageNameList(langs), (TStringList{"English", "Deutsch", "German"}));
}

}  // namespace
}  // namespace cloakline::test
