#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/api/InstanceChannel.h"

namespace cloakline {

// The starting instance's side of the protocol between instances.
class TInstanceClient {
  public:
    // Every request waits at most timeoutMs for its reply.
    TInstanceClient(const IInstanceChannel& channel, std::int32_t appId, int timeoutMs);

    // The first window of the class that answers "KT GetAppID" with our App.ID.
    std::optional<InstanceEndpoint> FindRunningInstance(std::string_view className) const;
    void CloseRunningInstance(std::string_view className) const;
    // False when no running instance answered.
    bool ActivateRunningInstance(std::string_view className) const;
    void SendToRunningInstance(std::string_view className, std::string_view text) const;

  private:
    std::optional<std::int64_t> Send(const InstanceEndpoint& window, std::string_view name) const;

    const IInstanceChannel& FChannel;
    std::int32_t FAppId;
    int FTimeoutMs;
};

}  // namespace cloakline
