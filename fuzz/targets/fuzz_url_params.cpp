// Address parameters and form decoding of texts from pages and the server,
// the encoding the program sends them with, and what a pushed address may
// make the program open or write.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/proxy/HideRules.h"
#include "core/support/PathUtils.h"
#include "core/support/StringList.h"
#include "core/support/TextEncoding.h"
#include "core/support/TextUtils.h"
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

    // Nothing but a web address or an absolute local path reaches the opener:
    // no other scheme, no relative name, no leading "-" taken as an option.
    const TOpenTarget open = ClassifyOpenAddress(input);
    if (open.Kind == TOpenKind::Web) {
        FUZZ_CHECK(StartsWithText(input, "http://") || StartsWithText(input, "https://"));
    } else if (open.Kind == TOpenKind::LocalFile) {
        FUZZ_CHECK(!open.Path.empty() && open.Path.find('/') == std::string::npos);
        FUZZ_CHECK(open.Path[0] == '\\' || (open.Path.size() >= 3 && open.Path[1] == ':'));
    }
    FUZZ_CHECK(open.Kind == TOpenKind::Refused || input.empty() || input[0] != '-');

    // A flag fetched from a pushed address lands in the user data folder and
    // nowhere else.
    constexpr std::string_view kFolder = "\\home\\u\\.local\\share\\cloakline\\";
    const std::string flag = DownloadedFlagFile(kFolder, input);
    if (!flag.empty()) {
        FUZZ_CHECK(flag.starts_with(kFolder) && flag.ends_with(".PNG"));
        const std::string_view stem =
            std::string_view(flag).substr(kFolder.size(), flag.size() - kFolder.size() - 4);
        FUZZ_CHECK(IsPlainItemName(stem) && stem != "." && stem.find('.') == std::string_view::npos);
    }
    FUZZ_CHECK(!IsPlainItemName(input) || (input.find_first_of("\\/:") == std::string_view::npos &&
                                           input.find("..") == std::string_view::npos));
    return 0;
}
