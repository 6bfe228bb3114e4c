#include "core/framework/KTInstanceReceiver.h"

namespace cloakline {

TInstanceReceiver::TInstanceReceiver(InstanceReceiverHooks hooks) : FHooks(std::move(hooks)) {}

std::int64_t TInstanceReceiver::Dispatch(const InstanceMessage& message) {
    const std::string& name = message.Name;
    if (name == kMsgGetAppID) {
        return FHooks.AppId ? FHooks.AppId() : 0;
    }
    if (name == kMsgCloseApp) {
        if (FHooks.CloseApp) {
            FHooks.CloseApp();
        }
        return 0;
    }
    if (name == kMsgInitPost) {
        if (FHooks.InitPost) {
            FHooks.InitPost();
        }
        return 0;
    }
    if (name == kMsgIfBusy) {
        return FInInited ? 1 : 0;
    }
    if (name == kMsgBringToFront) {
        return FHooks.BringToFront && FHooks.BringToFront() ? 1 : 0;
    }
    if (name == kMsgCopyData && message.HasData) {
        FParamFile = TextFromCopyData(message).value_or(std::string());
        if (FHooks.PostToSelf) {
            InstanceMessage post;
            post.Name = std::string(kMsgCmdParam);
            FHooks.PostToSelf(post);
        }
        return 0;
    }
    if (name == kMsgCmdParam && FOnCmdFile) {
        FOnCmdFile(FParamFile);
        return 0;
    }
    if (name == kMsgQueryEndSession && FHooks.QueryEndSession) {
        FHooks.QueryEndSession();
    }
    return FHooks.Original ? FHooks.Original(message) : 0;
}

}  // namespace cloakline
