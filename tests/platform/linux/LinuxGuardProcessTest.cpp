// The guard launcher with real processes: a shell stands in for the guard.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/linux/LinuxGuardProcess.h"
#include "platform/linux/NativePath.h"
#include "tests/support/TempDir.h"

namespace cloakline::test {
namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(LinuxGuardLauncherTest, TheGuardGetsThePipeInANewSessionAndNothingElseOfTheProgram) {
    TempDir dir;
    const std::string out = dir.Path() + "/";
    // A descriptor of the program's without close-on-exec, like a lock.
    const int leak = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leak, 3);
    LinuxGuardLauncher launcher;
    std::string error;
    auto pipe = launcher.Start(ToProgramPath("/bin/sh"),
                               {"-c", "echo $$ > " + out + "pid.new; mv " + out + "pid.new " + out +
                                          "pid; exec cat > " + out + "in"},
                               error);
    ::close(leak);
    ASSERT_NE(pipe, nullptr) << error;
    std::string pid;
    for (int i = 0; i < 500 && Read("/proc/" + pid + "/comm") != "cat\n"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        pid = Read(out + "pid");
        if (!pid.empty()) {
            pid.pop_back();
        }
    }
    ASSERT_EQ(Read("/proc/" + pid + "/comm"), "cat\n");
    std::string fds;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + pid + "/fd")) {
        fds += entry.path().filename().string() + " ";
    }
    EXPECT_EQ(fds.size(), 6u) << "only 0, 1 and 2: " << fds;
    std::istringstream stat(Read("/proc/" + pid + "/stat"));
    std::string field;
    for (int i = 0; i < 6; ++i) {
        stat >> field;
    }
    EXPECT_EQ(field, pid) << "the guard leads a session of its own";

    EXPECT_TRUE(pipe->Send("block on\n"));
    EXPECT_TRUE(pipe->Send("release\n"));
    // Closing our end is the pipe's end for the guard, which then ends.
    EXPECT_TRUE(pipe->Close(5000));
    EXPECT_EQ(Read(out + "in"), "block on\nrelease\n");
}

TEST(LinuxGuardLauncherTest, AGuardThatEndedFailsTheSendInsteadOfKillingTheProgram) {
    LinuxGuardLauncher launcher;
    std::string error;
    auto pipe = launcher.Start(ToProgramPath("/bin/true"), {}, error);
    ASSERT_NE(pipe, nullptr) << error;
    bool failed = false;
    for (int i = 0; i < 500 && !failed; ++i) {
        failed = !pipe->Send("block on\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(failed);

    EXPECT_EQ(launcher.Start(ToProgramPath("/nonexistent/cloakline-guard"), {}, error), nullptr);
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

}  // namespace
}  // namespace cloakline::test
