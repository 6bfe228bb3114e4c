// Two real processes of one installation and the rules between them.
#include <gtest/gtest.h>

#include "tests/app/ProgramInstallation.h"

namespace cloakline::test {
namespace {

TEST(SingleInstanceTest, SecondStartForwardsItsWholeFileParameterAndEnds) {
    Installation inst("");
    const pid_t first = inst.Start({});
    ASSERT_TRUE(inst.WaitEvent(first, "initpost shown"));

    const std::string path =
        inst.Dir.Path() + "/My Documents/r\xC3\xA9sum\xC3\xA9 \xE4\xB8\xAD 'quoted' ; $(x).txt";
    const pid_t second = inst.Start({path});
    EXPECT_EQ(inst.WaitExit(second, kStartMs), 0);
    EXPECT_TRUE(inst.WaitEvent(first, "cmdfile:" + path, 5000));
    EXPECT_TRUE(inst.HasEvent(first, "bringtofront")) << "an idle instance is asked to come to the front";
    EXPECT_FALSE(inst.HasEvent(second, "listening")) << "the second start creates no window";

    const pid_t third = inst.Start({"-d", "ignored"});
    EXPECT_EQ(inst.WaitExit(third, kStartMs), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(inst.HasEvent(first, "cmdfile:-d")) << "a first parameter that is a switch is not forwarded";
    EXPECT_FALSE(inst.HasEvent(first, "cmdfile:ignored"));
}

TEST(SingleInstanceTest, SwitchSClosesTheRunningInstance) {
    Installation inst("");
    const pid_t first = inst.Start({});
    ASSERT_TRUE(inst.WaitEvent(first, "initpost shown"));
    const pid_t closer = inst.Start({"/S"});
    EXPECT_EQ(inst.WaitExit(closer, kStartMs), 0);
    EXPECT_EQ(inst.WaitExit(first, kStartMs), 0);
    EXPECT_TRUE(inst.HasEvent(first, "destroyed"));
    EXPECT_FALSE(inst.HasEvent(closer, "listening"));

    const pid_t alone = inst.Start({"-s"});
    EXPECT_EQ(inst.WaitExit(alone, kStartMs), 0) << "nothing to close: the program just ends";
}

TEST(SingleInstanceTest, SwitchRReplacesTheRunningInstance) {
    Installation inst("");
    const pid_t first = inst.Start({});
    ASSERT_TRUE(inst.WaitEvent(first, "initpost shown"));
    const auto started = Clock::now();
    const pid_t replacement = inst.Start({"-r"});
    EXPECT_EQ(inst.WaitExit(first, kStartMs), 0);
    ASSERT_TRUE(inst.WaitEvent(replacement, "initpost shown"));
    EXPECT_GE(MsSince(started), 2000) << "the new instance waits before it goes on";
}

TEST(SingleInstanceTest, MultipleLetsEveryInstanceRun) {
    Installation inst("App.Multiple=1\r\n");
    const pid_t first = inst.Start({});
    ASSERT_TRUE(inst.WaitEvent(first, "initpost shown"));
    const pid_t second = inst.Start({"some-file.txt"});
    ASSERT_TRUE(inst.WaitEvent(second, "initpost shown"));
    EXPECT_FALSE(inst.WaitExit(second, 500));
    EXPECT_FALSE(inst.HasEvent(first, "cmdfile:some-file.txt"));
    EXPECT_FALSE(inst.HasEvent(first, "bringtofront"));
}

TEST(SingleInstanceTest, BusyFirstInstanceIsLeftAloneButStillGetsTheFile) {
    Installation inst("");
    const pid_t first = inst.Start({}, {{"CLOAKLINE_TEST_BUSY_MS", "6000"}});
    ASSERT_TRUE(inst.WaitEvent(first, "listening"));
    const pid_t second = inst.Start({"while-busy.txt"});
    EXPECT_EQ(inst.WaitExit(second, kStartMs), 0);
    EXPECT_TRUE(inst.WaitEvent(first, "cmdfile:while-busy.txt", 5000));
    EXPECT_FALSE(inst.HasEvent(first, "bringtofront"));
    EXPECT_FALSE(inst.HasEvent(first, "initpost shown")) << "still busy";
    EXPECT_TRUE(inst.WaitEvent(first, "initpost shown"));
}

TEST(SingleInstanceTest, HungFirstInstanceDoesNotHoldUpASecondStart) {
    Installation inst("");
    const pid_t first = inst.Start({});
    ASSERT_TRUE(inst.WaitEvent(first, "initpost shown"));
    ASSERT_EQ(::kill(first, SIGSTOP), 0);
    const auto started = Clock::now();
    const pid_t second = inst.Start({"file.txt"});
    EXPECT_EQ(inst.WaitExit(second, 20000), 0);
    EXPECT_LT(MsSince(started), 12000) << "each reply is waited for a bounded time";
    EXPECT_NE(inst.Dir.ReadFile("stderr.log").find("the running copy does not answer"), std::string::npos)
        << "a start that gives way to a copy it cannot reach says so (on stderr without a display)";
    ::kill(first, SIGCONT);
}

TEST(SingleInstanceTest, CrashedInstanceDoesNotBlockTheNextStart) {
    Installation inst("");
    const pid_t first = inst.Start({});
    ASSERT_TRUE(inst.WaitEvent(first, "initpost shown"));
    ::kill(first, SIGKILL);
    inst.WaitExit(first, kStartMs);
    const pid_t next = inst.Start({});
    EXPECT_TRUE(inst.WaitEvent(next, "initpost shown"));
}

TEST(SingleInstanceTest, SwitchesThatEndTheStartEarly) {
    Installation inst("");
    for (const char* sw : {"-i", "/U", "-a"}) {
        SCOPED_TRACE(sw);
        const pid_t p = inst.Start({sw});
        EXPECT_EQ(inst.WaitExit(p, kStartMs), 0);
        EXPECT_FALSE(inst.HasEvent(p, "listening"));
    }
    Installation autorun("App.Autorun=1\r\n");
    const pid_t p = autorun.Start({"-a"});
    EXPECT_TRUE(autorun.WaitEvent(p, "initpost shown")) << "autorun start when the product allows it";
}

TEST(SingleInstanceTest, SwitchHWithoutATrayStartsMinimizedAndASecondStartRestoresIt) {
    Installation inst("");
    const pid_t p = inst.Start({"-h"});
    ASSERT_TRUE(inst.WaitEvent(p, "window minimized"));
    EXPECT_TRUE(inst.HasEvent(p, "tray 0")) << "the offscreen platform has no system tray";
    EXPECT_FALSE(inst.HasEvent(p, "window hidden")) << "never out of the user's reach";
    const pid_t second = inst.Start({});
    EXPECT_EQ(inst.WaitExit(second, kStartMs), 0);
    EXPECT_TRUE(WaitUntil([&] { return inst.LastEvent(p, "window ") == "window shown"; }, 5000));
}

TEST(SingleInstanceTest, TheRefusedRegionEndsBeforeAnythingStarts) {
    Installation inst("", CLOAKLINE_PROGRAM);
    const pid_t p = inst.Start({}, {{"LANG", "zh_CN.UTF-8"}});
    EXPECT_EQ(inst.WaitExit(p, kStartMs), 0);
    EXPECT_NE(inst.Dir.ReadFile("stderr.log").find("This product is unavailable in this country."),
              std::string::npos);
    EXPECT_TRUE(fs::is_empty(inst.Dir.Path() + "/common")) << "no settings were created";
    EXPECT_TRUE(fs::is_empty(inst.Dir.Path() + "/cfg"));

    const pid_t elsewhere = inst.Start({}, {{"LANG", "zh_TW.UTF-8"}});
    EXPECT_TRUE(inst.WaitListening(elsewhere)) << "only the one region is refused";
}

TEST(SingleInstanceTest, TheProgramItselfKeepsOneInstance) {
    Installation inst("", CLOAKLINE_PROGRAM);
    const pid_t first = inst.Start({"-d"});
    ASSERT_TRUE(inst.WaitListening(first));
    const pid_t second = inst.Start({});
    EXPECT_EQ(inst.WaitExit(second, kStartMs), 0);
    EXPECT_FALSE(inst.WaitExit(first, 0)) << "the first instance goes on";

    const pid_t closer = inst.Start({"-s"});
    EXPECT_EQ(inst.WaitExit(closer, kStartMs), 0);
    EXPECT_EQ(inst.WaitExit(first, kStartMs), 0);

    std::string word = inst.Program;
    std::replace(word.begin(), word.end(), '/', '_');
    const std::string log = inst.Dir.ReadFile("common/" + word + "/debug.log");
    EXPECT_NE(log.find("Enter Debug Mode..."), std::string::npos) << "switch d writes the debug log";
}

int ModeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

TEST(SingleInstanceTest, ARealStartKeepsTheUsersDataToTheUser) {
    Installation inst("", CLOAKLINE_PROGRAM);
    // No shared folder named: a program run as root must not make one under /var/lib.
    const pid_t p = inst.Start({"-d"}, {{"CLOAKLINE_COMMON_APPDATA", ""}});
    ASSERT_TRUE(inst.WaitListening(p));
    std::string word = inst.Program;
    std::replace(word.begin(), word.end(), '/', '_');
    const std::string data = inst.Dir.Path() + "/cfg/" + word;
    EXPECT_EQ(ModeOf(data), 0700);
    for (const char* file : {"setting.dat", "UserFlag.ini", "debug.log"}) {
        EXPECT_EQ(ModeOf(data + "/" + file), 0600) << file;
    }
    EXPECT_FALSE(fs::exists("/var/lib/" + word));
    EXPECT_TRUE(fs::is_empty(inst.Dir.Path() + "/common"));
    EXPECT_EQ(inst.WaitExit(inst.Start({"-s"}), kStartMs), 0);
    EXPECT_EQ(inst.WaitExit(p, kStartMs), 0);
}

// Another local user holding the lock where it used to be shared, or trying
// to plant one in our session folder, keeps nobody from starting.
TEST(SingleInstanceTest, AnotherUserCannotKeepTheProgramFromStarting) {
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0 ||
        ::access("/usr/bin/flock", X_OK) != 0) {
        GTEST_SKIP() << "needs root and setpriv/flock to act as a second user";
    }
    Installation inst("", CLOAKLINE_PROGRAM);
    const std::string planted = inst.Dir.Path() + "/run/Global__T1_.lock";
    auto asNobody = [](std::vector<std::string> args) {
        args.insert(args.begin(),
                    {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        // A group of its own, so that flock's child goes with it.
        posix_spawnattr_t attr;
        ::posix_spawnattr_init(&attr);
        ::posix_spawnattr_setpgroup(&attr, 0);
        ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        pid_t pid = 0;
        EXPECT_EQ(::posix_spawn(&pid, argv[0], nullptr, &attr, argv.data(), environ), 0);
        ::posix_spawnattr_destroy(&attr);
        return pid;
    };
    const pid_t holder = asNobody({"/usr/bin/flock", "-n", "/run/lock/Global__T1_.lock", "sleep", "30"});
    const pid_t planter = asNobody({"/usr/bin/flock", "-n", planted, "true"});
    int status = 0;
    ::waitpid(planter, &status, 0);
    EXPECT_FALSE(fs::exists(planted)) << "our session folder is closed to other users";

    const pid_t ours = inst.Start({}, {{"CLOAKLINE_LOCK_DIR", ""}});
    EXPECT_TRUE(inst.WaitListening(ours));
    const pid_t again = inst.Start({}, {{"CLOAKLINE_LOCK_DIR", ""}});
    EXPECT_EQ(inst.WaitExit(again, kStartMs), 0) << "still one instance per user session";
    EXPECT_EQ(ModeOf(planted), 0600);
    ::kill(-holder, SIGKILL);
    ::waitpid(holder, &status, 0);
    ::unlink("/run/lock/Global__T1_.lock");
}

}  // namespace
}  // namespace cloakline::test
