#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "journal/RestoreJournal.h"
#include "platform/linux/LinuxFileSystem.h"
#include "tests/support/RecordingFileSystem.h"
#include "tests/support/TempDir.h"

namespace cloakline {
namespace {

std::vector<TRecordedSetting> OddSettings() {
    std::string everyByte;
    for (int c = 0; c < 256; ++c) {
        everyByte += static_cast<char>(c);
    }
    return {
        {"gsettings/org.gnome.system.proxy", "ignore-hosts", "['localhost', '10.0.0.0/8', '*.corp']"},
        {"gsettings/org.gnome.system.proxy", "autoconfig-url", std::nullopt},
        {"kioslaverc", "\\home\\u\\.config\\kioslaverc", "S[Proxy Settings]\r\nProxyType=2\r\n\r\n"},
        {"firefox", "\\home\\u\\prof %41 x", std::string("a\0b\n%\x7f\xff", 8)},
        {"", "", ""},
        {"file", "bytes", everyByte},
        {"end 3 ABCDEF01", "\n", std::nullopt},
    };
}

TEST(JournalCodec, EveryValueRoundTripsExactly) {
    const auto settings = OddSettings();
    const std::string bytes = EncodeJournal(settings);
    EXPECT_EQ(DecodeJournal(bytes), settings);
    EXPECT_EQ(DecodeJournal(EncodeJournal({})), std::vector<TRecordedSetting>{});
    // Absent and empty are different values.
    EXPECT_NE(EncodeJournal({{"s", "k", std::nullopt}}), EncodeJournal({{"s", "k", ""}}));
}

TEST(JournalCodec, CutOrDamagedJournalsAreRefused) {
    const std::string bytes = EncodeJournal(OddSettings());
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        EXPECT_FALSE(DecodeJournal(std::string_view(bytes).substr(0, length))) << "cut at " << length;
    }
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        std::string flipped = bytes;
        flipped[at] = static_cast<char>(flipped[at] ^ 0x01);
        EXPECT_FALSE(DecodeJournal(flipped)) << "byte " << at << " changed";
    }
    EXPECT_FALSE(DecodeJournal(bytes + "x\n")) << "more after the end";
    std::string otherVersion = bytes;
    otherVersion.replace(otherVersion.find(" 1\n"), 3, " 2\n");
    EXPECT_FALSE(DecodeJournal(otherVersion));
}

class ScriptedRecorder : public IProxySettingsRecorder {
  public:
    std::vector<TRecordedSetting> Now;
    bool FailRecord = false;
    bool FailRestore = false;
    std::vector<std::vector<TRecordedSetting>> Restored;

    bool Record(std::vector<TRecordedSetting>& settings) const override {
        settings = Now;
        return !FailRecord;
    }
    bool Restore(const std::vector<TRecordedSetting>& settings) override {
        Restored.push_back(settings);
        return !FailRestore;
    }
};

class RestoreJournalTest : public ::testing::Test {
  protected:
    test::TempDir Dir;
    test::RecordingFileSystem Files{std::make_unique<LinuxFileSystem>()};
    ScriptedRecorder Recorder;
    TRestoreJournal Journal{Files, Recorder, Dir.ProgramPath("data\\" + std::string(kRestoreJournalName))};
};

TEST_F(RestoreJournalTest, FirstRecordWinsUntilRestoredThenTheJournalIsGone) {
    Recorder.Now = {{"gsettings/org.gnome.system.proxy", "mode", "'auto'"}};
    EXPECT_FALSE(Journal.Exists());
    ASSERT_TRUE(Journal.RecordBeforeChange());
    EXPECT_TRUE(Dir.Exists("data/restore.journal")) << "its folder is made";
    // A later Hide (or a run after a crash) finds our own values: never recorded over.
    Recorder.Now = {{"gsettings/org.gnome.system.proxy", "mode", "'manual'"}};
    ASSERT_TRUE(Journal.RecordBeforeChange());

    ASSERT_TRUE(Journal.RestoreAndRemove());
    ASSERT_EQ(Recorder.Restored.size(), 1u);
    EXPECT_EQ(Recorder.Restored[0],
              (std::vector<TRecordedSetting>{{"gsettings/org.gnome.system.proxy", "mode", "'auto'"}}));
    EXPECT_FALSE(Journal.Exists());
    // Without a journal a restore touches nothing.
    EXPECT_TRUE(Journal.RestoreAndRemove());
    EXPECT_EQ(Recorder.Restored.size(), 1u);
}

TEST_F(RestoreJournalTest, FailuresKeepTheUsersValues) {
    Recorder.FailRecord = true;
    EXPECT_FALSE(Journal.RecordBeforeChange()) << "settings that cannot be read";
    EXPECT_FALSE(Journal.Exists());

    Recorder.FailRecord = false;
    Files.FailReplace = true;
    EXPECT_FALSE(Journal.RecordBeforeChange()) << "a journal that cannot be written";
    EXPECT_FALSE(Journal.Exists());

    Files.FailReplace = false;
    Recorder.Now = {{"file", "x", "1"}};
    ASSERT_TRUE(Journal.RecordBeforeChange());
    Recorder.FailRestore = true;
    EXPECT_FALSE(Journal.RestoreAndRemove());
    EXPECT_TRUE(Journal.Exists()) << "kept for the next try";
    Recorder.FailRestore = false;
    EXPECT_TRUE(Journal.RestoreAndRemove());
    EXPECT_EQ(Recorder.Restored.back(), Recorder.Now);
}

TEST_F(RestoreJournalTest, DamagedJournalIsSetAsideNeverApplied) {
    Dir.WriteFile("data/restore.journal", EncodeJournal({{"file", "x", "1"}}).substr(0, 30));
    EXPECT_FALSE(Journal.RestoreAndRemove());
    EXPECT_TRUE(Recorder.Restored.empty());
    EXPECT_FALSE(Journal.Exists());
    EXPECT_TRUE(Dir.Exists("data/restore.journal.damaged"));

    // A Hide over a damaged journal records what is there now.
    Dir.WriteFile("data/restore.journal", "garbage");
    Recorder.Now = {{"file", "y", std::nullopt}};
    ASSERT_TRUE(Journal.RecordBeforeChange());
    EXPECT_EQ(DecodeJournal(Dir.ReadFile("data/restore.journal")), Recorder.Now);
}

}  // namespace
}  // namespace cloakline
