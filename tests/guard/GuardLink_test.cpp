// The program's side of the guard against a launcher that only records.
#include "app/GuardLink.h"

#include <gtest/gtest.h>

#include "guard/GuardProtocol.h"
#include "tests/support/RecordingGuardLauncher.h"

namespace cloakline::test {
namespace {

const TGuardTexts kTexts{"Title", "Body"};

TEST(GuardLinkTest, AGuardWatchesWhileHidingAndIsReleasedOnStop) {
    RecordingGuardLauncher launcher;
    TGuardLink link(&launcher, "\\opt\\cl\\cloakline-guard", "\\home\\u\\.cl\\restore.journal");
    link.Follow(false, false, kTexts);
    EXPECT_TRUE(launcher.Started.empty()) << "nothing to guard before Hide";

    link.Follow(true, false, kTexts);
    // A move to another proxy keeps the same guard.
    link.Follow(true, false, kTexts);
    ASSERT_EQ(launcher.Started.size(), 1u);
    const auto& guard = *launcher.Started[0];
    EXPECT_EQ(guard.Program, "\\opt\\cl\\cloakline-guard");
    EXPECT_EQ(guard.Args, (std::vector<std::string>{"--journal", "\\home\\u\\.cl\\restore.journal"}));
    EXPECT_EQ(guard.Received, GuardTitleLine("Title") + GuardBodyLine("Body") + GuardBlockLine(false));

    // The gateway and the option came on; then the language changed.
    link.Follow(true, true, kTexts);
    link.Follow(true, true, {"Titel", "Text"});
    link.Follow(false, true, kTexts);
    EXPECT_EQ(guard.Received, GuardTitleLine("Title") + GuardBodyLine("Body") + GuardBlockLine(false) +
                                  GuardBlockLine(true) + GuardTitleLine("Titel") + GuardBodyLine("Text") +
                                  GuardReleaseLine());
    EXPECT_TRUE(guard.Closed);
    EXPECT_FALSE(link.Running());

    // The next Hide gets a guard of its own, told block mode from the start.
    link.Follow(true, true, kTexts);
    ASSERT_EQ(launcher.Started.size(), 2u);
    EXPECT_EQ(launcher.Started[1]->Received,
              GuardTitleLine("Title") + GuardBodyLine("Body") + GuardBlockLine(true));
}

TEST(GuardLinkTest, HidingGoesOnWithoutAGuardAndADeadGuardIsReplaced) {
    RecordingGuardLauncher launcher;
    launcher.Fail = true;
    TGuardLink link(&launcher, "g", "j");
    link.Follow(true, false, kTexts);
    EXPECT_FALSE(link.Running());

    launcher.Fail = false;
    link.Follow(true, false, kTexts);
    ASSERT_TRUE(link.Running());
    launcher.Started[0]->Dead = true;
    link.Follow(true, true, kTexts);
    ASSERT_EQ(launcher.Started.size(), 2u);
    EXPECT_EQ(launcher.Started[1]->Received,
              GuardTitleLine("Title") + GuardBodyLine("Body") + GuardBlockLine(true));

    TGuardLink none(nullptr, "g", "j");
    none.Follow(true, true, kTexts);
    EXPECT_FALSE(none.Running());
}

TEST(GuardLinkTest, TheLinksEndReleasesItsGuard) {
    RecordingGuardLauncher launcher;
    {
        TGuardLink link(&launcher, "g", "j");
        link.Follow(true, true, kTexts);
    }
    ASSERT_EQ(launcher.Started.size(), 1u);
    EXPECT_TRUE(launcher.Started[0]->Closed);
    const std::string& received = launcher.Started[0]->Received;
    EXPECT_EQ(received.substr(received.size() - GuardReleaseLine().size()), GuardReleaseLine());
}

}  // namespace
}  // namespace cloakline::test
