// The INI reader over any file bytes, and the settings store over a user
// file holding them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/framework/IniDocument.h"
#include "core/framework/KTSettings.h"
#include "core/support/TextEncoding.h"
#include "fuzz/support/FuzzCheck.h"
#include "fuzz/support/MemoryPlatform.h"

using namespace cloakline;

namespace {

// Every entry that a lookup reaches reads the same after a save and a new read.
void CheckSavedDocumentReadsTheSame(const TIniDocument& doc) {
    const std::string saved = doc.SaveToBytes();
    TIniDocument again;
    again.LoadFromBytes(saved);
    // Without a byte-order mark, bytes that are valid UTF-8 read as UTF-8: an
    // 8-bit file whose text spells UTF-8 (mojibake such as "Ã©") cannot be
    // told apart, which the file format leaves as it is.
    if (doc.Encoding() == TextFileEncoding::Ansi && again.Encoding() != TextFileEncoding::Ansi) {
        return;
    }
    FUZZ_CHECK(again.SectionCount() == doc.SectionCount());
    for (std::size_t s = 0; s < doc.SectionCount(); ++s) {
        FUZZ_CHECK(again.SectionName(s) == doc.SectionName(s));
        for (const TIniDocument::Line& line : doc.SectionLines(s)) {
            if (line.IsEntry) {
                const std::string* before = doc.Find(doc.SectionName(s), line.Key);
                const std::string* after = again.Find(doc.SectionName(s), line.Key);
                // An entry of a repeated section is out of reach in both.
                FUZZ_CHECK((before == nullptr) == (after == nullptr));
                // A file read in the 8-bit code page is written in it too, where
                // what it cannot spell becomes "?".
                FUZZ_CHECK(before == nullptr || *after == (doc.Encoding() == TextFileEncoding::Ansi
                                                               ? AnsiToUtf8(Utf8ToAnsi(*before))
                                                               : *before));
            }
        }
    }
    // A document read from a file saves to the bytes it was read from, up to
    // the spaces and line ends that reading drops.
    const std::string resaved = again.SaveToBytes();
    TIniDocument third;
    third.LoadFromBytes(resaved);
    FUZZ_CHECK(third.SaveToBytes() == resaved);
}

// A value written is the value read back, whatever the text held before.
// The program's texts are UTF-8, so the value is made one.
void CheckWriteReadsBack(TIniDocument& doc, std::string_view input) {
    const std::string_view half = input.substr(0, input.size() / 2);
    const std::string value = IsValidUtf8(half) ? std::string(half) : AnsiToUtf8(half);
    doc.WriteString("setting", "Fuzz.Key", value);
    const std::string* read = doc.Find("setting", "Fuzz.Key");
    FUZZ_CHECK(read != nullptr);
    FUZZ_CHECK(read->find_first_of("\r\n") == std::string::npos);
}

void ExerciseSettingsStore(std::string_view input) {
    fuzz::MemoryPlatform platform;
    platform.Files->Files[std::string(fuzz::MemoryPlatform::kConstPath)] = std::string(input);
    platform.Files->Files["C:\\prog\\oem.const.dat"] = std::string(input.substr(input.size() / 3));
    TKTSettings settings(platform.P, {});
    settings.GetSettingString("App.Name");
    settings.GetSettingInteger("App.ID");
    settings.GetSettingFloat("Update.LastDate");
    TRect rect{};
    settings.GetSettingRect("frmMain.Rect", rect);
    settings.GetSettingsecString("Setting.Secret");
    const std::string_view secret = input.substr(0, 64);
    settings.SetSettingsecString("Setting.Secret", secret);
    FUZZ_CHECK(settings.GetSettingsecString("Setting.Secret") == secret);
    settings.SetSettingstring("Fuzz.Value", "42");
    FUZZ_CHECK(settings.GetSettingInteger("Fuzz.Value") == 42);
    settings.GetMessageShowAgainFlag(7);
    settings.ClearShowAgainFlag();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    TIniDocument doc;
    doc.LoadFromBytes(input);
    CheckSavedDocumentReadsTheSame(doc);
    CheckWriteReadsBack(doc, input);
    CheckSavedDocumentReadsTheSame(doc);
    ExerciseSettingsStore(input);
    return 0;
}
