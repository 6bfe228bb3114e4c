#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/framework/InstanceMessage.h"

namespace cloakline {

// What the receiving window does for the protocol's messages. Unset hooks do nothing.
struct InstanceReceiverHooks {
    std::function<std::int32_t()> AppId;
    std::function<void()> CloseApp;
    std::function<void()> InitPost;
    // Restores the main window from the tray; false when it has no tray icon.
    std::function<bool()> BringToFront;
    // Queues a message to this window, delivered later by the message loop.
    std::function<void(const InstanceMessage&)> PostToSelf;
    std::function<void()> QueryEndSession;
    // The window's own handling of everything else.
    std::function<std::int64_t(const InstanceMessage&)> Original;
};

// The receiving side of the protocol, hooked in front of the main window's handling.
class TInstanceReceiver {
  public:
    explicit TInstanceReceiver(InstanceReceiverHooks hooks);

    std::int64_t Dispatch(const InstanceMessage& message);

    // True from creation until the deferred initialisation has finished.
    bool FInInited = true;
    std::string FParamFile;
    std::function<void(const std::string& strFileName)> FOnCmdFile;

  private:
    InstanceReceiverHooks FHooks;
};

}  // namespace cloakline
