#pragma once

#include <string>

#include "platform/api/InstanceChannel.h"
#include "platform/linux/EnvLookup.h"

namespace cloakline {

// Messages between instances over Unix-domain stream sockets. Each listening
// main window has one socket "<class>.<pid>.sock" in a private folder of the
// user, one folder per installation:
//   $XDG_RUNTIME_DIR (or /tmp/cloakline-<uid>) / cloakline-<installation id> /
// FindWindows removes sockets whose process is gone and does not return them.
class LinuxInstanceChannel : public IInstanceChannel {
  public:
    explicit LinuxInstanceChannel(std::string installationId, EnvLookup env = SystemGetenv);

    std::vector<InstanceEndpoint> FindWindows(std::string_view className) const override;
    std::optional<std::int64_t> Send(const InstanceEndpoint& window,
                                     const InstanceMessage& message,
                                     int timeoutMs) const override;
    std::unique_ptr<IInstanceListener> Listen(std::string_view className) override;

    // The user's folder that holds the installation folders; empty when none is safe to use.
    std::string RuntimeFolder(bool create) const;
    // The folder of this installation's sockets for windows of the class.
    // Empty when it cannot be used (or, without create, does not exist).
    std::string SocketFolder(std::string_view className, bool create) const;

  private:
    std::string FInstallationId;
    EnvLookup FEnv;
};

// A folder only we can enter: made 0700 when missing (with create), else an
// existing real folder that we own, tightened to 0700. False for a symbolic
// link, another user's folder or anything that is not a folder.
bool PreparePrivateFolder(const std::string& path, bool create);

// Every character outside [A-Za-z0-9._-] becomes "_".
std::string SanitisedFileName(std::string_view text);

// How long a listener waits for one request's bytes before it drops the connection.
inline constexpr int kInstanceServeTimeoutMs = 2000;

}  // namespace cloakline
