#pragma once

#include <sys/types.h>

#include "platform/api/Processes.h"

namespace cloakline {

// Starts programs with posix_spawn, never through a shell. Children that the
// caller does not wait for are reaped in the background, so none stays a zombie.
class LinuxProcesses : public IProcesses {
  public:
    // programFolder (native): where local pages may be opened from; empty
    // means the folder of the running program.
    explicit LinuxProcesses(std::string programFolder = {});

    // xdg-open with the address as its only argument, for an "http:" or
    // "https:" address or a file inside the program's folder (program form,
    // native or "file:"); anything else is refused with a debug log line.
    bool OpenURL(std::string_view url) override;
    // program in program or native form; a name without "/" is looked up on PATH.
    bool Spawn(std::string_view program,
               const TStringList& arguments,
               std::string_view workingFolder,
               bool hideAndWait,
               std::uint32_t timeoutMs) override;

    // The argument xdg-open gets for url, or empty when it is refused.
    std::string OpenableAddress(std::string_view url) const;

  private:
    std::string FProgramFolder;
};

// Waits for the child to end, at most timeoutMs (INFINITE_WAIT: no limit).
// True when it ended and was reaped.
bool WaitForChild(pid_t pid, std::uint32_t timeoutMs);
// Reaps the child on a detached thread.
void ReapInBackground(pid_t pid);

}  // namespace cloakline
