#include "platform/linux/LinuxProcesses.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "core/framework/DebugLog.h"
#include "core/support/UrlUtils.h"
#include "platform/linux/NativePath.h"
#include "platform/linux/PosixIo.h"

namespace cloakline {

namespace {

class SpawnOptions {
  public:
    SpawnOptions() {
        FActionsReady = ::posix_spawn_file_actions_init(&FActions) == 0;
        FAttrReady = ::posix_spawnattr_init(&FAttr) == 0;
    }
    ~SpawnOptions() {
        if (FActionsReady) {
            ::posix_spawn_file_actions_destroy(&FActions);
        }
        if (FAttrReady) {
            ::posix_spawnattr_destroy(&FAttr);
        }
    }
    SpawnOptions(const SpawnOptions&) = delete;
    SpawnOptions& operator=(const SpawnOptions&) = delete;

    bool Prepare(const std::string& workingFolder) {
        if (!FActionsReady || !FAttrReady) {
            return false;
        }
        // The child must not read from our terminal or stdin.
        if (::posix_spawn_file_actions_addopen(&FActions, STDIN_FILENO, "/dev/null", O_RDONLY, 0) != 0) {
            return false;
        }
        if (!workingFolder.empty() &&
            ::posix_spawn_file_actions_addchdir_np(&FActions, workingFolder.c_str()) != 0) {
            return false;
        }
        // Start the child clean: no blocked signals and no inherited SIG_IGN (such as SIGPIPE).
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        sigdelset(&all, SIGKILL);
        sigdelset(&all, SIGSTOP);
        return ::posix_spawnattr_setsigmask(&FAttr, &none) == 0 &&
               ::posix_spawnattr_setsigdefault(&FAttr, &all) == 0 &&
               ::posix_spawnattr_setflags(&FAttr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
    }

    const posix_spawn_file_actions_t* Actions() const { return &FActions; }
    const posix_spawnattr_t* Attr() const { return &FAttr; }

  private:
    posix_spawn_file_actions_t FActions{};
    posix_spawnattr_t FAttr{};
    bool FActionsReady = false;
    bool FAttrReady = false;
};

std::optional<pid_t> SpawnChild(std::string program,
                                const std::vector<std::string>& arguments,
                                const std::string& workingFolder) {
    if (program.empty()) {
        return std::nullopt;
    }
    const bool hasSlash = program.find('/') != std::string::npos;
    // The working folder is entered before exec, so a relative program path
    // would otherwise be looked up from there instead of from here.
    if (hasSlash && program.front() != '/' && !workingFolder.empty()) {
        char cwd[4096];
        if (::getcwd(cwd, sizeof cwd) == nullptr) {
            return std::nullopt;
        }
        program = std::string(cwd) + "/" + program;
    }
    SpawnOptions options;
    if (!options.Prepare(workingFolder)) {
        return std::nullopt;
    }
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(program.data());
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int rc =
        hasSlash
            ? ::posix_spawn(&pid, program.c_str(), options.Actions(), options.Attr(), argv.data(), environ)
            : ::posix_spawnp(&pid, program.c_str(), options.Actions(), options.Attr(), argv.data(), environ);
    if (rc != 0) {
        return std::nullopt;
    }
    return pid;
}

// Reaps the child if it has ended; true when it is gone.
bool TryReap(pid_t pid) {
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            return true;
        }
        if (r < 0 && errno == EINTR) {
            continue;
        }
        // ECHILD: someone else reaped it (SIGCHLD ignored); it is gone either way.
        return r < 0 && errno == ECHILD;
    }
}

// The path with every link and ".." resolved; empty when it does not exist.
std::string RealPath(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) {
        return {};
    }
    std::string resolved(real);
    std::free(real);
    return resolved;
}

bool WaitByPolling(pid_t pid, std::uint32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (TryReap(pid)) {
            return true;
        }
        if (timeoutMs != INFINITE_WAIT && Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

bool WaitForChild(pid_t pid, std::uint32_t timeoutMs) {
    UniqueFd pidFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (!pidFd.Valid()) {
        return WaitByPolling(pid, timeoutMs);
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int waitMs = -1;
        if (timeoutMs != INFINITE_WAIT) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                return TryReap(pid);
            }
            waitMs = static_cast<int>(std::min<long long>(left, 1 << 30));
        }
        pollfd p{pidFd.Get(), POLLIN, 0};
        const int n = ::poll(&p, 1, waitMs);
        if (n < 0 && errno != EINTR) {
            return WaitByPolling(pid, timeoutMs);
        }
        if (n > 0 && TryReap(pid)) {
            return true;
        }
    }
}

void ReapInBackground(pid_t pid) {
    try {
        std::thread([pid] {
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the child stays a zombie until we end; nothing worse.
    }
}

LinuxProcesses::LinuxProcesses(std::string programFolder) : FProgramFolder(std::move(programFolder)) {}

std::string LinuxProcesses::OpenableAddress(std::string_view url) const {
    const TOpenTarget target = ClassifyOpenAddress(url);
    if (target.Kind == TOpenKind::Web) {
        return std::string(url);
    }
    if (target.Kind != TOpenKind::LocalFile) {
        return {};
    }
    // Links and ".." resolved on both sides, so neither can lead out of the folder.
    std::string programFolder;
    if (FProgramFolder.empty()) {
        const std::string exe = RealPath("/proc/self/exe");
        programFolder = exe.substr(0, exe.rfind('/') == std::string::npos ? 0 : exe.rfind('/'));
    } else {
        programFolder = RealPath(FProgramFolder);
    }
    const std::string file = RealPath(ToNativePath(target.Path));
    if (programFolder.empty() || file.empty() ||
        !IsPathInsideFolder(ToProgramPath(file), ToProgramPath(programFolder), false)) {
        return {};
    }
    return file;
}

bool LinuxProcesses::OpenURL(std::string_view url) {
    const std::string address = OpenableAddress(url);
    if (address.empty()) {
        DebugLog::Log("OpenURL refused: " + std::string(url), "OpenURL");
        return false;
    }
    const auto pid = SpawnChild("xdg-open", {address}, {});
    if (!pid) {
        return false;
    }
    ReapInBackground(*pid);
    return true;
}

bool LinuxProcesses::Spawn(std::string_view program,
                           const TStringList& arguments,
                           std::string_view workingFolder,
                           bool hideAndWait,
                           std::uint32_t timeoutMs) {
    const auto pid = SpawnChild(ToNativePath(program), arguments.Lines(), ToNativePath(workingFolder));
    if (!pid) {
        return false;
    }
    // A child still running after the time-out goes on; it is reaped when it ends.
    if (!hideAndWait || !WaitForChild(*pid, timeoutMs)) {
        ReapInBackground(*pid);
    }
    return true;
}

}  // namespace cloakline
