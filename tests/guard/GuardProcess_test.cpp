// The real guard program over a real journal of this test's GNOME key file
// (GSETTINGS_BACKEND=keyfile), started the way the program starts it. Each
// case runs in a process of its own, so that GIO reads the key file fresh.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "journal/RestoreJournal.h"
#include "platform/api/Platform.h"
#include "platform/linux/NativePath.h"
#include "tests/guard/NotificationServer.h"
#include "tests/support/GnomeKeyFile.h"

namespace cloakline::test {
namespace {

namespace fs = std::filesystem;

// What the program's Hide leaves in the key file.
const char* const kHidingKeyFile =
    "[system/proxy]\nmode='manual'\n\n[system/proxy/http]\nhost='127.0.0.1'\nport=8899\n";

class GuardProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* config = std::getenv("XDG_CONFIG_HOME");
        ASSERT_TRUE(config != nullptr && std::getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr)
            << "run through ctest: dbus-run-session and a key file of the test's own";
        KeyFile = std::string(config) + "/glib-2.0/settings/keyfile";
        fs::remove_all(config);
        fs::create_directories(fs::path(KeyFile).parent_path());
        std::ofstream(KeyFile) << kUserProxyKeyFile;
        Original = GnomeProxyKeys(KeyFile);
        System = CreateSystemPlatform();
        JournalPath = ToProgramPath(Dir.Path() + "/restore.journal");
        Journal = std::make_unique<TRestoreJournal>(*System->Files, *System->ProxyRecorder, JournalPath);
        ASSERT_TRUE(Journal->RecordBeforeChange());
        std::ofstream(KeyFile, std::ios::trunc) << kHidingKeyFile;
        Hiding = GnomeProxyKeys(KeyFile);
        std::string error;
        Guard =
            System->GuardLauncher->Start(ToProgramPath(CLOAKLINE_GUARD), {"--journal", JournalPath}, error);
        ASSERT_NE(Guard, nullptr) << error;
    }

    // Polls up to timeoutMs for the key file to hold keys.
    bool KeysBecome(const std::map<std::string, std::string>& keys, int timeoutMs) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (GnomeProxyKeys(KeyFile) != keys) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    pid_t GuardReadyForSignals() const {
        for (int tries = 0; tries < 500; ++tries) {
            // Processes of other tests come and go while /proc is read:
            // errors end this pass instead of throwing.
            std::error_code error;
            for (fs::directory_iterator it("/proc", error), end; !error && it != end; it.increment(error)) {
                const fs::directory_entry& entry = *it;
                std::ifstream cmdline(entry.path() / "cmdline", std::ios::binary);
                const std::string args((std::istreambuf_iterator<char>(cmdline)),
                                       std::istreambuf_iterator<char>());
                if (args.find("cloakline-guard") == std::string::npos ||
                    args.find(JournalPath) == std::string::npos) {
                    continue;
                }
                std::ifstream status(entry.path() / "status");
                std::string line;
                while (std::getline(status, line)) {
                    if (line.rfind("SigBlk:", 0) == 0 &&
                        (std::stoull(line.substr(7), nullptr, 16) & (1ull << (SIGTERM - 1))) != 0) {
                        return std::stoi(entry.path().filename().string());
                    }
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

    TempDir Dir;
    std::string KeyFile;
    std::map<std::string, std::string> Original;
    std::map<std::string, std::string> Hiding;
    std::unique_ptr<Platform> System;
    std::string JournalPath;
    std::unique_ptr<TRestoreJournal> Journal;
    std::unique_ptr<IGuardPipe> Guard;
};

TEST_F(GuardProcessTest, ThePipesEndWithoutReleaseRestoresWithinOneSecond) {
    ASSERT_TRUE(Guard->Send("block off\n"));
    // The program's death: its end of the pipe closes.
    Guard->Close(0);
    EXPECT_TRUE(KeysBecome(Original, 1000)) << Describe(GnomeProxyKeys(KeyFile));
    EXPECT_TRUE(Guard->Close(2000));
    EXPECT_FALSE(Journal->Exists());
}

TEST_F(GuardProcessTest, AReleasedGuardLeavesEverythingToTheProgram) {
    ASSERT_TRUE(Guard->Send("release\n"));
    EXPECT_TRUE(Guard->Close(2000));
    EXPECT_EQ(GnomeProxyKeys(KeyFile), Hiding);
    EXPECT_TRUE(Journal->Exists());
}

TEST_F(GuardProcessTest, BlockModeKeepsTheGatewayAndNotifiesInTheProgramsWords) {
    NotificationServer server(Dir.Path() + "/notifications");
    ASSERT_TRUE(server.WaitReady());
    ASSERT_TRUE(Guard->Send("title Web gesperrt\nbody Zeile\\nzwei\nblock on\n"));
    EXPECT_TRUE(Guard->Close(5000));
    EXPECT_EQ(server.Lines(), "ready\nnotify\tCloakline\tWeb gesperrt\tZeile\\nzwei\t2\n");
    EXPECT_EQ(GnomeProxyKeys(KeyFile), Hiding);
    EXPECT_TRUE(Journal->Exists()) << "the next start restores from it";
}

TEST_F(GuardProcessTest, TermWithoutAReleaseRestoresAfterTheGrace) {
    ASSERT_TRUE(Guard->Send("block off\n"));
    // This test's guard (the one that keeps this test's journal), once it
    // has taken the end signals into its own hands.
    const pid_t guard = GuardReadyForSignals();
    ASSERT_GT(guard, 0);
    ASSERT_EQ(::kill(guard, SIGTERM), 0);
    // One second's grace for a release, then the restore.
    EXPECT_TRUE(KeysBecome(Original, 3000)) << Describe(GnomeProxyKeys(KeyFile));
    EXPECT_TRUE(Guard->Close(2000));
}

}  // namespace
}  // namespace cloakline::test
