#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cloakline::test {

// A program run beside a test, both output channels in a log file, with this
// process's environment plus some variables. Ended with SIGTERM when the
// object goes, killed when it has not ended within 10 seconds.
class TSpawnedProgram {
  public:
    using TEnvironment = std::vector<std::pair<std::string, std::string>>;

    TSpawnedProgram(const std::vector<std::string>& arguments,
                    std::string logFile,
                    const TEnvironment& extra = {});
    ~TSpawnedProgram();
    TSpawnedProgram(const TSpawnedProgram&) = delete;
    TSpawnedProgram& operator=(const TSpawnedProgram&) = delete;

    bool Started() const { return FPid > 0; }
    bool Running();
    void Signal(int signal) const;
    // The wait status once it has ended within timeout; nullopt while it runs.
    std::optional<int> WaitEnded(std::chrono::milliseconds timeout);
    // SIGKILL, as a crash or the OOM killer would end it; true once it has
    // ended by that signal.
    bool KillHard();
    std::string Log() const;

  private:
    pid_t FPid = -1;
    std::optional<int> FStatus;
    std::string FLogFile;
};

}  // namespace cloakline::test
