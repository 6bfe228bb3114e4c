#include "core/support/WindowsLanguages.h"

#include <array>

#include "core/support/TextEncoding.h"

namespace cloakline {

namespace {

struct LanguageEntry {
    std::string_view Language;  // lower case
    std::string_view Country;   // lower case
    std::uint16_t LangId;
    std::string_view DisplayName;
};

// The names as Windows itself spells them. The first entry of each language is
// the one a bare language name ("de") stands for.
constexpr std::array kLanguages = {
    LanguageEntry{"en", "us", 0x0409, "English (United States)"},
    LanguageEntry{"en", "gb", 0x0809, "English (United Kingdom)"},
    LanguageEntry{"en", "au", 0x0C09, "English (Australia)"},
    LanguageEntry{"en", "ca", 0x1009, "English (Canada)"},
    LanguageEntry{"en", "nz", 0x1409, "English (New Zealand)"},
    LanguageEntry{"en", "ie", 0x1809, "English (Ireland)"},
    LanguageEntry{"en", "za", 0x1C09, "English (South Africa)"},
    LanguageEntry{"en", "in", 0x4009, "English (India)"},
    LanguageEntry{"en", "sg", 0x4809, "English (Singapore)"},
    LanguageEntry{"zh", "cn", 0x0804, "Chinese (Simplified, PRC)"},
    LanguageEntry{"zh", "tw", 0x0404, "Chinese (Traditional, Taiwan)"},
    LanguageEntry{"zh", "hk", 0x0C04, "Chinese (Traditional, Hong Kong S.A.R.)"},
    LanguageEntry{"zh", "sg", 0x1004, "Chinese (Simplified, Singapore)"},
    LanguageEntry{"zh", "mo", 0x1404, "Chinese (Traditional, Macao S.A.R.)"},
    LanguageEntry{"de", "de", 0x0407, "German (Germany)"},
    LanguageEntry{"de", "ch", 0x0807, "German (Switzerland)"},
    LanguageEntry{"de", "at", 0x0C07, "German (Austria)"},
    LanguageEntry{"de", "lu", 0x1007, "German (Luxembourg)"},
    LanguageEntry{"de", "li", 0x1407, "German (Liechtenstein)"},
    LanguageEntry{"fr", "fr", 0x040C, "French (France)"},
    LanguageEntry{"fr", "be", 0x080C, "French (Belgium)"},
    LanguageEntry{"fr", "ca", 0x0C0C, "French (Canada)"},
    LanguageEntry{"fr", "ch", 0x100C, "French (Switzerland)"},
    LanguageEntry{"fr", "lu", 0x140C, "French (Luxembourg)"},
    LanguageEntry{"es", "es", 0x0C0A, "Spanish (Spain, International Sort)"},
    LanguageEntry{"es", "mx", 0x080A, "Spanish (Mexico)"},
    LanguageEntry{"es", "co", 0x240A, "Spanish (Colombia)"},
    LanguageEntry{"es", "pe", 0x280A, "Spanish (Peru)"},
    LanguageEntry{"es", "ar", 0x2C0A, "Spanish (Argentina)"},
    LanguageEntry{"es", "cl", 0x340A, "Spanish (Chile)"},
    LanguageEntry{"es", "us", 0x540A, "Spanish (United States)"},
    LanguageEntry{"it", "it", 0x0410, "Italian (Italy)"},
    LanguageEntry{"it", "ch", 0x0810, "Italian (Switzerland)"},
    LanguageEntry{"ja", "jp", 0x0411, "Japanese (Japan)"},
    LanguageEntry{"ko", "kr", 0x0412, "Korean (Korea)"},
    LanguageEntry{"ru", "ru", 0x0419, "Russian (Russia)"},
    LanguageEntry{"pt", "br", 0x0416, "Portuguese (Brazil)"},
    LanguageEntry{"pt", "pt", 0x0816, "Portuguese (Portugal)"},
    LanguageEntry{"nl", "nl", 0x0413, "Dutch (Netherlands)"},
    LanguageEntry{"nl", "be", 0x0813, "Dutch (Belgium)"},
    LanguageEntry{"pl", "pl", 0x0415, "Polish (Poland)"},
    LanguageEntry{"tr", "tr", 0x041F, "Turkish (Turkey)"},
    LanguageEntry{"sv", "se", 0x041D, "Swedish (Sweden)"},
    LanguageEntry{"sv", "fi", 0x081D, "Swedish (Finland)"},
    LanguageEntry{"da", "dk", 0x0406, "Danish (Denmark)"},
    LanguageEntry{"fi", "fi", 0x040B, "Finnish (Finland)"},
    LanguageEntry{"nb", "no", 0x0414,
                  "Norwegian, Bokm"
                  "\xC3\xA5"
                  "l (Norway)"},
    LanguageEntry{"nn", "no", 0x0814, "Norwegian, Nynorsk (Norway)"},
    LanguageEntry{"cs", "cz", 0x0405, "Czech (Czech Republic)"},
    LanguageEntry{"hu", "hu", 0x040E, "Hungarian (Hungary)"},
    LanguageEntry{"el", "gr", 0x0408, "Greek (Greece)"},
    LanguageEntry{"he", "il", 0x040D, "Hebrew (Israel)"},
    LanguageEntry{"ar", "sa", 0x0401, "Arabic (Saudi Arabia)"},
    LanguageEntry{"ar", "eg", 0x0C01, "Arabic (Egypt)"},
    LanguageEntry{"ar", "ae", 0x3801, "Arabic (U.A.E.)"},
    LanguageEntry{"th", "th", 0x041E, "Thai (Thailand)"},
    LanguageEntry{"vi", "vn", 0x042A, "Vietnamese (Vietnam)"},
    LanguageEntry{"id", "id", 0x0421, "Indonesian (Indonesia)"},
    LanguageEntry{"ms", "my", 0x043E, "Malay (Malaysia)"},
    LanguageEntry{"uk", "ua", 0x0422, "Ukrainian (Ukraine)"},
    LanguageEntry{"ro", "ro", 0x0418, "Romanian (Romania)"},
    LanguageEntry{"bg", "bg", 0x0402, "Bulgarian (Bulgaria)"},
    LanguageEntry{"hr", "hr", 0x041A, "Croatian (Croatia)"},
    LanguageEntry{"sk", "sk", 0x041B, "Slovak (Slovakia)"},
    LanguageEntry{"sl", "si", 0x0424, "Slovenian (Slovenia)"},
    LanguageEntry{"ca", "es", 0x0403, "Catalan (Catalan)"},
    LanguageEntry{"eu", "es", 0x042D, "Basque (Basque)"},
    LanguageEntry{"gl", "es", 0x0456, "Galician (Galician)"},
    LanguageEntry{"et", "ee", 0x0425, "Estonian (Estonia)"},
    LanguageEntry{"lv", "lv", 0x0426, "Latvian (Latvia)"},
    LanguageEntry{"lt", "lt", 0x0427, "Lithuanian (Lithuania)"},
    LanguageEntry{"is", "is", 0x040F, "Icelandic (Iceland)"},
    LanguageEntry{"sq", "al", 0x041C, "Albanian (Albania)"},
    LanguageEntry{"be", "by", 0x0423, "Belarusian (Belarus)"},
    LanguageEntry{"kk", "kz", 0x043F, "Kazakh (Kazakhstan)"},
    LanguageEntry{"ka", "ge", 0x0437, "Georgian (Georgia)"},
    LanguageEntry{"hy", "am", 0x042B, "Armenian (Armenia)"},
    LanguageEntry{"hi", "in", 0x0439, "Hindi (India)"},
    LanguageEntry{"af", "za", 0x0436, "Afrikaans (South Africa)"},
    LanguageEntry{"fil", "ph", 0x0464, "Filipino (Philippines)"},
};

// Language codes that older systems still use.
std::string_view CanonicalLanguage(std::string_view language) {
    if (language == "no") {
        return "nb";
    }
    if (language == "iw") {
        return "he";
    }
    if (language == "in") {
        return "id";
    }
    if (language == "tl") {
        return "fil";
    }
    return language;
}

WindowsLanguage ToResult(const LanguageEntry& entry) {
    return WindowsLanguage{entry.LangId, std::string(entry.DisplayName)};
}

}  // namespace

WindowsLanguage WindowsLanguageFromLocale(std::string_view localeName) {
    std::string name = AsciiLowerCase(localeName.substr(0, localeName.find_first_of(".@")));
    for (char& c : name) {
        if (c == '-') {
            c = '_';
        }
    }
    const std::size_t underscore = name.find('_');
    const std::string_view language = CanonicalLanguage(std::string_view(name).substr(0, underscore));
    const std::string_view country =
        underscore == std::string::npos ? std::string_view() : std::string_view(name).substr(underscore + 1);

    const LanguageEntry* primary = nullptr;
    for (const LanguageEntry& entry : kLanguages) {
        if (entry.Language != language) {
            continue;
        }
        if (entry.Country == country) {
            return ToResult(entry);
        }
        if (primary == nullptr) {
            primary = &entry;
        }
    }
    // "C", "POSIX" and anything unknown end here too.
    return ToResult(primary != nullptr ? *primary : kLanguages.front());
}

}  // namespace cloakline
