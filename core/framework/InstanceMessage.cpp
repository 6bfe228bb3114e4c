#include "core/framework/InstanceMessage.h"

#include "core/support/TextEncoding.h"

namespace cloakline {

namespace {

// Request: "KTIM", u32 body size, then the body:
//   u16 name size, name, i64 wParam, i64 lParam, u8 has data, u64 dwData, u32 data size, data.
// Reply: "KTIR", i64 result. All numbers little-endian.
constexpr std::string_view kRequestMagic = "KTIM";
constexpr std::string_view kReplyMagic = "KTIR";
constexpr std::size_t kFixedBodySize = 2 + 8 + 8 + 1 + 8 + 4;
constexpr std::size_t kMaxBodySize = kFixedBodySize + kMaxInstanceNameLength + kMaxInstanceData;

void PutUnsigned(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

class Reader {
  public:
    explicit Reader(std::string_view bytes) : FBytes(bytes) {}

    bool Unsigned(int bytes, std::uint64_t& value) {
        if (FBytes.size() - FPos < static_cast<std::size_t>(bytes)) {
            return false;
        }
        value = 0;
        for (int i = 0; i < bytes; ++i) {
            value |= std::uint64_t{static_cast<unsigned char>(FBytes[FPos + static_cast<std::size_t>(i)])}
                     << (8 * i);
        }
        FPos += static_cast<std::size_t>(bytes);
        return true;
    }
    bool Bytes(std::size_t count, std::string& out) {
        if (FBytes.size() - FPos < count) {
            return false;
        }
        out.assign(FBytes.substr(FPos, count));
        FPos += count;
        return true;
    }
    bool AtEnd() const { return FPos == FBytes.size(); }

  private:
    std::string_view FBytes;
    std::size_t FPos = 0;
};

}  // namespace

InstanceMessage MakeCopyDataMessage(std::string_view text) {
    InstanceMessage message;
    message.Name = std::string(kMsgCopyData);
    message.HasData = true;
    message.DataTag = 0;
    message.Data = Utf16ToBytes(Utf8ToUtf16(text), false);
    return message;
}

std::optional<std::string> TextFromCopyData(const InstanceMessage& message) {
    if (!message.HasData) {
        return std::nullopt;
    }
    return Utf16ToUtf8(Utf16FromBytes(message.Data, false));
}

std::string EncodeInstanceRequest(const InstanceMessage& message) {
    std::string body;
    const std::string_view name = std::string_view(message.Name).substr(0, kMaxInstanceNameLength);
    const std::string_view data = std::string_view(message.Data).substr(0, kMaxInstanceData);
    PutUnsigned(body, name.size(), 2);
    body.append(name);
    PutUnsigned(body, static_cast<std::uint64_t>(message.WParam), 8);
    PutUnsigned(body, static_cast<std::uint64_t>(message.LParam), 8);
    PutUnsigned(body, message.HasData ? 1 : 0, 1);
    PutUnsigned(body, message.DataTag, 8);
    PutUnsigned(body, data.size(), 4);
    body.append(data);

    std::string frame(kRequestMagic);
    PutUnsigned(frame, body.size(), 4);
    return frame + body;
}

std::optional<std::size_t> InstanceRequestSize(std::string_view header) {
    if (header.size() < kInstanceHeaderSize || header.substr(0, 4) != kRequestMagic) {
        return std::nullopt;
    }
    Reader reader(header.substr(4, 4));
    std::uint64_t bodySize = 0;
    reader.Unsigned(4, bodySize);
    if (bodySize < kFixedBodySize || bodySize > kMaxBodySize) {
        return std::nullopt;
    }
    return kInstanceHeaderSize + static_cast<std::size_t>(bodySize);
}

std::optional<InstanceMessage> DecodeInstanceRequest(std::string_view frame) {
    const auto size = InstanceRequestSize(frame);
    if (!size || *size != frame.size()) {
        return std::nullopt;
    }
    Reader reader(frame.substr(kInstanceHeaderSize));
    InstanceMessage message;
    std::uint64_t nameSize = 0, wParam = 0, lParam = 0, hasData = 0, tag = 0, dataSize = 0;
    if (!reader.Unsigned(2, nameSize) || nameSize > kMaxInstanceNameLength ||
        !reader.Bytes(nameSize, message.Name) || !reader.Unsigned(8, wParam) || !reader.Unsigned(8, lParam) ||
        !reader.Unsigned(1, hasData) || hasData > 1 || !reader.Unsigned(8, tag) ||
        !reader.Unsigned(4, dataSize) || dataSize > kMaxInstanceData ||
        !reader.Bytes(dataSize, message.Data) || !reader.AtEnd()) {
        return std::nullopt;
    }
    message.WParam = static_cast<std::int64_t>(wParam);
    message.LParam = static_cast<std::int64_t>(lParam);
    message.HasData = hasData == 1;
    message.DataTag = tag;
    return message;
}

std::string EncodeInstanceReply(std::int64_t reply) {
    std::string frame(kReplyMagic);
    PutUnsigned(frame, static_cast<std::uint64_t>(reply), 8);
    return frame;
}

std::optional<std::int64_t> DecodeInstanceReply(std::string_view frame) {
    if (frame.size() != kInstanceReplySize || frame.substr(0, 4) != kReplyMagic) {
        return std::nullopt;
    }
    Reader reader(frame.substr(4));
    std::uint64_t value = 0;
    reader.Unsigned(8, value);
    return static_cast<std::int64_t>(value);
}

}  // namespace cloakline
