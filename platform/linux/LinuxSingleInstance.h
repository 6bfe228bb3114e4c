#pragma once

#include <string>

#include "platform/api/SingleInstance.h"
#include "platform/linux/EnvLookup.h"

namespace cloakline {

// The named mutex as an flock on a lock file in a folder all users share.
// The kernel drops the lock when the holding process dies, however it dies.
class LinuxSingleInstance : public ISingleInstance {
  public:
    explicit LinuxSingleInstance(EnvLookup env = SystemGetenv);
    // The locks stay held: they belong to the process, not to this object.
    ~LinuxSingleInstance() override = default;

    // False when another process, or this one, already holds the name.
    bool CreateUniqueMutex(std::string_view name) override;

    // $CLOAKLINE_LOCK_DIR, else /run/lock when writable, else /tmp.
    std::string LockFolder() const;

  private:
    EnvLookup FEnv;
};

// "Global\{GUID}" -> "Global__GUID_.lock".
std::string LockFileName(std::string_view mutexName);

}  // namespace cloakline
