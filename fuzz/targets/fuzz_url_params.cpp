// Address parameters and form decoding of texts from pages and the server,
// and the encoding the program sends them with.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/support/StringList.h"
#include "core/support/TextEncoding.h"
#include "core/support/UrlUtils.h"
#include "fuzz/support/FuzzCheck.h"

using namespace cloakline;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    TStringList params;
    ParseURLParams(input, params);
    for (const std::string& line : params) {
        FUZZ_CHECK(!TStringList::ValueOf(line).empty());
    }
    FormDecode(input);
    AppendURLParams(input, "a=1");

    // What the program encodes, it decodes to the same text (as far as the
    // 8-bit code page can spell it).
    const std::string encoded = FormEncode(input);
    FUZZ_CHECK(encoded.find_first_of("&=?:# \r\n") == std::string::npos);
    const std::optional<std::string> decoded = FormDecode(encoded);
    FUZZ_CHECK(decoded.has_value());
    FUZZ_CHECK(*decoded == AnsiToUtf8(Utf8ToAnsi(input)));

    TStringList carried;
    ParseURLParams("http://127.0.0.1:8480/page.php?first=1&fuzz=" + encoded + "&last=2", carried);
    FUZZ_CHECK(carried.Value("fuzz") == *decoded);
    FUZZ_CHECK(carried.Value("first") == "1" && carried.Value("last") == "2");
    return 0;
}
