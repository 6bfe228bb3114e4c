#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <string>

#include "tests/journal/UsersDesktop.h"
#include "tests/platform/linux/ForkedChild.h"

namespace cloakline {
namespace {

constexpr int kKills = 300;
constexpr int kMaxDelayUs = 20000;

class RandomKillTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!User.SetUpGnome()) {
            GTEST_SKIP() << "needs gsettings and the GNOME desktop schemas";
        }
        Journal = User.Desktop.Dir.ProgramPath("data\\restore.journal");
    }

    // The host in a child with the desktop's environment; its stdout goes to outFd when not -1.
    std::unique_ptr<test::ForkedChild> StartHost(const char* mode, int outFd) const {
        const auto env = User.Desktop.Environment();
        return std::make_unique<test::ForkedChild>([&] {
            if (outFd >= 0 && ::dup2(outFd, STDOUT_FILENO) < 0) {
                return 120;
            }
            std::vector<char*> envp;
            for (const std::string& line : env) {
                envp.push_back(const_cast<char*>(line.c_str()));
            }
            envp.push_back(nullptr);
            char* const args[] = {const_cast<char*>(JOURNAL_KILL_HOST), const_cast<char*>(Journal.c_str()),
                                  const_cast<char*>(mode), nullptr};
            ::execve(JOURNAL_KILL_HOST, args, envp.data());
            return 121;
        });
    }

    test::UsersDesktop User;
    std::string Journal;
};

TEST_F(RandomKillTest, EveryKillDuringHideOrStopIsUndoneByTheNextStart) {
    using D = test::UsersDesktop;
    const auto gnome = User.GnomeValues();
    ASSERT_FALSE(gnome.empty());
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> delay(0, kMaxDelayUs);
    int killedBusy = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        int ends[2];
        ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        auto host = StartHost("loop", ends[1]);
        ::close(ends[1]);
        char ready = 0;
        pollfd p{ends[0], POLLIN, 0};
        const bool started =
            ::poll(&p, 1, test::TempDesktop::kTimeoutMs) == 1 && ::read(ends[0], &ready, 1) == 1;
        ::close(ends[0]);
        ASSERT_TRUE(started) << "the host did not start";
        ::usleep(static_cast<useconds_t>(delay(random)));
        // Still busy (not ended by a failure of its own) when killed.
        ASSERT_EQ(host->WaitExit(0), std::nullopt) << "the host ended by itself";
        host->Kill();
        ++killedBusy;

        ASSERT_EQ(StartHost("restore", -1)->WaitExit(test::TempDesktop::kTimeoutMs), 0);
        ASSERT_EQ(User.GnomeValues(), gnome) << User.Desktop.KeyFile();
        ASSERT_FALSE(User.Desktop.Dir.Exists(D::kKioslaverc));
        ASSERT_EQ(User.Desktop.Dir.ReadFile(D::kOperaPrefs), D::kOperaStart);
        ASSERT_EQ(User.Desktop.Dir.ReadFile(D::kUserJs), D::kUserJsStart);
        ASSERT_EQ(User.Desktop.Dir.ReadFile(D::kPrefsJs), D::kPrefsJsStart);
        ASSERT_FALSE(User.Desktop.Dir.Exists("data/restore.journal"));
    }
    EXPECT_EQ(killedBusy, kKills);
}

}  // namespace
}  // namespace cloakline
