#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>

namespace cloakline::test {

// A pipe whose ends the parent and a forked child use to say "ready".
class SignalPipe {
  public:
    SignalPipe() {
        if (::pipe2(FEnds, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe2 failed");
        }
    }
    ~SignalPipe() {
        ::close(FEnds[0]);
        ::close(FEnds[1]);
    }
    SignalPipe(const SignalPipe&) = delete;
    SignalPipe& operator=(const SignalPipe&) = delete;

    void Notify(char byte = 'r') const { [[maybe_unused]] auto n = ::write(FEnds[1], &byte, 1); }
    // The next byte, or nullopt when none came within timeoutMs.
    std::optional<char> Wait(int timeoutMs) const {
        pollfd p{FEnds[0], POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1) {
            return std::nullopt;
        }
        char byte = 0;
        if (::read(FEnds[0], &byte, 1) != 1) {
            return std::nullopt;
        }
        return byte;
    }

  private:
    int FEnds[2] = {-1, -1};
};

// Runs body in a forked child that ends with body's result as its exit code
// and never returns into the test framework. A child still running when
// this object goes is killed and reaped.
class ForkedChild {
  public:
    template <class Body>
    explicit ForkedChild(Body body) {
        FPid = ::fork();
        if (FPid < 0) {
            throw std::runtime_error("fork failed");
        }
        if (FPid == 0) {
            int code = 125;
            try {
                code = body();
            } catch (...) {
                code = 126;
            }
            ::_exit(code);
        }
    }
    ~ForkedChild() { Kill(); }
    ForkedChild(const ForkedChild&) = delete;
    ForkedChild& operator=(const ForkedChild&) = delete;

    pid_t Pid() const { return FPid; }

    // Exit code, or nullopt when the child did not end normally within timeoutMs.
    std::optional<int> WaitExit(int timeoutMs) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (FPid > 0) {
            int status = 0;
            const pid_t r = ::waitpid(FPid, &status, WNOHANG);
            if (r == FPid) {
                FPid = -1;
                return WIFEXITED(status) ? std::optional<int>(WEXITSTATUS(status)) : std::nullopt;
            }
            if (r < 0 && errno != EINTR) {
                return std::nullopt;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return std::nullopt;
    }

    void Kill() {
        if (FPid > 0) {
            ::kill(FPid, SIGKILL);
            int status = 0;
            while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
            }
            FPid = -1;
        }
    }

  private:
    pid_t FPid = -1;
};

}  // namespace cloakline::test
