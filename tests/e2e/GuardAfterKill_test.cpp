// The real program, hiding through its real gateway on the loopback product,
// killed with SIGKILL: its guard puts the user's own GNOME proxy settings
// back within a second, or, with "Guard.BlockWeb" on, leaves the browsers on
// the dead gateway and tells the user through the desktop's notification
// server (a recording one on this test's own D-Bus session).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/e2e/LoopbackProduct.h"
#include "tests/guard/NotificationServer.h"
#include "tests/support/GnomeKeyFile.h"

extern char** environ;

namespace cloakline::test {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void Spill(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Sets key in the [setting] section at the top of the constants.
void SetConstant(std::string& constants, const std::string& key, const std::string& value) {
    const std::string line = key + "=";
    const auto at = constants.find("\n" + line);
    if (at == std::string::npos) {
        constants.insert(constants.find('\n') + 1, line + value + "\r\n");
        return;
    }
    const auto start = at + 1 + line.size();
    constants.replace(start, constants.find('\r', start) - start, value);
}

class GuardAfterKillTest : public LoopbackProductTest {
  protected:
    void TearDown() override {
        if (FProgram > 0) {
            ::kill(FProgram, SIGKILL);
            ::waitpid(FProgram, nullptr, 0);
        }
        LoopbackProductTest::TearDown();
    }

    std::string KeyFile() const {
        return std::string(std::getenv("XDG_CONFIG_HOME")) + "/glib-2.0/settings/keyfile";
    }

    // The real program (the instance host: the run routine and main window
    // of the product, pressing Hide once it is ready) in the test's
    // installation, with the guard beside it, the gateway on a port of its own.
    void StartProgram(bool blockWeb) {
        const fs::path prog = Work.Path() + "/prog";
        fs::copy_file(CLOAKLINE_INSTANCE_HOST, prog / "cloakline");
        fs::copy_file(CLOAKLINE_GUARD, prog / "cloakline-guard");
        GatewayPort = FreeLoopbackPort();
        std::string constants = Slurp(prog / "const.dat");
        ASSERT_EQ(constants.rfind("[setting]\r\n", 0), 0u);
        SetConstant(constants, "Guard.BlockWeb", blockWeb ? "1" : "0");
        SetConstant(constants, "Gateway.Enabled", "1");
        SetConstant(constants, "Gateway.Port", std::to_string(GatewayPort));
        Spill(prog / "const.dat", constants);
        for (const char* sub : {"lock", "run"}) {
            fs::create_directories(Work.Path() + "/" + sub);
        }
        ::chmod((Work.Path() + "/run").c_str(), 0700);
        Events = Work.Path() + "/events.log";

        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            env.emplace_back(*e);
        }
        env.push_back("CLOAKLINE_COMMON_APPDATA=" + Work.Sub("common"));
        env.push_back("CLOAKLINE_LOCK_DIR=" + Work.Path() + "/lock");
        env.push_back("XDG_RUNTIME_DIR=" + Work.Path() + "/run");
        env.push_back("CLOAKLINE_TEST_EVENTS=" + Events);
        env.push_back("CLOAKLINE_TEST_HIDE=1");
        std::vector<char*> envp;
        for (std::string& e : env) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        std::string program = (prog / "cloakline").string();
        char* argv[] = {program.data(), nullptr};
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        const std::string log = Work.Path() + "/program.log";
        ::posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        ASSERT_EQ(::posix_spawn(&FProgram, program.c_str(), &actions, nullptr, argv, envp.data()), 0);
        ::posix_spawn_file_actions_destroy(&actions);
    }

    bool HidingThroughGateway() {
        const std::string recorded = std::to_string(FProgram) + " hiding\n";
        return WaitUntil(
            [&] {
                const auto keys = GnomeProxyKeys(KeyFile());
                return Slurp(Events).find(recorded) != std::string::npos &&
                       keys.count("system/proxy/http/port") != 0 &&
                       keys.at("system/proxy/http/port") == std::to_string(GatewayPort);
            },
            60000);
    }

    void Kill() {
        ASSERT_EQ(::kill(FProgram, SIGKILL), 0);
        ::waitpid(FProgram, nullptr, 0);
        FProgram = -1;
    }

    std::string Diagnostics() {
        return "events:\n" + Slurp(Events) + "program:\n" + Slurp(Work.Path() + "/program.log") +
               "keyfile:\n" + Slurp(KeyFile());
    }

    // The journal anywhere in the user's folders.
    bool JournalLeft() const {
        std::error_code ec;
        for (const std::string& root :
             {std::string(std::getenv("HOME")), std::string(std::getenv("XDG_CONFIG_HOME")), Work.Path()}) {
            for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
                 it.increment(ec)) {
                if (it->path().filename() == "restore.journal") {
                    return true;
                }
            }
        }
        return false;
    }

    int GatewayPort = 0;
    std::string Events;
    pid_t FProgram = -1;
};

TEST_F(GuardAfterKillTest, KilledWhileHidingTheUsersOwnSettingsAreBackWithinOneSecond) {
    fs::create_directories(fs::path(KeyFile()).parent_path());
    Spill(KeyFile(), kUserProxyKeyFile);
    const auto original = GnomeProxyKeys(KeyFile());
    ASSERT_EQ(original.size(), 5u);
    ASSERT_NO_FATAL_FAILURE(StartProgram(false));
    ASSERT_TRUE(HidingThroughGateway()) << Diagnostics();

    ASSERT_NO_FATAL_FAILURE(Kill());
    const auto killed = std::chrono::steady_clock::now();
    bool back = false;
    while (!back && std::chrono::steady_clock::now() - killed < std::chrono::milliseconds(1000)) {
        back = GnomeProxyKeys(KeyFile()) == original;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(back) << "not within 1 s:\n" << Describe(GnomeProxyKeys(KeyFile())) << Diagnostics();
    EXPECT_TRUE(WaitUntil([&] { return !JournalLeft(); }, 2000))
        << "the journal is removed after the restore";
}

TEST_F(GuardAfterKillTest, InBlockModeTheBrowsersStayOnTheDeadGatewayAndTheUserIsTold) {
    NotificationServer notifications(Work.Path() + "/notifications");
    ASSERT_TRUE(notifications.WaitReady()) << "run through ctest (dbus-run-session)";
    fs::create_directories(fs::path(KeyFile()).parent_path());
    Spill(KeyFile(), kUserProxyKeyFile);
    ASSERT_NO_FATAL_FAILURE(StartProgram(true));
    ASSERT_TRUE(HidingThroughGateway()) << Diagnostics();
    const auto hiding = GnomeProxyKeys(KeyFile());

    ASSERT_NO_FATAL_FAILURE(Kill());
    ASSERT_TRUE(notifications.WaitFor("notify\t", 5000)) << notifications.Lines() << Diagnostics();
    EXPECT_NE(notifications.Lines().find("\tCloakline stopped unexpectedly: the web is blocked\t"),
              std::string::npos)
        << notifications.Lines();
    EXPECT_NE(notifications.Lines().find("Start Cloakline again to restore your connection."),
              std::string::npos)
        << notifications.Lines();
    const auto after = GnomeProxyKeys(KeyFile());
    EXPECT_EQ(after, hiding) << Describe(after);
    EXPECT_EQ(after.at("system/proxy/mode"), "'manual'");
    EXPECT_EQ(after.at("system/proxy/http/host"), "'127.0.0.1'");
    EXPECT_TRUE(JournalLeft()) << "the next start restores from it";
}

}  // namespace
}  // namespace cloakline::test
