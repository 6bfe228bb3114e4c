// Two real processes of one installation and the rules between them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "tests/support/TempDir.h"

extern char** environ;

namespace cloakline::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kStartMs = 15000;

// Polls the condition until it holds or the time is up.
template <class Condition>
bool WaitUntil(Condition condition, int timeoutMs = kStartMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

// An installation in a temporary folder with its own data, lock and runtime folders.
class Installation {
  public:
    explicit Installation(const std::string& constants, const char* binary = CLOAKLINE_INSTANCE_HOST) {
        const std::string dir = Dir.Sub("install/.keep");
        Program = Dir.Path() + "/install/cloakline";
        fs::copy_file(binary, Program);
        Dir.WriteFile("install/const.dat", "[setting]\r\nApp.ID=4242\r\nApp.GUID={T1}\r\n" + constants);
        // The program's own window asks for its movie file with a box when it is missing.
        Dir.WriteFile("install/res/shroud.dat", "");
        for (const char* sub : {"cfg", "common", "lock", "run", "home", "bin"}) {
            Dir.Sub(std::string(sub) + "/.keep");
        }
        ::chmod((Dir.Path() + "/run").c_str(), 0700);
        Events = Dir.Path() + "/events.log";
    }

    ~Installation() {
        for (pid_t pid : FStarted) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    pid_t Start(std::vector<std::string> args, std::map<std::string, std::string> extraEnv = {}) {
        std::map<std::string, std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            const auto eq = entry.find('=');
            if (eq != std::string::npos) {
                env[entry.substr(0, eq)] = entry.substr(eq + 1);
            }
        }
        env["HOME"] = Dir.Path() + "/home";
        env["XDG_CONFIG_HOME"] = Dir.Path() + "/cfg";
        env["XDG_RUNTIME_DIR"] = Dir.Path() + "/run";
        env["CLOAKLINE_COMMON_APPDATA"] = Dir.Path() + "/common";
        env["CLOAKLINE_LOCK_DIR"] = Dir.Path() + "/lock";
        env["CLOAKLINE_TEST_EVENTS"] = Events;
        env["QT_QPA_PLATFORM"] = "offscreen";
        // The program points the browsers at a direct connection when it starts
        // and ends: no desktop settings, no Firefox of this machine.
        env["GSETTINGS_BACKEND"] = "memory";
        env.erase("DBUS_SESSION_BUS_ADDRESS");
        env["PATH"] = Dir.Path() + "/bin";
        env["LANG"] = "C.UTF-8";
        env.erase("LC_ALL");
        for (const auto& [k, v] : extraEnv) {
            env[k] = v;
        }
        std::vector<std::string> envStrings;
        for (const auto& [k, v] : env) {
            envStrings.push_back(k + "=" + v);
        }
        args.insert(args.begin(), Program);
        std::vector<char*> argv, envp;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        for (auto& e : envStrings) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        // Every child's diagnostics go to one file the tests can read.
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        const std::string stderrPath = Dir.Path() + "/stderr.log";
        ::posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                           0644);
        pid_t pid = 0;
        const int spawned = ::posix_spawn(&pid, Program.c_str(), &actions, nullptr, argv.data(), envp.data());
        ::posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start " << Program;
            return -1;
        }
        FStarted.push_back(pid);
        return pid;
    }

    // The exit status, or nullopt when the process is still running after timeoutMs.
    std::optional<int> WaitExit(pid_t pid, int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (true) {
            int status = 0;
            const pid_t r = ::waitpid(pid, &status, WNOHANG);
            if (r == pid) {
                std::erase(FStarted, pid);
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (Clock::now() >= deadline) {
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    std::vector<std::string> EventsOf(pid_t pid) const {
        std::vector<std::string> events;
        std::ifstream in(Events);
        std::string line;
        const std::string prefix = std::to_string(pid) + " ";
        while (std::getline(in, line)) {
            if (line.rfind(prefix, 0) == 0) {
                events.push_back(line.substr(prefix.size()));
            }
        }
        return events;
    }

    bool HasEvent(pid_t pid, const std::string& event) const {
        for (const std::string& e : EventsOf(pid)) {
            if (e == event) {
                return true;
            }
        }
        return false;
    }

    bool WaitEvent(pid_t pid, const std::string& event, int timeoutMs = kStartMs) const {
        return WaitUntil([&] { return HasEvent(pid, event); }, timeoutMs);
    }

    // The window of that process is reachable by other instances.
    bool WaitListening(pid_t pid) const {
        const std::string name = "TfrmMain." + std::to_string(pid) + ".sock";
        return WaitUntil([&] {
            std::error_code ec;
            for (auto it = fs::recursive_directory_iterator(Dir.Path() + "/run", ec);
                 !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
                if (it->path().filename() == name) {
                    return true;
                }
            }
            return false;
        });
    }

    TempDir Dir;
    std::string Program;
    std::string Events;

  private:
    std::vector<pid_t> FStarted;
};

int MsSince(Clock::time_point start) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

TEST(SingleInstanceTest, SecondStartForwardsItsWholeFileParameterAndEnds) {
    Installation inst("");
    const pid_t first = inst.Start({});
    ASSERT_TRUE(inst.WaitEvent(first, "initpost visible=1"));

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
    ASSERT_TRUE(inst.WaitEvent(first, "initpost visible=1"));
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
    ASSERT_TRUE(inst.WaitEvent(first, "initpost visible=1"));
    const auto started = Clock::now();
    const pid_t replacement = inst.Start({"-r"});
    EXPECT_EQ(inst.WaitExit(first, kStartMs), 0);
    ASSERT_TRUE(inst.WaitEvent(replacement, "initpost visible=1"));
    EXPECT_GE(MsSince(started), 2000) << "the new instance waits before it goes on";
}

TEST(SingleInstanceTest, MultipleLetsEveryInstanceRun) {
    Installation inst("App.Multiple=1\r\n");
    const pid_t first = inst.Start({});
    ASSERT_TRUE(inst.WaitEvent(first, "initpost visible=1"));
    const pid_t second = inst.Start({"some-file.txt"});
    ASSERT_TRUE(inst.WaitEvent(second, "initpost visible=1"));
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
    EXPECT_FALSE(inst.HasEvent(first, "initpost visible=1")) << "still busy";
    EXPECT_TRUE(inst.WaitEvent(first, "initpost visible=1"));
}

TEST(SingleInstanceTest, HungFirstInstanceDoesNotHoldUpASecondStart) {
    Installation inst("");
    const pid_t first = inst.Start({});
    ASSERT_TRUE(inst.WaitEvent(first, "initpost visible=1"));
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
    ASSERT_TRUE(inst.WaitEvent(first, "initpost visible=1"));
    ::kill(first, SIGKILL);
    inst.WaitExit(first, kStartMs);
    const pid_t next = inst.Start({});
    EXPECT_TRUE(inst.WaitEvent(next, "initpost visible=1"));
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
    EXPECT_TRUE(autorun.WaitEvent(p, "initpost visible=1")) << "autorun start when the product allows it";
}

TEST(SingleInstanceTest, SwitchHStartsHidden) {
    Installation inst("");
    const pid_t p = inst.Start({"-h"});
    EXPECT_TRUE(inst.WaitEvent(p, "initpost visible=0"));
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
