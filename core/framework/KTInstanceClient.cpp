#include "core/framework/KTInstanceClient.h"

#include "core/framework/InstanceMessage.h"

namespace cloakline {

TInstanceClient::TInstanceClient(const IInstanceChannel& channel, std::int32_t appId, int timeoutMs)
    : FChannel(channel), FAppId(appId), FTimeoutMs(timeoutMs) {}

std::optional<std::int64_t> TInstanceClient::Send(const InstanceEndpoint& window,
                                                  std::string_view name) const {
    InstanceMessage message;
    message.Name = std::string(name);
    return FChannel.Send(window, message, FTimeoutMs);
}

std::optional<InstanceEndpoint> TInstanceClient::FindRunningInstance(std::string_view className) const {
    for (const InstanceEndpoint& window : FChannel.FindWindows(className)) {
        // A window of another installation (another App.ID) or one that does not answer is passed over.
        const auto reply = Send(window, kMsgGetAppID);
        if (reply && *reply == FAppId) {
            return window;
        }
    }
    return std::nullopt;
}

void TInstanceClient::CloseRunningInstance(std::string_view className) const {
    if (const auto window = FindRunningInstance(className)) {
        Send(*window, kMsgCloseApp);
    }
}

bool TInstanceClient::ActivateRunningInstance(std::string_view className) const {
    const auto window = FindRunningInstance(className);
    if (!window) {
        return false;
    }
    if (Send(*window, kMsgIfBusy) == 1) {
        return true;
    }
    if (Send(*window, kMsgBringToFront) == 1) {
        return true;
    }
    Send(*window, kMsgForceForeground);
    return true;
}

void TInstanceClient::SendToRunningInstance(std::string_view className, std::string_view text) const {
    if (const auto window = FindRunningInstance(className)) {
        FChannel.Send(*window, MakeCopyDataMessage(text), FTimeoutMs);
    }
}

}  // namespace cloakline
