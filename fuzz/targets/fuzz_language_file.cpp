// Language files: any bytes as a ".lan" file, its lookups, a change, a save
// and a new read.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/framework/KTMultiLangLan.h"
#include "core/support/StringList.h"
#include "core/support/TextEncoding.h"
#include "fuzz/support/FuzzCheck.h"
#include "fuzz/support/MemoryPlatform.h"

using namespace cloakline;

namespace {

constexpr std::string_view kPath = "C:\\prog\\lang\\Fuzz.lan";

// The part of the input that a translation can carry unchanged: one line of
// UTF-8 (the program's texts are), no control characters, and no "<" that
// could start a line-break or space mark.
std::string PlainValue(std::string_view input) {
    const std::string text = IsValidUtf8(input) ? std::string(input) : AnsiToUtf8(input);
    std::string value;
    for (char c : std::string_view(text).substr(0, 80)) {
        if (static_cast<unsigned char>(c) >= 0x20 && c != '<' && c != 0x7f) {
            value += c;
        }
    }
    // Cut at a character boundary.
    while (!IsValidUtf8(value)) {
        value.pop_back();
    }
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    fuzz::MemoryFileSystem files;
    files.Files[std::string(kPath)] = std::string(input);

    TKTMultiLangLan lan(files);
    lan.LoadFromFile(kPath);
    std::string value;
    lan.GetProp("Info", "", "Language", value);
    lan.GetProp("TfrmMain", "btnHide", "Caption", value);
    TStringList strings;
    lan.GetSectionStrings("AppRes", strings);
    lan.GetSectionStrings("LibRes", strings);

    const std::string plain = PlainValue(input);
    lan.SetProp("TfrmFuzz", "lblFuzz", "Caption", plain);
    std::string read;
    FUZZ_CHECK(lan.GetProp("TfrmFuzz", "lblFuzz", "Caption", read));
    FUZZ_CHECK(read == plain);

    lan.SaveToFile(kPath);
    TKTMultiLangLan again(files);
    again.LoadFromFile(kPath);
    std::string reread;
    FUZZ_CHECK(again.GetProp("TfrmFuzz", "lblFuzz", "Caption", reread));
    // A file without a byte-order mark is UTF-8 when its bytes are; an 8-bit
    // file whose text happens to spell valid UTF-8 reads differently. That
    // needs the rare letter pairs such as "Ã©", and is left as it is.
    const bool readsAsOtherEncoding =
        lan.Encoding() == TextFileEncoding::Ansi && again.Encoding() != TextFileEncoding::Ansi;
    FUZZ_CHECK(readsAsOtherEncoding || reread == plain);

    TKTMultiLangLan copy(files);
    lan.AssignTo(copy);
    lan.ClearAllForm();
    lan.UpdateData();
    return 0;
}
