#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "core/framework/KTMultiLangLan.h"
#include "core/support/TextEncoding.h"
#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/LinuxTextCollation.h"
#include "tests/platform/linux/FakeEnv.h"
#include "tests/platform/linux/ForkedChild.h"
#include "tests/support/TempDir.h"

namespace cloakline {
namespace {

using test::FakeEnv;

int Sign(int v) {
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

TEST(LinuxTextCollation, IgnoresCaseBeyondAscii) {
    const FakeEnv env{{"LANG", "C.UTF-8"}};
    const LinuxTextCollation compare(env.Lookup());
    ASSERT_EQ(compare.LocaleName(), "C.UTF-8");
    EXPECT_LT(compare("apple", "Banana"), 0);
    EXPECT_GT(compare("Banana", "apple"), 0);
    // "éa" and "Éb": byte order puts the capital first, folding letter case does not.
    ASSERT_GT(CompareTextAscii("\xC3\xA9"
                               "a",
                               "\xC3\x89"
                               "b"),
              0);
    EXPECT_LT(compare("\xC3\xA9"
                      "a",
                      "\xC3\x89"
                      "b"),
              0);
    EXPECT_EQ(compare("TfrmMain", "TfrmMain"), 0);
}

TEST(LinuxTextCollation, TextsDifferingInCaseOnlyStillHaveAnOrder) {
    const FakeEnv env{{"LANG", "C.UTF-8"}};
    const LinuxTextCollation compare(env.Lookup());
    const int one = compare(
        "\xC3\x89"
        "cran",
        "\xC3\xA9"
        "cran");
    EXPECT_NE(one, 0);
    EXPECT_EQ(Sign(one), -Sign(compare("\xC3\xA9"
                                       "cran",
                                       "\xC3\x89"
                                       "cran")));
    EXPECT_NE(compare("TfrmMain", "TFRMMAIN"), 0);
}

TEST(LinuxTextCollation, LocaleComesFromLcAllThenLcCollateThenLang) {
    EXPECT_EQ(LinuxTextCollation(FakeEnv{{"LC_ALL", "C.UTF-8"}, {"LC_COLLATE", "C"}, {"LANG", "C"}}.Lookup())
                  .LocaleName(),
              "C.UTF-8");
    EXPECT_EQ(LinuxTextCollation(FakeEnv{{"LC_ALL", ""}, {"LC_COLLATE", "C"}, {"LANG", "C.UTF-8"}}.Lookup())
                  .LocaleName(),
              "C");
    EXPECT_EQ(LinuxTextCollation(FakeEnv{{"LC_CTYPE", "C"}, {"LANG", "POSIX"}}.Lookup()).LocaleName(),
              "POSIX");
    // Nothing set, or a locale that is not installed, gives the neutral order.
    EXPECT_EQ(LinuxTextCollation(FakeEnv{}.Lookup()).LocaleName(), "C.UTF-8");
    const LinuxTextCollation missing(FakeEnv{{"LC_COLLATE", "xx_NOWHERE.UTF-8"}}.Lookup());
    EXPECT_EQ(missing.LocaleName(), "C.UTF-8");
    EXPECT_LT(missing("apple", "Banana"), 0);
}

// A German locale compiled into a private folder, found through LOCPATH.
TEST(LinuxTextCollation, AGermanLocaleSortsUmlautsWithTheirLetters) {
    test::TempDir dir;
    const std::string target = dir.Path() + "/de_DE.UTF-8";
    const std::string command = "localedef -i de_DE -f UTF-8 '" + target + "' >/dev/null 2>&1";
    const int rc = std::system(command.c_str());
    if (rc == -1 || !WIFEXITED(rc) || !std::filesystem::exists(target + "/LC_COLLATE")) {
        GTEST_SKIP() << "cannot compile a German locale here";
    }
    // In a child: LOCPATH stays out of this process, and so do the locales glibc caches for good.
    test::ForkedChild child([&] {
        if (::setenv("LOCPATH", dir.Path().c_str(), 1) != 0) {
            return 255;
        }
        const FakeEnv german{{"LANG", "de_DE.UTF-8"}};
        const FakeEnv neutral{{"LANG", "C.UTF-8"}};
        const LinuxTextCollation compare(german.Lookup());
        const std::string apfel = "\xC3\x84pfel";  // "Äpfel"
        int wrong = 0;
        wrong |= compare.LocaleName() == "de_DE.UTF-8" ? 0 : 1;
        wrong |= compare(apfel, "Birne") < 0 ? 0 : 2;
        wrong |= compare("birne", apfel) > 0 ? 0 : 4;
        // Code point order puts the umlaut after every ASCII letter.
        wrong |= LinuxTextCollation(neutral.Lookup())(apfel, "Birne") > 0 ? 0 : 8;

        // The order a saved language file gives its form sections.
        LinuxFileSystem files;
        TKTMultiLangLan lan(files, compare);
        lan.LoadFromString("[Zebra]\nz=1\n[Birne]\nb=1\n[AppRes]\nAppName=A\n[" + apfel + "]\na=1\n");
        lan.SortData();
        wrong |= lan.ToString() == "[AppRes]\r\nAppName=A\r\n\r\n[" + apfel +
                                       "]\r\na=1\r\n\r\n[Birne]\r\nb=1\r\n\r\n[Zebra]\r\nz=1\r\n\r\n"
                     ? 0
                     : 16;
        return wrong;
    });
    EXPECT_EQ(child.WaitExit(10000), 0);
}

}  // namespace
}  // namespace cloakline
