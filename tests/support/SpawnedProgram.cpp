#include "tests/support/SpawnedProgram.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace cloakline::test {

TSpawnedProgram::TSpawnedProgram(const std::vector<std::string>& arguments,
                                 std::string logFile,
                                 const TEnvironment& extra)
    : FLogFile(std::move(logFile)) {
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string text(*variable);
        bool replaced = false;
        for (const auto& [name, value] : extra) {
            replaced = replaced || text.rfind(name + "=", 0) == 0;
        }
        if (!replaced) {
            environment.push_back(text);
        }
    }
    for (const auto& [name, value] : extra) {
        environment.push_back(name + "=" + value);
    }
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& variable : environment) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, FLogFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
        FPid = pid;
    }
    posix_spawn_file_actions_destroy(&actions);
}

TSpawnedProgram::~TSpawnedProgram() {
    if (!Running()) {
        return;
    }
    Signal(SIGTERM);
    if (!WaitEnded(std::chrono::seconds(10))) {
        KillHard();
    }
}

bool TSpawnedProgram::Running() {
    return Started() && !WaitEnded(std::chrono::milliseconds(0));
}

void TSpawnedProgram::Signal(int signal) const {
    if (Started() && !FStatus) {
        ::kill(FPid, signal);
    }
}

std::optional<int> TSpawnedProgram::WaitEnded(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Started() && !FStatus) {
        int status = 0;
        if (::waitpid(FPid, &status, WNOHANG) == FPid) {
            FStatus = status;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return FStatus;
}

bool TSpawnedProgram::KillHard() {
    Signal(SIGKILL);
    const auto status = WaitEnded(std::chrono::seconds(10));
    return status && WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL;
}

std::string TSpawnedProgram::Log() const {
    std::ifstream in(FLogFile, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace cloakline::test
