// The settings file when the process dies in the middle of a save, and when
// the disk is full.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "core/framework/DebugLog.h"
#include "core/framework/IniDocument.h"
#include "core/support/TextUtils.h"
#include "tests/faults/SettingsInstallation.h"
#include "tests/platform/linux/ForkedChild.h"
#include "tests/support/RecordingLogSink.h"
#include "tests/support/TempDir.h"

namespace cloakline::test {
namespace {

using SteadyClock = std::chrono::steady_clock;

std::string ReadNative(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// One set of values, written in one save: all three counters equal and the
// padding as long as the counter says.
void WriteRound(TKTSettings& settings, std::int32_t round) {
    settings.BeginUpdate();
    settings.SetSettingInteger("Round.A", round);
    settings.SetSettingstring("Round.Padding", std::string(1000 + round % 3000, 'p'));
    settings.SetSettingInteger("Round.B", round);
    settings.SetSettingInteger("Round.C", round);
    settings.EndUpdate();
}

// The round the file holds, or -1 when it is not one complete set.
std::int32_t RoundInFile(const std::string& bytes) {
    TIniDocument doc;
    doc.LoadFromBytes(bytes);
    const std::string* a = doc.Find("setting", "Round.A");
    const std::string* b = doc.Find("setting", "Round.B");
    const std::string* c = doc.Find("setting", "Round.C");
    const std::string* padding = doc.Find("setting", "Round.Padding");
    if (a == nullptr || b == nullptr || c == nullptr || padding == nullptr || *a != *b || *b != *c) {
        return -1;
    }
    const std::int32_t round = TextToIntDef(*a, -1);
    return round >= 0 && padding->size() == static_cast<std::size_t>(1000 + round % 3000) ? round : -1;
}

// Saves round after round, from the one the file holds, until killed.
[[noreturn]] void SaveUntilKilled(const std::string& root, const SignalPipe& started) {
    SettingsInstallation installation(root);
    auto settings = installation.Open();
    std::int32_t round = std::max(settings->GetSettingInteger("Round.A"), 0);
    WriteRound(*settings, ++round);
    started.Notify();
    for (;;) {
        WriteRound(*settings, ++round);
    }
}

TEST(SettingsFaultsTest, KilledAtAnyMomentOfASaveTheFileHoldsOneWholeSetOfValues) {
    TempDir dir;
    dir.WriteFile("prog/const.dat", SettingsInstallation::kConstants);
    SettingsInstallation installation(dir.Path());
    std::string file;
    {
        auto settings = installation.Open();
        WriteRound(*settings, 0);
        file = SettingsInstallation::NativeSettingsFile(*settings);
    }

    std::mt19937 random(20261209);
    std::uniform_int_distribution<int> pauseUs(0, 20'000);
    constexpr int kRounds = 300;
    const auto deadline = SteadyClock::now() + std::chrono::seconds(80);
    std::int32_t lastRound = 0;
    int rounds = 0;
    for (; rounds < kRounds && SteadyClock::now() < deadline; ++rounds) {
        SignalPipe started;
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            SaveUntilKilled(dir.Path(), started);
        }
        const bool saving = started.Wait(10'000).has_value();
        std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(saving) << "round " << rounds << ": the saving child never started";

        const std::string bytes = ReadNative(file);
        ASSERT_FALSE(bytes.empty()) << "round " << rounds;
        const std::int32_t round = RoundInFile(bytes);
        ASSERT_GE(round, lastRound) << "round " << rounds << ": not one whole set of values:\n" << bytes;
        lastRound = round;
    }
    EXPECT_GE(rounds, 100) << "too few kills within the time";
    EXPECT_GT(lastRound, rounds) << "every child saved at least once before its kill";

    // The temporaries of the killed saves are not mistaken for the file.
    auto settings = installation.Open();
    EXPECT_EQ(settings->GetSettingInteger("Round.A"), lastRound);
}

// Exit codes of the full-disk child.
constexpr int kNoNamespace = 77;
constexpr int kPassed = 0;

int SaveOnAFullDisk(const std::string& mountPoint) {
    // A private mount namespace, so that the small file system is seen by this child only.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=256k,mode=0700") != 0) {
        return kNoNamespace;
    }
    std::filesystem::create_directories(mountPoint + "/prog");
    std::ofstream(mountPoint + "/prog/const.dat", std::ios::binary) << SettingsInstallation::kConstants;
    SettingsInstallation installation(mountPoint);
    auto settings = installation.Open();
    settings->SetSettingstring("Kept", "old");
    const std::string file = SettingsInstallation::NativeSettingsFile(*settings);
    const std::string before = ReadNative(file);
    if (before.find("Kept=old") == std::string::npos) {
        return 1;
    }

    // Fill every free block.
    {
        std::FILE* filler = std::fopen((mountPoint + "/filler").c_str(), "wb");
        const std::string block(4096, 'f');
        while (filler != nullptr && std::fwrite(block.data(), 1, block.size(), filler) == block.size() &&
               std::fflush(filler) == 0) {
        }
        if (filler == nullptr) {
            return 2;
        }
        std::fclose(filler);
    }

    ScopedLogCapture log;
    settings->SetSettingstring("Kept", "new " + std::string(8000, 'n'));
    if (settings->UpdateSettingINI()) {
        return 3;  // reported a save that cannot have happened
    }
    if (ReadNative(file) != before) {
        return 4;
    }
    if (settings->GetSettingString("Kept") != "new " + std::string(8000, 'n')) {
        return 5;
    }
    if (!log.Sink->Contains("Setting Save Failed :" + settings->UserDataPath() + "setting.dat",
                            "KTSettings")) {
        return 6;
    }
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(file).parent_path())) {
        const std::string name = entry.path().filename().string();
        if (name != "setting.dat" && name != "UserFlag.ini") {
            return 7;  // a half-written temporary left behind
        }
    }

    // Room again: the values kept in memory reach the file.
    std::filesystem::remove(mountPoint + "/filler");
    if (!settings->UpdateSettingINI() || ReadNative(file).find("Kept=new nnn") == std::string::npos) {
        return 8;
    }
    return kPassed;
}

TEST(SettingsFaultsTest, AFullDiskKeepsTheOldFileAndTheValuesInMemory) {
    TempDir dir;
    const std::string mountPoint = dir.Sub("small/.keep");
    std::filesystem::remove(mountPoint);
    const std::string point = dir.Path() + "/small";
    ForkedChild child([&] { return SaveOnAFullDisk(point); });
    const std::optional<int> code = child.WaitExit(60'000);
    ASSERT_TRUE(code.has_value()) << "the full-disk save did not end";
    if (*code == kNoNamespace) {
        GTEST_SKIP() << "mounting a small tmpfs in a private mount namespace needs root";
    }
    EXPECT_EQ(*code, kPassed) << "step that failed (see SaveOnAFullDisk)";
}

}  // namespace
}  // namespace cloakline::test
