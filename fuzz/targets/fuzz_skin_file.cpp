// Skin files: any bytes as a ".skn" file; and, since random bytes rarely make
// an intact compressed stream, any text packed as a skin's content with a
// header that may lie about its size.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/support/FuzzCheck.h"
#include "ui/KTSkinFile.h"

using namespace cloakline;

namespace {

bool HasCarriageReturn(const TSkinBundle& bundle) {
    for (const std::string& line : bundle.ResourceStrings) {
        if (line.find('\r') != std::string::npos) {
            return true;
        }
    }
    return false;
}

// What was read is written the same and reads back the same.
void CheckDecoded(const std::optional<TSkinBundle>& bundle) {
    if (!bundle) {
        return;
    }
    for (const std::string& line : bundle->ResourceStrings) {
        FUZZ_CHECK(line.find('\n') == std::string::npos);
        FUZZ_CHECK(!line.empty() && line.front() != '=' && line.find('=') != std::string::npos);
    }
    if (HasCarriageReturn(*bundle)) {
        return;
    }
    const std::optional<TSkinBundle> again = DecodeSkinBundle(EncodeSkinBundle(*bundle));
    FUZZ_CHECK(again.has_value() && *again == *bundle);
}

// "CLSK", version 1, the announced size, the compressed text.
std::string PackWithAnnouncedSize(std::string_view text, std::uint32_t announced) {
    uLongf packedSize = compressBound(static_cast<uLong>(text.size()));
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()),
                  Z_BEST_SPEED) != Z_OK) {
        return {};
    }
    packed.resize(packedSize);
    std::string out = "CLSK";
    out += '\x01';
    for (int shift = 24; shift >= 0; shift -= 8) {
        out += static_cast<char>((announced >> shift) & 0xFF);
    }
    return out + packed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    CheckDecoded(DecodeSkinBundle(input));
    if (input.empty()) {
        return 0;
    }
    // The first byte says how far the header lies: 0 tells the truth.
    const std::string_view text = input.substr(1);
    const auto lie = static_cast<std::int8_t>(input[0]) % 4;
    const auto announced = static_cast<std::uint32_t>(static_cast<std::int64_t>(text.size()) + lie);
    std::string error;
    const std::optional<TSkinBundle> packed =
        DecodeSkinBundle(PackWithAnnouncedSize(text, announced), &error);
    FUZZ_CHECK(lie == 0 || !packed.has_value());
    FUZZ_CHECK(packed.has_value() || !error.empty());
    CheckDecoded(packed);
    return 0;
}
