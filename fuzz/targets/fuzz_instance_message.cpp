// Frames that another process writes to the running instance, decoded and
// handed to the receiving side as a window message.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/framework/InstanceMessage.h"
#include "core/framework/KTInstanceReceiver.h"
#include "core/support/TextEncoding.h"
#include "fuzz/support/FuzzCheck.h"

using namespace cloakline;

namespace {

void Deliver(const InstanceMessage& message) {
    std::vector<InstanceMessage> posted;
    int closes = 0;
    InstanceReceiverHooks hooks;
    hooks.AppId = [] { return 1234; };
    hooks.CloseApp = [&] { ++closes; };
    hooks.InitPost = [] {};
    hooks.BringToFront = [] { return true; };
    hooks.PostToSelf = [&](const InstanceMessage& m) { posted.push_back(m); };
    hooks.QueryEndSession = [] {};
    hooks.Original = [](const InstanceMessage&) -> std::int64_t { return -1; };
    TInstanceReceiver receiver(std::move(hooks));
    std::string forwarded;
    bool handed = false;
    receiver.FOnCmdFile = [&](const std::string& file) {
        forwarded = file;
        handed = true;
    };

    const std::int64_t reply = receiver.Dispatch(message);
    if (message.Name == kMsgGetAppID) {
        FUZZ_CHECK(reply == 1234);
    }
    FUZZ_CHECK(closes == (message.Name == kMsgCloseApp ? 1 : 0));
    // The messages the receiver posts to itself come back through the loop.
    for (std::size_t i = 0; i < posted.size() && i < 4; ++i) {
        receiver.Dispatch(posted[i]);
    }
    if (message.Name == kMsgCopyData && message.HasData) {
        FUZZ_CHECK(handed && forwarded == *TextFromCopyData(message));
        FUZZ_CHECK(IsValidUtf8(forwarded));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (const auto announced = InstanceRequestSize(input)) {
        FUZZ_CHECK(*announced >= kInstanceHeaderSize);
    }
    if (const auto message = DecodeInstanceRequest(input)) {
        FUZZ_CHECK(EncodeInstanceRequest(*message) == input);
        Deliver(*message);
    }
    DecodeInstanceReply(input);

    // A forwarded path arrives with every character of it.
    if (IsValidUtf8(input)) {
        const InstanceMessage copy = MakeCopyDataMessage(input);
        FUZZ_CHECK(copy.Data.size() % 2 == 0);
        FUZZ_CHECK(TextFromCopyData(copy) == std::string(input));
        const auto decoded = DecodeInstanceRequest(EncodeInstanceRequest(copy));
        if (input.size() * 2 <= kMaxInstanceData) {
            FUZZ_CHECK(decoded.has_value() && *decoded == copy);
        }
        Deliver(copy);
    }
    return 0;
}
