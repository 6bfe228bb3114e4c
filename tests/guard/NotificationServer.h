#pragma once

// The recording notification server (NotificationRecorderMain.cpp) as a
// child of the test, on the session bus the test runs in.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "tests/support/TempDir.h"

extern char** environ;

namespace cloakline::test {

class NotificationServer {
  public:
    explicit NotificationServer(std::string file) : FFile(std::move(file)) {
        std::string program = CLOAKLINE_NOTIFICATION_RECORDER;
        char* argv[] = {program.data(), FFile.data(), nullptr};
        if (::posix_spawn(&FPid, program.c_str(), nullptr, nullptr, argv, environ) != 0) {
            FPid = -1;
        }
    }
    ~NotificationServer() {
        if (FPid > 0) {
            ::kill(FPid, SIGTERM);
            ::waitpid(FPid, nullptr, 0);
        }
    }
    NotificationServer(const NotificationServer&) = delete;
    NotificationServer& operator=(const NotificationServer&) = delete;

    // Waits up to 10 s until it owns the name.
    bool WaitReady() const { return WaitFor("ready\n", 10000); }
    // Waits up to timeoutMs until its record holds text.
    bool WaitFor(const std::string& text, int timeoutMs) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Lines().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    std::string Lines() const {
        std::ifstream in(FFile);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

  private:
    std::string FFile;
    pid_t FPid = -1;
};

}  // namespace cloakline::test
