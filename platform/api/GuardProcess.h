#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace cloakline {

// The program's end of the line to a running guard. The guard reads it as
// its standard input and takes its end without a "release" as the program's
// death, so this end must reach no other process.
class IGuardPipe {
  public:
    // Closes the program's end (the guard sees the pipe end) and reaps the guard.
    virtual ~IGuardPipe() = default;
    // False when the guard no longer reads (it ended); never raises a signal.
    virtual bool Send(std::string_view bytes) = 0;
    // Closes the program's end and waits up to waitMs for the guard to end.
    // True when it ended.
    virtual bool Close(int waitMs) = 0;
};

// Starts guards that outlive the program: in a session of their own, so that
// what ends the program's process group or terminal does not end them, and
// holding nothing of the program's but their end of the pipe.
class IGuardLauncher {
  public:
    virtual ~IGuardLauncher() = default;
    // program in program form; nullptr, with error, when it could not start.
    virtual std::unique_ptr<IGuardPipe> Start(const std::string& program,
                                              const std::vector<std::string>& args,
                                              std::string& error) = 0;
};

}  // namespace cloakline
