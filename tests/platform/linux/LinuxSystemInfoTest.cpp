#include <gtest/gtest.h>
#include <locale.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "core/support/TextEncoding.h"
#include "platform/linux/LinuxSystemInfo.h"
#include "tests/platform/linux/FakeEnv.h"
#include "tests/platform/linux/ForkedChild.h"
#include "tests/support/TempDir.h"

namespace cloakline {
namespace {

using test::FakeEnv;

constexpr const char* kGerman = "de_DE.UTF-8";
constexpr const char* kFrench = "fr_FR.UTF-8";
constexpr const char* kChinese = "zh_CN.UTF-8";

class LinuxSystemInfoLanguage : public ::testing::Test {
  protected:
    void SetUp() override {
        // Precedence is only observable when the candidates map to different languages.
        ASSERT_NE(WindowsLanguageFromLocale(kGerman).LangId, WindowsLanguageFromLocale(kFrench).LangId);
        ASSERT_NE(WindowsLanguageFromLocale(kGerman).LangId, WindowsLanguageFromLocale(kChinese).LangId);
        ASSERT_NE(WindowsLanguageFromLocale(kFrench).LangId, WindowsLanguageFromLocale(kChinese).LangId);
    }

    static void ExpectLanguageOf(const FakeEnv& env, const char* locale) {
        LinuxSystemInfo info(env.Lookup());
        EXPECT_EQ(info.MessagesLocaleName(), locale);
        EXPECT_EQ(info.GetSystemLanguageName(), WindowsLanguageFromLocale(locale).DisplayName);
        EXPECT_EQ(info.GetSystemLanguageId(), WindowsLanguageFromLocale(locale).LangId);
    }
};

TEST_F(LinuxSystemInfoLanguage, LcAllWinsOverEverything) {
    ExpectLanguageOf(FakeEnv{{"LC_ALL", kChinese}, {"LC_MESSAGES", kGerman}, {"LANG", kFrench}}, kChinese);
}

TEST_F(LinuxSystemInfoLanguage, LcMessagesWinsOverLang) {
    ExpectLanguageOf(FakeEnv{{"LC_ALL", ""}, {"LC_MESSAGES", kGerman}, {"LANG", kFrench}}, kGerman);
    // Other categories say nothing about the language of messages.
    ExpectLanguageOf(FakeEnv{{"LC_NUMERIC", kGerman}, {"LC_CTYPE", kChinese}, {"LANG", kFrench}}, kFrench);
}

TEST_F(LinuxSystemInfoLanguage, LangAloneAndNothingAtAll) {
    ExpectLanguageOf(FakeEnv{{"LANG", kGerman}}, kGerman);
    const FakeEnv empty;
    LinuxSystemInfo none(empty.Lookup());
    EXPECT_EQ(none.MessagesLocaleName(), "");
    EXPECT_EQ(none.GetSystemLanguageId(), WindowsLanguageFromLocale("").LangId);
}

TEST_F(LinuxSystemInfoLanguage, ChineseOfThePrcCarriesTheRefusedName) {
    FakeEnv env{{"LANG", kChinese}};
    LinuxSystemInfo info(env.Lookup());
    EXPECT_TRUE(SameTextAscii(info.GetSystemLanguageName(), "Chinese (Simplified, PRC)"));
    EXPECT_EQ(info.GetSystemLanguageId(), 0x0804);
}

TEST(LinuxSystemInfoNumbers, UnknownOrPlainLocalesUseAPoint) {
    EXPECT_EQ(LinuxSystemInfo(FakeEnv{}.Lookup()).DecimalSeparator(), '.');
    EXPECT_EQ(LinuxSystemInfo(FakeEnv{{"LANG", "C"}}.Lookup()).DecimalSeparator(), '.');
    EXPECT_EQ(LinuxSystemInfo(FakeEnv{{"LC_NUMERIC", "xx_NOWHERE.UTF-8"}}.Lookup()).DecimalSeparator(), '.');
}

// A German locale compiled into a private folder, found through LOCPATH.
TEST(LinuxSystemInfoNumbers, AGermanLocaleUsesAComma) {
    test::TempDir dir;
    const std::string target = dir.Path() + "/de_DE.UTF-8";
    const std::string command = "localedef -i de_DE -f UTF-8 '" + target + "' >/dev/null 2>&1";
    const int rc = std::system(command.c_str());
    if (rc == -1 || !WIFEXITED(rc) || !std::filesystem::exists(target + "/LC_NUMERIC")) {
        GTEST_SKIP() << "cannot compile a German locale here";
    }
    // In a child: LOCPATH stays out of this process, and so do the locales glibc caches for good.
    test::ForkedChild child([&] {
        if (::setenv("LOCPATH", dir.Path().c_str(), 1) != 0) {
            return 255;
        }
        const FakeEnv numeric{{"LC_NUMERIC", kGerman}};
        const FakeEnv lang{{"LANG", kGerman}};
        const FakeEnv allWins{{"LC_ALL", "C"}, {"LC_NUMERIC", kGerman}};
        const FakeEnv messagesOnly{{"LC_MESSAGES", kGerman}};
        int wrong = 0;
        wrong |= LinuxSystemInfo(numeric.Lookup()).DecimalSeparator() == ',' ? 0 : 1;
        wrong |= LinuxSystemInfo(lang.Lookup()).DecimalSeparator() == ',' ? 0 : 2;
        // LC_ALL decides over LC_NUMERIC, and LC_MESSAGES has no say in numbers.
        wrong |= LinuxSystemInfo(allWins.Lookup()).DecimalSeparator() == '.' ? 0 : 4;
        wrong |= LinuxSystemInfo(messagesOnly.Lookup()).DecimalSeparator() == '.' ? 0 : 8;
        return wrong;
    });
    EXPECT_EQ(child.WaitExit(10000), 0);
}

}  // namespace
}  // namespace cloakline
