#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace cloakline::bench {

// Lifts the soft limit of open descriptors to the hard one; children inherit
// it. Answers the limit now in force.
unsigned long RaiseDescriptorLimit();

// Resident memory of a process in kB, from /proc/PID/status ("VmRSS:" or
// the peak "VmHWM:"); -1 when it cannot be read.
long StatusKb(pid_t pid, const char* field);

// A program started in the background for one measurement; ended with
// SIGTERM (SIGKILL after two seconds) when the object goes. Its output goes
// to logFile, unless the first line is wanted (see FirstLine).
class TBenchProcess {
  public:
    TBenchProcess(const std::vector<std::string>& arguments,
                  const std::string& logFile,
                  bool pipeOutput = false);
    ~TBenchProcess();
    TBenchProcess(const TBenchProcess&) = delete;
    TBenchProcess& operator=(const TBenchProcess&) = delete;

    bool Started() const { return FPid > 0; }
    pid_t Pid() const { return FPid; }
    // The first line it writes to its standard output, waited for at most
    // timeout; empty when none came.
    std::string FirstLine(std::chrono::milliseconds timeout);
    // SIGKILL, as a crash would end it; waits until it is gone.
    void Kill();
    void Terminate();

  private:
    pid_t FPid = -1;
    int FOutput = -1;
};

// Debian's tinyproxy in the foreground on a free loopback port, allowing
// CONNECT to any port and many clients at once.
class TBenchTinyProxy {
  public:
    explicit TBenchTinyProxy(const std::string& folder);
    bool Up() const { return FUp; }
    std::uint16_t Port() const { return FPort; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(FPort); }
    void Kill() { FProcess.Kill(); }

  private:
    std::uint16_t FPort;
    TBenchProcess FProcess;
    bool FUp = false;
};

// Debian's HAProxy relaying one loopback port to another in TCP mode.
class TBenchHaProxy {
  public:
    TBenchHaProxy(const std::string& folder, std::uint16_t target);
    bool Up() const { return FUp; }
    std::uint16_t Port() const { return FPort; }

  private:
    std::uint16_t FPort;
    TBenchProcess FProcess;
    bool FUp = false;
};

// The gateway_host program forwarding through upstream (and standby).
class TBenchGateway {
  public:
    TBenchGateway(const std::string& hostProgram,
                  const std::string& folder,
                  const std::string& upstream,
                  const std::string& standby = {});
    bool Up() const { return FPort != 0; }
    std::uint16_t Port() const { return FPort; }
    pid_t Pid() const { return FProcess.Pid(); }

  private:
    TBenchProcess FProcess;
    std::uint16_t FPort = 0;
};

}  // namespace cloakline::bench
