#pragma once

#include <string>

#include "platform/api/SingleInstance.h"
#include "platform/linux/EnvLookup.h"

namespace cloakline {

// The named mutex as an flock on a 0600 lock file in the user's session
// folder ($XDG_RUNTIME_DIR, or the private fallback the instance sockets use),
// so the one-instance rule holds per user session and no other user can hold
// the lock. The kernel drops the lock when the holding process dies.
class LinuxSingleInstance : public ISingleInstance {
  public:
    explicit LinuxSingleInstance(EnvLookup env = SystemGetenv);
    // The locks stay held: they belong to the process, not to this object.
    ~LinuxSingleInstance() override = default;

    // False when another process, or this one, already holds the name.
    bool CreateUniqueMutex(std::string_view name) override;

    // $CLOAKLINE_LOCK_DIR, else the session folder; empty when none is safe.
    std::string LockFolder() const;

  private:
    EnvLookup FEnv;
};

// "Global\{GUID}" -> "Global__GUID_.lock".
std::string LockFileName(std::string_view mutexName);

}  // namespace cloakline
