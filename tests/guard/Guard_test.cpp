// The guard's watch over the program's pipe, with a restore that only counts
// and a notifier that only records.
#include "guard/Guard.h"

#include <gtest/gtest.h>

#include "guard/GuardProtocol.h"
#include "tests/support/RecordingGuardLauncher.h"

namespace cloakline::test {
namespace {

struct GuardFixture : ::testing::Test {
    int Restores = 0;
    bool RestoreWorks = true;
    RecordingDesktopNotifier Notifier;
    TGuard Guard{[this] {
                     ++Restores;
                     return RestoreWorks;
                 },
                 Notifier};
};

TEST_F(GuardFixture, ReleaseMeansNoRestoreEvenInBlockMode) {
    Guard.Feed(GuardTitleLine("t") + GuardBodyLine("b") + GuardBlockLine(true) + GuardReleaseLine());
    // Whatever follows a release changes nothing.
    Guard.Feed(GuardBlockLine(false));
    EXPECT_EQ(Guard.End(), TGuardEnd::Released);
    EXPECT_EQ(Restores, 0);
    EXPECT_TRUE(Notifier.Notifications.empty());
}

TEST_F(GuardFixture, ThePipeEndingWithoutReleaseRestores) {
    Guard.Feed(GuardTitleLine("t") + GuardBlockLine(true) + GuardBlockLine(false));
    // The program died in the middle of its release line.
    Guard.Feed("relea");
    EXPECT_EQ(Guard.End(), TGuardEnd::Restored);
    EXPECT_EQ(Restores, 1);
    EXPECT_TRUE(Notifier.Notifications.empty());
}

TEST_F(GuardFixture, AFailedRestoreIsReported) {
    RestoreWorks = false;
    EXPECT_EQ(Guard.End(), TGuardEnd::RestoreFailed);
    EXPECT_EQ(Restores, 1);
}

TEST_F(GuardFixture, BlockModeKeepsTheSettingsAndNotifiesWithTheLastTexts) {
    const std::string all = GuardTitleLine("old") + GuardTitleLine("Blocked\\now") +
                            GuardBodyLine("Line one\nline two") + GuardBlockLine(true) + "future message\n";
    // Byte by byte: lines arrive in any pieces.
    for (const char c : all) {
        Guard.Feed(std::string_view(&c, 1));
    }
    EXPECT_TRUE(Guard.Blocking());
    EXPECT_EQ(Guard.End(), TGuardEnd::Blocked);
    EXPECT_EQ(Restores, 0);
    ASSERT_EQ(Notifier.Notifications.size(), 1u);
    EXPECT_EQ(Notifier.Notifications[0].Title, "Blocked\\now");
    EXPECT_EQ(Notifier.Notifications[0].Body, "Line one\nline two");
    EXPECT_TRUE(Guard.Notified());
}

TEST(GuardProtocolTest, TextsNeverBreakTheLineAndBadLinesAreRefused) {
    const std::string line = GuardBodyLine("a\r\nb\\n");
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    const auto body = ParseGuardLine(line.substr(0, line.size() - 1));
    ASSERT_TRUE(body.has_value());
    EXPECT_EQ(body->Kind, TGuardMessage::TKind::Body);
    EXPECT_EQ(body->Text, "a\r\nb\\n");
    EXPECT_FALSE(ParseGuardLine("title dangling\\").has_value());
    EXPECT_FALSE(ParseGuardLine("title bad \\x escape").has_value());
    EXPECT_FALSE(ParseGuardLine("block maybe").has_value());
    EXPECT_FALSE(ParseGuardLine("release now").has_value());
}

}  // namespace
}  // namespace cloakline::test
