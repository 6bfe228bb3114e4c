// The restore journal as a damaged disk, another program or a cut write may
// leave it: whatever decodes encodes to the same bytes again, and the
// settings of any input survive a round trip exactly. The input is also read
// as settings (store, key and value split at NUL bytes).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/support/FuzzCheck.h"
#include "journal/RestoreJournal.h"

using namespace cloakline;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (const auto decoded = DecodeJournal(input)) {
        // One spelling per journal: nothing else decodes to the same settings.
        FUZZ_CHECK(EncodeJournal(*decoded) == input);
    }

    std::vector<TRecordedSetting> settings;
    std::size_t start = 0;
    int field = 0;
    while (start <= input.size()) {
        const std::size_t end = std::min(input.find('\0', start), input.size());
        const std::string part(input.substr(start, end - start));
        if (field == 0) {
            settings.push_back({part, {}, std::nullopt});
        } else if (field == 1) {
            settings.back().Key = part;
        } else if (!part.starts_with('-')) {
            settings.back().Value = part;
        }
        field = (field + 1) % 3;
        start = end + 1;
    }
    const std::string encoded = EncodeJournal(settings);
    FUZZ_CHECK(DecodeJournal(encoded) == settings);
    // A journal cut anywhere is refused.
    FUZZ_CHECK(!DecodeJournal(std::string_view(encoded).substr(0, encoded.size() - 1 - size % 8)));
    return 0;
}
