#include "core/proxy/HideRules.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace cloakline {
namespace {

constexpr TDateTime kStart = 45000.25;
TDateTime After(double seconds) {
    return kStart + seconds / 86400.0;
}

TEST(HideRulesTest, PaceChangeAndTouchCountWholeUnitsEitherWay) {
    EXPECT_TRUE(ActionTooFast(After(0.999), kStart));
    EXPECT_TRUE(ActionTooFast(kStart, After(0.5))) << "a clock set back counts the same";
    EXPECT_FALSE(ActionTooFast(After(1.2), kStart));
    EXPECT_FALSE(ActionTooFast(After(1.2), 0)) << "nothing before the first action";

    EXPECT_FALSE(ChangeIPDue(After(4 * 60 + 59.9), kStart, 5));
    EXPECT_TRUE(ChangeIPDue(After(5 * 60), kStart, 5));
    EXPECT_TRUE(ChangeIPDue(After(10), kStart, 0));
    EXPECT_TRUE(ChangeIPDue(kStart, kStart, -3));

    EXPECT_FALSE(TouchDue(After(30 * 60 + 59), kStart, true));
    EXPECT_TRUE(TouchDue(After(31 * 60), kStart, true));
    EXPECT_FALSE(TouchDue(After(60 * 60), kStart, false)) << "only super proxies are touched";
}

TEST(HideRulesTest, ChoicesAndColours) {
    EXPECT_TRUE(IsUsableProxyChoice(ParseProxyLine("10.0.0.1:8080|United States|US|0|0", false)));
    EXPECT_FALSE(IsUsableProxyChoice({})) << "nothing found gives an empty record";
    EXPECT_FALSE(IsUsableProxyChoice(ParseProxyLine("10.0.0.1:|United States|US|0|0", false)));
    EXPECT_FALSE(IsUsableProxyChoice(ParseProxyLine("10.0.0.1;x=1:80|United States|US|0|0", false)));

    EXPECT_EQ(HidingTextColor("ORV"), 0xCCCCCCu);
    EXPECT_EQ(HidingTextColor("orv"), 0u);
    EXPECT_EQ(StartTextColor("orVELLE"), 0xFFFFFFu);
    EXPECT_EQ(StartTextColor("Cloakline"), 0u);
    EXPECT_TRUE(IsRefusedLocalCountry("cn"));
    EXPECT_FALSE(IsRefusedLocalCountry("CNX"));
}

TEST(HideRulesTest, FlagPicturesComeFromShippedThenDownloadedThenServer) {
    std::set<std::string> files;
    auto exists = [&files](const std::string& path) { return files.count(path) > 0; };
    const std::string app = "C:\\prog\\";
    const std::string user = "C:\\user\\";
    const std::string server = "http://127.0.0.1:8480/flags/";

    EXPECT_EQ(TargetFlagReference(app, "res\\flags\\", user, server, "de", exists), server + "de.PNG");
    EXPECT_EQ(LocalFlagReference(app, "res\\flags\\", server, "de", exists), server + "de.PNG");
    files.insert(user + "de.PNG");
    EXPECT_EQ(TargetFlagReference(app, "res\\flags\\", user, server, "de", exists), user + "de.PNG");
    EXPECT_EQ(LocalFlagReference(app, "res\\flags\\", server, "de", exists), server + "de.PNG")
        << "the local card never looks at downloads";
    files.insert(app + "res\\flags\\de.PNG");
    EXPECT_EQ(TargetFlagReference(app, "res\\flags\\", user, server, "de", exists),
              app + "res\\flags\\de.PNG");
    EXPECT_EQ(LocalFlagReference(app, "res\\flags\\", server, "de", exists), app + "res\\flags\\de.PNG");

    for (const char* code : {"../x", "", "a\\b", "d e"}) {
        EXPECT_EQ(TargetFlagReference(app, "res\\flags\\", user, server, code, exists), "") << code;
        EXPECT_EQ(LocalFlagReference(app, "res\\flags\\", server, code, exists), "") << code;
        EXPECT_EQ(SmallFlagSource(app, user, server, code, exists).Kind, TSmallFlagSource::TKind::None)
            << code;
    }
}

TEST(HideRulesTest, SmallFlagIsAskedInUpperCaseAndStoredAsGiven) {
    std::set<std::string> files;
    auto exists = [&files](const std::string& path) { return files.count(path) > 0; };
    TSmallFlagSource source = SmallFlagSource("C:\\prog\\", "C:\\user\\", "http://h/f/", "us", exists);
    EXPECT_EQ(source.Kind, TSmallFlagSource::TKind::Download);
    EXPECT_EQ(source.URL, "http://h/f/US.PNG");
    EXPECT_EQ(source.Path, "C:\\user\\us.PNG");

    files.insert("C:\\user\\us.PNG");
    source = SmallFlagSource("C:\\prog\\", "C:\\user\\", "http://h/f/", "us", exists);
    EXPECT_EQ(source.Kind, TSmallFlagSource::TKind::File);
    EXPECT_EQ(source.Path, "C:\\user\\us.PNG");

    files.insert("C:\\prog\\res\\flag_short\\us.PNG");
    source = SmallFlagSource("C:\\prog\\", "C:\\user\\", "http://h/f/", "us", exists);
    EXPECT_EQ(source.Path, "C:\\prog\\res\\flag_short\\us.PNG");
}

TEST(HideRulesTest, AFlagAddressIsKeptInTheUserDataFolderUnderItsPlainCode) {
    EXPECT_EQ(DownloadedFlagFile("C:\\user\\", "http://h/flags/GB.PNG"), "C:\\user\\GB.PNG");
    EXPECT_EQ(DownloadedFlagFile("C:\\user\\", "https://h:8/f/kr.png"), "C:\\user\\kr.PNG");
    for (const char* reference :
         {"C:\\prog\\res\\flags\\GB.PNG", "", "http://h/flags/..%2FGB.PNG", "http://h/flags/GB.PNG?x=1",
          "http://h/flags/.PNG", "http://h/flags/GB.gif", "://GB.PNG"}) {
        EXPECT_EQ(DownloadedFlagFile("C:\\user\\", reference), "") << reference;
    }
}

}  // namespace
}  // namespace cloakline
