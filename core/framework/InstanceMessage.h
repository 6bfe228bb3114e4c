#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cloakline {

// Names of the messages between instances. The six registered ones come first.
inline constexpr std::string_view kMsgGetAppID = "KT GetAppID";
inline constexpr std::string_view kMsgCloseApp = "KT CloseApp";
inline constexpr std::string_view kMsgInitPost = "KT InitPost";
inline constexpr std::string_view kMsgCmdParam = "KT CmdParam";
inline constexpr std::string_view kMsgIfBusy = "KT IfBusy";
inline constexpr std::string_view kMsgBringToFront = "KT BringtoFront";
inline constexpr std::string_view kMsgCopyData = "WM_COPYDATA";
inline constexpr std::string_view kMsgQueryEndSession = "WM_QUERYENDSESSION";
// Where one process may not raise another's window, the window raises itself
// when asked with this message.
inline constexpr std::string_view kMsgForceForeground = "KT ForceForeground";

// One window message: a name, two parameters and, for WM_COPYDATA, the
// record's dwData and bytes.
struct InstanceMessage {
    std::string Name;
    std::int64_t WParam = 0;
    std::int64_t LParam = 0;
    bool HasData = false;
    std::uint64_t DataTag = 0;  // dwData
    std::string Data;           // lpData, cbData bytes

    friend bool operator==(const InstanceMessage&, const InstanceMessage&) = default;
};

// Forwarded texts above this size are not sent.
inline constexpr std::size_t kMaxInstanceData = 1u << 20;
inline constexpr std::size_t kMaxInstanceNameLength = 256;

// The forwarded-text record: dwData 0, the text's UTF-16LE code units without
// a terminating zero, so cbData is twice the number of code units.
InstanceMessage MakeCopyDataMessage(std::string_view text);
// The text rebuilt from cbData / 2 code units; nullopt when the record has no data.
std::optional<std::string> TextFromCopyData(const InstanceMessage& message);

// Wire form of a request and a reply. Decoding rejects anything malformed,
// truncated, oversized or with trailing bytes.
std::string EncodeInstanceRequest(const InstanceMessage& message);
std::optional<InstanceMessage> DecodeInstanceRequest(std::string_view frame);
// Bytes a complete request needs, read from its fixed header; nullopt while
// fewer than kInstanceHeaderSize bytes are there or the header is invalid.
inline constexpr std::size_t kInstanceHeaderSize = 8;
std::optional<std::size_t> InstanceRequestSize(std::string_view header);

std::string EncodeInstanceReply(std::int64_t reply);
inline constexpr std::size_t kInstanceReplySize = 12;
std::optional<std::int64_t> DecodeInstanceReply(std::string_view frame);

}  // namespace cloakline
