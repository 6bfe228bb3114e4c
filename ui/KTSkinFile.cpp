// The ".skn" file, our own format:
//
//   offset 0  "CLSK"                  magic
//   offset 4  1                       format version (one byte)
//   offset 5  payload size            unsigned 32-bit, big-endian, at most kMaxSkinPayload
//   offset 9  zlib stream             the payload, compressed; nothing may follow it
//
// The payload is UTF-8 text: the resource strings as name=text lines, one
// empty line, then the style sheet up to the end. Lines end with LF (a CR
// before it is dropped).
#include "ui/KTSkinFile.h"

#include <zlib.h>

#include <array>
#include <cstdint>

#include "core/support/TextEncoding.h"

namespace cloakline {

namespace {

constexpr std::string_view kMagic = "CLSK";
constexpr unsigned char kVersion = 1;
constexpr std::size_t kHeaderSize = 9;

std::optional<TSkinBundle> Fail(std::string* error, const char* reason) {
    if (error != nullptr) {
        *error = reason;
    }
    return std::nullopt;
}

std::string Payload(const TSkinBundle& bundle) {
    std::string text;
    for (const std::string& line : bundle.ResourceStrings) {
        text += line;
        text += '\n';
    }
    text += '\n';
    text += bundle.StyleSheet;
    return text;
}

}  // namespace

std::string EncodeSkinBundle(const TSkinBundle& bundle) {
    const std::string payload = Payload(bundle);
    uLongf packedSize = compressBound(static_cast<uLong>(payload.size()));
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(payload.data()), static_cast<uLong>(payload.size()),
                  Z_BEST_COMPRESSION) != Z_OK) {
        return {};
    }
    packed.resize(packedSize);
    std::string out(kMagic);
    out += static_cast<char>(kVersion);
    const auto size = static_cast<std::uint32_t>(payload.size());
    for (int shift = 24; shift >= 0; shift -= 8) {
        out += static_cast<char>((size >> shift) & 0xFF);
    }
    out += packed;
    return out;
}

std::optional<TSkinBundle> DecodeSkinBundle(std::string_view bytes, std::string* error) {
    if (bytes.size() < kHeaderSize || bytes.substr(0, kMagic.size()) != kMagic) {
        return Fail(error, "not a skin file");
    }
    if (static_cast<unsigned char>(bytes[4]) != kVersion) {
        return Fail(error, "unknown skin format version");
    }
    std::uint32_t size = 0;
    for (std::size_t i = 5; i < kHeaderSize; ++i) {
        size = size << 8 | static_cast<unsigned char>(bytes[i]);
    }
    if (size > kMaxSkinPayload) {
        return Fail(error, "skin too large");
    }

    // Inflated into a buffer of the announced size only: a lying header can
    // neither make us allocate more nor overrun it.
    std::string payload(size, '\0');
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        return Fail(error, "inflate unavailable");
    }
    const std::string_view packed = bytes.substr(kHeaderSize);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    stream.avail_in = static_cast<uInt>(packed.size());
    stream.next_out = reinterpret_cast<Bytef*>(payload.data());
    stream.avail_out = static_cast<uInt>(payload.size());
    int rc = inflate(&stream, Z_FINISH);
    const std::size_t produced = payload.size() - stream.avail_out;
    if ((rc == Z_OK || rc == Z_BUF_ERROR) && produced == payload.size()) {
        // The buffer is full but the stream has not ended: either only its
        // check value is left, or it holds more than announced.
        std::array<Bytef, 1> spare{};
        stream.next_out = spare.data();
        stream.avail_out = static_cast<uInt>(spare.size());
        rc = inflate(&stream, Z_FINISH);
        if (stream.avail_out == 0) {
            inflateEnd(&stream);
            return Fail(error, "skin larger than announced");
        }
    }
    const bool complete = rc == Z_STREAM_END;
    const bool trailing = stream.avail_in != 0;
    inflateEnd(&stream);
    if (!complete) {
        return Fail(error, "skin data corrupt or truncated");
    }
    if (produced != payload.size()) {
        return Fail(error, "skin size does not match its header");
    }
    if (trailing) {
        return Fail(error, "bytes after the skin data");
    }
    if (!IsValidUtf8(payload)) {
        return Fail(error, "skin text is not UTF-8");
    }

    TSkinBundle bundle;
    std::size_t pos = 0;
    while (true) {
        const std::size_t eol = payload.find('\n', pos);
        if (eol == std::string::npos) {
            return Fail(error, "skin has no style sheet part");
        }
        std::string line = payload.substr(pos, eol - pos);
        pos = eol + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            break;
        }
        if (line.find('=') == std::string::npos || line.front() == '=') {
            return Fail(error, "skin resource line without a name");
        }
        bundle.ResourceStrings.Add(std::move(line));
    }
    bundle.StyleSheet = payload.substr(pos);
    return bundle;
}

}  // namespace cloakline
