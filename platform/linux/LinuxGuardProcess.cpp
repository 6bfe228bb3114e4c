#include "platform/linux/LinuxGuardProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/linux/NativePath.h"

extern char** environ;

namespace cloakline {

namespace {

class LinuxGuardPipe : public IGuardPipe {
  public:
    LinuxGuardPipe(int fd, pid_t pid) : FFd(fd), FPid(pid) {}
    ~LinuxGuardPipe() override { Close(1000); }

    bool Send(std::string_view bytes) override {
        while (!bytes.empty() && FFd >= 0) {
            // MSG_NOSIGNAL: a guard that died must not take the program with it.
            const ssize_t n = ::send(FFd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return FFd >= 0;
    }

    bool Close(int waitMs) override {
        if (FFd >= 0) {
            ::close(FFd);
            FFd = -1;
        }
        if (FPid <= 0) {
            return true;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (true) {
            const pid_t r = ::waitpid(FPid, nullptr, WNOHANG);
            if (r == FPid || (r < 0 && errno == ECHILD)) {
                FPid = -1;
                return true;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

  private:
    int FFd;
    pid_t FPid;
};

}  // namespace

std::unique_ptr<IGuardPipe> LinuxGuardLauncher::Start(const std::string& program,
                                                      const std::vector<std::string>& args,
                                                      std::string& error) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        error = std::string("socketpair: ") + std::strerror(errno);
        return nullptr;
    }
    const std::string path = ToNativePath(program);
    std::vector<std::string> argStrings{path};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStrings) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, ends[1], 0);
    ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    // Nothing else of the program's: an inherited lock would keep the next
    // start from seeing that this instance has gone.
    ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attr;
    ::posix_spawnattr_init(&attr);
    // The end signals arrive blocked: the guard reads them once it is ready,
    // so that one sent while it starts does not end it before it restored.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int s : {SIGTERM, SIGINT, SIGHUP}) {
        sigaddset(&endSignals, s);
    }
    for (const int s : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD}) {
        sigaddset(&defaults, s);
    }
    ::posix_spawnattr_setsigmask(&attr, &endSignals);
    ::posix_spawnattr_setsigdefault(&attr, &defaults);
    ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, path.c_str(), &actions, &attr, argv.data(), environ);
    ::posix_spawnattr_destroy(&attr);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (spawned != 0) {
        ::close(ends[0]);
        error = path + ": " + std::strerror(spawned);
        return nullptr;
    }
    return std::make_unique<LinuxGuardPipe>(ends[0], pid);
}

}  // namespace cloakline
