#pragma once

#include "platform/api/GuardProcess.h"

namespace cloakline {

// posix_spawn in a new session, the guard's standard input one end of a
// Unix socket pair whose other end is close-on-exec in the program, so that
// browsers the program starts never hold the guard's pipe open.
class LinuxGuardLauncher : public IGuardLauncher {
  public:
    std::unique_ptr<IGuardPipe> Start(const std::string& program,
                                      const std::vector<std::string>& args,
                                      std::string& error) override;
};

}  // namespace cloakline
