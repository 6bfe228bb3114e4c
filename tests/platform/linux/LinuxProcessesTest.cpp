#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/support/TextUtils.h"
#include "platform/linux/LinuxProcesses.h"
#include "tests/support/TempDir.h"

namespace cloakline {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using SteadyClock = std::chrono::steady_clock;

// Waits, at most timeoutMs, until the file exists; the writers create it by rename, so it is complete.
bool WaitForFile(const std::string& path, int timeoutMs) {
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    while (!fs::exists(path)) {
        if (SteadyClock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// True once the process is gone for good: ended and reaped, not a zombie.
bool WaitUntilReaped(pid_t pid, int timeoutMs) {
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    while (fs::exists("/proc/" + std::to_string(pid))) {
        if (SteadyClock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

TStringList Lines(const std::string& text) {
    TStringList lines;
    SplitString(text, "\n", lines);
    return lines;
}

// Prints each argument on its own line (as the shell received it), then the
// working folder and what stdin is, into the file named by its first argument.
constexpr const char* kRecordScript =
    "out=\"$1\"; shift; { printf '%s\\n' \"$@\"; pwd -P; readlink /proc/$$/fd/0; } > \"$out.tmp\" && "
    "mv \"$out.tmp\" \"$out\"";

TEST(LinuxProcessesSpawn, ArgumentsArriveVerbatimInTheWorkingFolder) {
    TempDir dir;
    fs::create_directory(dir.Path() + "/work dir");
    const std::string out = dir.Path() + "/args.txt";
    const std::vector<std::string> tricky{"with space",     "quote\"d",       "it's", "semi;colon && echo no",
                                          "$(touch pwned)", "`touch pwned2`", "",     "*",
                                          "back\\slash"};
    TStringList arguments{"-c", kRecordScript, "sh", out};
    for (const auto& argument : tricky) {
        arguments.Add(argument);
    }
    LinuxProcesses processes;
    ASSERT_TRUE(processes.Spawn("\\bin\\sh", arguments, dir.ProgramPath("work dir"), true, INFINITE_WAIT));

    // Waited for: the record is complete when Spawn returns.
    ASSERT_TRUE(fs::exists(out));
    const TStringList lines = Lines(dir.ReadFile("args.txt"));
    ASSERT_EQ(lines.Count(), tricky.size() + 3);
    for (std::size_t i = 0; i < tricky.size(); ++i) {
        EXPECT_EQ(lines[i], tricky[i]);
    }
    EXPECT_EQ(lines[tricky.size()], fs::canonical(dir.Path() + "/work dir").string());
    EXPECT_EQ(lines[tricky.size() + 1], "/dev/null");
    EXPECT_FALSE(fs::exists(dir.Path() + "/work dir/pwned"));
    EXPECT_FALSE(fs::exists(dir.Path() + "/work dir/pwned2"));
}

TEST(LinuxProcessesSpawn, ProgramNamesAreLookedUpOnThePath) {
    TempDir dir;
    const std::string out = dir.Path() + "/args.txt";
    LinuxProcesses processes;
    ASSERT_TRUE(processes.Spawn("sh", TStringList{"-c", kRecordScript, "sh", out, "one"}, "", true, 10000));
    ASSERT_TRUE(fs::exists(out));
    const TStringList lines = Lines(dir.ReadFile("args.txt"));
    ASSERT_GE(lines.Count(), 2u);
    EXPECT_EQ(lines[0], "one");
    EXPECT_EQ(lines[1], fs::current_path().string());
}

TEST(LinuxProcessesSpawn, FailsWhenNothingCanBeStarted) {
    TempDir dir;
    LinuxProcesses processes;
    EXPECT_FALSE(processes.Spawn("\\no\\such\\program", {}, "", true, 1000));
    EXPECT_FALSE(processes.Spawn("no-such-program-for-cloakline-tests", {}, "", true, 1000));
    EXPECT_FALSE(processes.Spawn("", {}, "", false, 0));
    EXPECT_FALSE(
        processes.Spawn("\\bin\\sh", TStringList{"-c", "touch ran"}, dir.ProgramPath("missing"), true, 1000));
    dir.WriteFile("not-executable", "#!/bin/sh\ntouch ran\n");
    EXPECT_FALSE(processes.Spawn(dir.ProgramPath("not-executable"), {}, dir.ProgramPath(), true, 1000));
    EXPECT_FALSE(dir.Exists("ran"));
}

TEST(LinuxProcessesSpawn, WaitEndsAtTheTimeOutAndTheChildIsReapedLater) {
    TempDir dir;
    const std::string pidFile = dir.Path() + "/pid";
    const std::string script = "echo $$ > \"$1.tmp\" && mv \"$1.tmp\" \"$1\"; exec sleep 30";
    LinuxProcesses processes;
    const auto start = SteadyClock::now();
    ASSERT_TRUE(processes.Spawn("/bin/sh", TStringList{"-c", script, "sh", pidFile}, "", true, 300));
    const auto waited = SteadyClock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(280));
    EXPECT_LT(waited, std::chrono::milliseconds(1300));

    ASSERT_TRUE(WaitForFile(pidFile, 5000));
    const pid_t pid = std::stoi(dir.ReadFile("pid"));
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    EXPECT_TRUE(WaitUntilReaped(pid, 5000)) << "the child stayed a zombie";
}

TEST(LinuxProcessesSpawn, WithoutWaitingReturnsAtOnceAndLeavesNoZombie) {
    TempDir dir;
    const std::string go = dir.Path() + "/go";
    const std::string done = dir.Path() + "/done";
    // The child holds on until the test says go, so it is surely running when Spawn returns.
    const std::string script =
        "i=0; while [ ! -e \"$1\" ] && [ $i -lt 2000 ]; do sleep 0.01; i=$((i+1)); done; "
        "echo $$ > \"$2.tmp\" && mv \"$2.tmp\" \"$2\"";
    LinuxProcesses processes;
    ASSERT_TRUE(processes.Spawn("/bin/sh", TStringList{"-c", script, "sh", go, done}, "", false, 0));
    EXPECT_FALSE(fs::exists(done));
    std::ofstream(go).put('x');
    ASSERT_TRUE(WaitForFile(done, 10000));
    const pid_t pid = std::stoi(dir.ReadFile("done"));
    EXPECT_TRUE(WaitUntilReaped(pid, 5000)) << "the child stayed a zombie";
}

// Puts a fake xdg-open first on PATH for the test's duration.
class LinuxProcessesOpenURL : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* path = std::getenv("PATH");
        FOldPath = path != nullptr ? path : "";
        FBin = FDir.Path() + "/bin";
        fs::create_directory(FBin);
        FOut = FDir.Path() + "/opened";
        FDir.WriteFile("bin/xdg-open", "#!/bin/sh\n{ echo $$; echo $#; printf '%s\\n' \"$@\"; } > '" + FOut +
                                           ".tmp' && mv '" + FOut + ".tmp' '" + FOut + "'\n");
        fs::permissions(FBin + "/xdg-open", fs::perms::owner_all);
        ASSERT_EQ(::setenv("PATH", (FBin + ":" + FOldPath).c_str(), 1), 0);
    }
    void TearDown() override { ::setenv("PATH", FOldPath.c_str(), 1); }

    TempDir FDir;
    std::string FOldPath;
    std::string FBin;
    std::string FOut;
};

TEST_F(LinuxProcessesOpenURL, TheAddressArrivesAsOneArgument) {
    const std::string url = "http://example.test/a b?x=1;rm -rf /tmp/nothing&y=\"q\"'s'$(id)`id`|cat";
    LinuxProcesses processes;
    ASSERT_TRUE(processes.OpenURL(url));
    ASSERT_TRUE(WaitForFile(FOut, 10000));
    const TStringList lines = Lines(FDir.ReadFile("opened"));
    ASSERT_EQ(lines.Count(), 4u);
    EXPECT_EQ(lines[1], "1");
    EXPECT_EQ(lines[2], url);
    EXPECT_TRUE(WaitUntilReaped(std::stoi(lines[0]), 5000)) << "xdg-open stayed a zombie";
}

TEST_F(LinuxProcessesOpenURL, FailsWithoutAnOpener) {
    ASSERT_EQ(::setenv("PATH", (FDir.Path() + "/nothing-here").c_str(), 1), 0);
    LinuxProcesses processes;
    EXPECT_FALSE(processes.OpenURL("http://example.test/"));
    EXPECT_FALSE(processes.OpenURL(""));
}

TEST_F(LinuxProcessesOpenURL, OnlyWebAddressesAndFilesInsideTheProgramFolderReachTheOpener) {
    FDir.WriteFile("prog/help.htm", "help");
    FDir.WriteFile("outside/secret.txt", "secret");
    fs::create_symlink(FDir.Path() + "/outside/secret.txt", FDir.Path() + "/prog/link.htm");
    const std::string prog = FDir.Path() + "/prog";
    LinuxProcesses processes(prog);
    for (const std::string& refused :
         {std::string("file://") + FDir.Path() + "/outside/secret.txt", FDir.Path() + "/outside/secret.txt",
          prog + "/../outside/secret.txt", prog + "/link.htm", std::string("smb://host/share"),
          std::string("-x"), std::string("help.htm"), prog + "/missing.htm", std::string("ftp://h/x")}) {
        EXPECT_FALSE(processes.OpenURL(refused)) << refused;
    }
    EXPECT_FALSE(fs::exists(FOut)) << "nothing refused reached the opener";

    // The local help page as the engine spells it (program form, "%EXEPATH%\help.htm").
    std::string programForm = prog + "/help.htm";
    std::replace(programForm.begin(), programForm.end(), '/', '\\');
    ASSERT_TRUE(processes.OpenURL(programForm));
    ASSERT_TRUE(WaitForFile(FOut, 10000));
    EXPECT_EQ(Lines(FDir.ReadFile("opened"))[2], fs::canonical(prog + "/help.htm").string());
}

}  // namespace
}  // namespace cloakline
