#pragma once

// An installation of the program in a temporary folder, and the processes
// started from it, each with its own environment and all killed at the end.
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
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TempDir.h"

extern char** environ;

namespace cloakline::test {

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
    using Environment = std::map<std::string, std::optional<std::string>>;

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
        // The last started first: a program before the display it runs on.
        std::reverse(FStarted.begin(), FStarted.end());
        for (pid_t pid : FStarted) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    // The program with the installation's environment; an extra variable
    // without a value is taken out of it.
    pid_t Start(std::vector<std::string> args, const Environment& extraEnv = {}) {
        return Spawn(Program, std::move(args), extraEnv);
    }

    // Any program with the installation's environment, ended with the installation.
    pid_t Spawn(const std::string& program, std::vector<std::string> args, const Environment& extraEnv = {}) {
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
            if (v) {
                env[k] = *v;
            } else {
                env.erase(k);
            }
        }
        std::vector<std::string> envStrings;
        for (const auto& [k, v] : env) {
            envStrings.push_back(k + "=" + v);
        }
        args.insert(args.begin(), program);
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
        const int spawned =
            ::posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
        ::posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start " << program;
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

    // The last event of that process that starts with prefix; empty when none.
    std::string LastEvent(pid_t pid, const std::string& prefix) const {
        std::string last;
        for (const std::string& e : EventsOf(pid)) {
            if (e.rfind(prefix, 0) == 0) {
                last = e;
            }
        }
        return last;
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

inline int MsSince(Clock::time_point start) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

}  // namespace cloakline::test
