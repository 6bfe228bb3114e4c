#pragma once

#include <string>
#include <vector>

#include "platform/api/BrowserInventory.h"
// The policy folders and the file's name, which the restore journal records too.
#include "platform/linux/LinuxProxySettingsRecorder.h"

namespace cloakline {

// Our WebRTC policy file in each managed policy folder (native paths) where
// we may write it: a folder we may write to, or our file that we may write
// (a package can install it writable for its users). Where neither holds,
// nothing is written and Applied stays false.
class LinuxChromiumPolicy : public IChromiumPolicy {
  public:
    explicit LinuxChromiumPolicy(std::vector<std::string> folders = SystemChromiumPolicyFolders());

    // While hiding the file holds the policy; at Stop a file in a folder we
    // may write is removed, one we may only write is emptied to "{}".
    // False when a folder that exists could not be given what was asked.
    bool Apply(bool hiding) override;
    bool Applied() const override { return FApplied; }

  private:
    std::vector<std::string> FFolders;
    bool FApplied = false;
};

}  // namespace cloakline
