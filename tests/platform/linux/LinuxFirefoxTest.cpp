#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/proxy/FirefoxProfiles.h"
#include "platform/linux/LinuxFirefox.h"
#include "tests/platform/linux/FakeEnv.h"
#include "tests/platform/linux/ForkedChild.h"
#include "tests/support/TempDir.h"

namespace cloakline {
namespace {

namespace fs = std::filesystem;
using test::FakeEnv;
using test::TempDir;
using test::ToProgramForm;

void MakeExecutable(const TempDir& dir, const std::string& relative) {
    dir.WriteFile(relative, "#!/bin/sh\nexit 0\n");
    fs::permissions(dir.Path() + "/" + relative, fs::perms::owner_all | fs::perms::group_read |
                                                     fs::perms::group_exec | fs::perms::others_read |
                                                     fs::perms::others_exec);
}

TEST(LinuxFirefoxLookupTest, PathWinsOverTheUsualPlaces) {
    TempDir dir;
    MakeExecutable(dir, "a/firefox-esr");
    MakeExecutable(dir, "b/firefox");
    MakeExecutable(dir, "usual/firefox");
    const std::vector<std::string> usual = {dir.Path() + "/usual/firefox"};

    FakeEnv both{{"PATH", dir.Path() + "/a:" + dir.Path() + "/b/"}};
    EXPECT_EQ(LinuxFirefox(both.Lookup(), usual).FindInstalledProgram(),
              ToProgramForm(dir.Path() + "/b/firefox"))
        << "the plain name before the ESR one";
    FakeEnv esrOnly{{"PATH", "/nonexistent:" + dir.Path() + "/a"}};
    EXPECT_EQ(LinuxFirefox(esrOnly.Lookup(), usual).FindInstalledProgram(),
              ToProgramForm(dir.Path() + "/a/firefox-esr"));
    FakeEnv none{{"PATH", "/nonexistent"}};
    EXPECT_EQ(LinuxFirefox(none.Lookup(), usual).FindInstalledProgram(),
              ToProgramForm(dir.Path() + "/usual/firefox"));
    FakeEnv unset{};
    EXPECT_EQ(LinuxFirefox(unset.Lookup(), usual).FindInstalledProgram(),
              ToProgramForm(dir.Path() + "/usual/firefox"));
    EXPECT_EQ(LinuxFirefox(none.Lookup(), {}).FindInstalledProgram(), "");
}

TEST(LinuxFirefoxLookupTest, OnlyExecutableFilesInAbsoluteFoldersCount) {
    TempDir dir;
    dir.WriteFile("plain/firefox", "not a program");
    fs::permissions(dir.Path() + "/plain/firefox", fs::perms::owner_read | fs::perms::owner_write);
    dir.Sub("folder/firefox/.keep");
    MakeExecutable(dir, "rel/firefox");
    fs::create_symlink(dir.Path() + "/rel/firefox", dir.Sub("link/firefox"));

    // Relative entries (and the empty one, the current folder) are not searched.
    const fs::path cwd = fs::current_path();
    fs::current_path(dir.Path());
    FakeEnv env{{"PATH", "rel::plain:" + dir.Path() + "/plain:" + dir.Path() + "/folder"}};
    const std::string found = LinuxFirefox(env.Lookup(), {}).FindInstalledProgram();
    fs::current_path(cwd);
    EXPECT_EQ(found, "");
    // A link to a program is a program; its own path is answered.
    FakeEnv linked{{"PATH", dir.Path() + "/link"}};
    EXPECT_EQ(LinuxFirefox(linked.Lookup(), {}).FindInstalledProgram(),
              ToProgramForm(dir.Path() + "/link/firefox"));
}

class LinuxFirefoxProfileTest : public ::testing::Test {
  protected:
    LinuxFirefoxProfileTest()
        : Env{{"HOME", Dir.Path() + "/home"}, {"XDG_CONFIG_HOME", Dir.Path() + "/cfg"}},
          Firefox(
              Env.Lookup(),
              {},
              [this] { return DesktopKeepsProxy; },
              [this](const std::string&) { return InUse; }) {}

    std::string Program(const std::string& relative) const {
        return ToProgramForm(Dir.Path() + "/" + relative);
    }

    // A profile whose own setting is a fixed proxy.
    void ManualProfile(const std::string& folder) {
        Dir.WriteFile("home/.mozilla/firefox/" + folder + "/prefs.js", kManualPrefs);
    }

    static constexpr const char* kManualPrefs = "user_pref(\"network.proxy.type\", 1);\n";
    TempDir Dir;
    FakeEnv Env;
    bool DesktopKeepsProxy = true;
    bool InUse = false;
    LinuxFirefox Firefox;
};

TEST_F(LinuxFirefoxProfileTest, ProfilesOfEveryPlaceThatExist) {
    Dir.WriteFile("home/.mozilla/firefox/profiles.ini",
                  "[Profile0]\nName=default\nIsRelative=1\nPath=abc.default\n\n"
                  "[Profile1]\nName=gone\nIsRelative=1\nPath=gone.default\n\n"
                  "[Profile2]\nName=elsewhere\nIsRelative=0\nPath=" +
                      Dir.Path() + "/elsewhere\n");
    Dir.Sub("home/.mozilla/firefox/abc.default/.keep");
    Dir.Sub("elsewhere/.keep");
    Dir.WriteFile("cfg/mozilla/firefox/profiles.ini",
                  "[Profile0]\nIsRelative=1\nPath=xdg.default\n"
                  "[Profile1]\nIsRelative=0\nPath=" +
                      Dir.Path() + "/elsewhere/\n");
    Dir.Sub("cfg/mozilla/firefox/xdg.default/.keep");
    Dir.WriteFile("home/snap/firefox/common/.mozilla/firefox/profiles.ini",
                  "[Profile0]\nIsRelative=1\nPath=s\n");
    Dir.Sub("home/snap/firefox/common/.mozilla/firefox/s/.keep");

    EXPECT_EQ(Firefox.ProfileFolders(),
              (std::vector<std::string>{Program("home/.mozilla/firefox/abc.default"), Program("elsewhere"),
                                        Program("cfg/mozilla/firefox/xdg.default"),
                                        Program("home/snap/firefox/common/.mozilla/firefox/s")}))
        << "a missing folder is skipped, one listed twice counted once";
}

TEST_F(LinuxFirefoxProfileTest,
       ProfilesSetOtherwiseFollowTheDesktopEveryProfileIsGuardedAndStopGivesThemBack) {
    Dir.WriteFile("home/.mozilla/firefox/profiles.ini",
                  "[Profile0]\nIsRelative=1\nPath=a\n[Profile1]\nIsRelative=1\nPath=b\n");
    const std::string userLines = "user_pref(\"browser.startup.page\", 3);\n";
    ManualProfile("a");
    Dir.WriteFile("home/.mozilla/firefox/a/user.js", userLines);
    Dir.Sub("home/.mozilla/firefox/b/.keep");

    ASSERT_TRUE(Firefox.ApplyProxy("\\usr\\bin\\firefox", "1.2.3.4:8080"));
    const std::string hiding = Dir.ReadFile("home/.mozilla/firefox/a/user.js");
    EXPECT_EQ(hiding, SwitchFirefoxPrefFiles({kManualPrefs, userLines}, true, false).UserJs);
    EXPECT_NE(hiding.find("user_pref(\"network.proxy.type\", 5);"), std::string::npos);
    EXPECT_EQ(hiding.find("1.2.3.4"), std::string::npos) << "the proxy itself is the desktop's";
    const std::string guardOnly = Dir.ReadFile("home/.mozilla/firefox/b/user.js");
    EXPECT_EQ(guardOnly, SwitchFirefoxPrefFiles({}, true, false).UserJs);
    EXPECT_EQ(guardOnly.find("network.proxy.type"), std::string::npos) << "b follows the desktop";
    EXPECT_NE(guardOnly.find("user_pref(\"media.peerconnection.ice.proxy_only_if_behind_proxy\", true);"),
              std::string::npos);

    ASSERT_TRUE(Firefox.ApplyProxy("\\usr\\bin\\firefox", ""));
    EXPECT_EQ(Dir.ReadFile("home/.mozilla/firefox/a/user.js"), userLines);
    EXPECT_EQ(Dir.ReadFile("home/.mozilla/firefox/a/prefs.js"), kManualPrefs);
    EXPECT_FALSE(fs::exists(Dir.Path() + "/home/.mozilla/firefox/b/user.js"));
}

TEST_F(LinuxFirefoxProfileTest, ALinkedUserJsStaysALink) {
    Dir.WriteFile("home/.mozilla/firefox/profiles.ini", "[Profile0]\nIsRelative=1\nPath=a\n");
    ManualProfile("a");
    Dir.WriteFile("shared/user.js", "// kept in one place for every profile\n");
    fs::create_symlink(Dir.Path() + "/shared/user.js", Dir.Sub("home/.mozilla/firefox/a/user.js"));
    ASSERT_TRUE(Firefox.ApplyProxy("", "1.2.3.4:8080"));
    EXPECT_TRUE(fs::is_symlink(Dir.Path() + "/home/.mozilla/firefox/a/user.js"));
    EXPECT_NE(Dir.ReadFile("shared/user.js").find("// Cloakline proxy: begin"), std::string::npos);
    ASSERT_TRUE(Firefox.ApplyProxy("", ""));
    EXPECT_TRUE(fs::is_symlink(Dir.Path() + "/home/.mozilla/firefox/a/user.js"));
    EXPECT_EQ(Dir.ReadFile("shared/user.js"), "// kept in one place for every profile\n");
}

TEST_F(LinuxFirefoxProfileTest, MalformedTextsWriteNothing) {
    Dir.WriteFile("home/.mozilla/firefox/profiles.ini", "[Profile0]\nIsRelative=1\nPath=a\n");
    ManualProfile("a");
    Dir.WriteFile("home/.mozilla/firefox/a/user.js", "// mine\n");
    for (const std::string bad : {"1.2.3.4", "h:80\");\nuser_pref(\"x\", 1", "h:99999", "\":1"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(Firefox.ApplyProxy("", bad));
    }
    EXPECT_EQ(Dir.ReadFile("home/.mozilla/firefox/a/user.js"), "// mine\n");
}

TEST_F(LinuxFirefoxProfileTest, FailuresAreReportedAndTheOtherProfilesStillSwitched) {
    Dir.WriteFile("home/.mozilla/firefox/profiles.ini",
                  "[Profile0]\nIsRelative=1\nPath=a\n[Profile1]\nIsRelative=1\nPath=b\n");
    Dir.Sub("home/.mozilla/firefox/a/user.js/.keep");  // cannot be read as a file
    ManualProfile("b");
    EXPECT_FALSE(Firefox.ApplyProxy("", "1.2.3.4:8080"));
    EXPECT_TRUE(fs::is_directory(Dir.Path() + "/home/.mozilla/firefox/a/user.js"));
    EXPECT_NE(Dir.ReadFile("home/.mozilla/firefox/b/user.js").find("// Cloakline proxy: begin"),
              std::string::npos)
        << "the other profile is still switched";

    // Every profile follows the desktop while hiding: a desktop whose
    // settings Firefox cannot read leaves them all direct.
    fs::remove_all(Dir.Path() + "/home/.mozilla/firefox/a");
    DesktopKeepsProxy = false;
    EXPECT_FALSE(Firefox.ApplyProxy("", "1.2.3.4:8080"));
    EXPECT_TRUE(Firefox.ApplyProxy("", "")) << "a Stop leaves nothing on a proxy";
    fs::remove(Dir.Path() + "/home/.mozilla/firefox/profiles.ini");
    EXPECT_TRUE(Firefox.ApplyProxy("", "1.2.3.4:8080")) << "no profile is nothing to switch";
}

TEST_F(LinuxFirefoxProfileTest, AProfileIsInUseWhileItsLockNamesALiveProcess) {
    const std::string folder = Dir.Path() + "/profile";
    Dir.Sub("profile/.keep");
    EXPECT_FALSE(FirefoxProfileInUse(ToProgramForm(folder)));
    fs::create_symlink("127.0.0.1:+" + std::to_string(::getpid()), folder + "/lock");
    EXPECT_TRUE(FirefoxProfileInUse(ToProgramForm(folder)));
    fs::remove(folder + "/lock");
    fs::create_symlink("127.0.0.1:+99999999", folder + "/lock");
    EXPECT_FALSE(FirefoxProfileInUse(ToProgramForm(folder))) << "left behind by a Firefox that crashed";
}

TEST_F(LinuxFirefoxProfileTest, ExtensionStepNeedsAWritableProfile) {
    EXPECT_FALSE(Firefox.InstallExtension("", "")) << "no profiles.ini";

    Dir.WriteFile("home/.mozilla/firefox/profiles.ini", "[Profile0]\nIsRelative=1\nPath=a\n");
    EXPECT_FALSE(Firefox.InstallExtension("", "")) << "listed but not there";
    Dir.Sub("home/.mozilla/firefox/a/.keep");
    EXPECT_TRUE(Firefox.InstallExtension("", ""));
    if (::geteuid() != 0) {
        fs::permissions(Dir.Path() + "/home/.mozilla/firefox/a",
                        fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(Firefox.InstallExtension("", ""));
    }
}

// A copy of sleep under Firefox's name, started for the test and stopped by it.
class FakeFirefoxProcess {
  public:
    FakeFirefoxProcess(const std::string& program, const std::string& name, uid_t runAs = 0) {
        FChild = std::make_unique<test::ForkedChild>([=] {
            if (runAs != 0 && (::setgid(runAs) != 0 || ::setuid(runAs) != 0)) {
                return 120;
            }
            char* argv[] = {const_cast<char*>(name.c_str()), const_cast<char*>("30"), nullptr};
            ::execv(program.c_str(), argv);
            return 121;
        });
    }
    pid_t Pid() const { return FChild->Pid(); }
    // True once the child runs the program (its name no longer the test's).
    bool WaitForExec(const std::string& program) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        const std::string exe = "/proc/" + std::to_string(Pid()) + "/exe";
        while (std::chrono::steady_clock::now() < deadline) {
            std::error_code ec;
            if (fs::read_symlink(exe, ec) == fs::path(program)) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    void Stop() { FChild->Kill(); }

  private:
    std::unique_ptr<test::ForkedChild> FChild;
};

// These tests start processes that every IsRunning of this user sees, so
// test programs running side by side take turns through a lock file.
class FakeFirefoxTurn {
  public:
    FakeFirefoxTurn() {
        const std::string path = (fs::temp_directory_path() / "cloakline-fake-firefox.lock").string();
        FFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (FFd >= 0 && ::flock(FFd, LOCK_EX | LOCK_NB) != 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                ::close(FFd);
                FFd = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~FakeFirefoxTurn() {
        if (FFd >= 0) {
            ::close(FFd);
        }
    }
    FakeFirefoxTurn(const FakeFirefoxTurn&) = delete;
    FakeFirefoxTurn& operator=(const FakeFirefoxTurn&) = delete;
    bool Held() const { return FFd >= 0; }

  private:
    int FFd = -1;
};

class LinuxFirefoxRunningTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(Turn.Held());
        if (LinuxFirefox().IsRunning()) {
            GTEST_SKIP() << "a real Firefox of this user runs";
        }
        std::error_code ec;
        for (const char* sleep : {"/usr/bin/sleep", "/bin/sleep"}) {
            if (fs::copy_file(sleep, Dir.Path() + "/firefox", ec)) {
                break;
            }
        }
        ASSERT_TRUE(fs::exists(Dir.Path() + "/firefox"));
        fs::permissions(Dir.Path() + "/firefox", fs::perms::owner_all | fs::perms::group_read |
                                                     fs::perms::group_exec | fs::perms::others_read |
                                                     fs::perms::others_exec);
    }
    std::string Program() const { return Dir.Path() + "/firefox"; }

    FakeFirefoxTurn Turn;
    TempDir Dir;
};

TEST_F(LinuxFirefoxRunningTest, AProcessCalledFirefoxIsSeenUntilItEnds) {
    LinuxFirefox firefox;
    FakeFirefoxProcess process(Program(), "firefox");
    ASSERT_TRUE(process.WaitForExec(Program()));
    EXPECT_TRUE(firefox.IsRunning());
    process.Stop();
    EXPECT_FALSE(firefox.IsRunning());
}

TEST_F(LinuxFirefoxRunningTest, TheProgramFileCountsWhateverTheProcessIsCalled) {
    // Started through a link of another name, the process is named after the link.
    fs::create_symlink(Program(), Dir.Path() + "/sleepy");
    FakeFirefoxProcess process(Dir.Path() + "/sleepy", "sleepy");
    ASSERT_TRUE(process.WaitForExec(Program()));
    std::ifstream comm("/proc/" + std::to_string(process.Pid()) + "/comm");
    std::string name;
    std::getline(comm, name);
    EXPECT_EQ(name, "sleepy");
    EXPECT_TRUE(LinuxFirefox().IsRunning());
}

TEST_F(LinuxFirefoxRunningTest, AnotherUsersFirefoxDoesNotCount) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to start a process as another user";
    }
    FakeFirefoxProcess process(Program(), "firefox", 65534);
    ASSERT_TRUE(process.WaitForExec(Program()));
    EXPECT_FALSE(LinuxFirefox().IsRunning());
}

}  // namespace
}  // namespace cloakline
