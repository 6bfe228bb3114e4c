#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cloakline {

struct WindowsLanguage {
    std::uint16_t LangId = 0;  // such as 1033, 2052
    std::string DisplayName;   // such as "English (United States)"
};

// Maps a POSIX locale name ("zh_CN.UTF-8", "de_DE@euro", "fr") to the Windows
// language that a system with that default language reports. Unknown or empty
// names (and "C", "POSIX") give English (United States).
WindowsLanguage WindowsLanguageFromLocale(std::string_view localeName);

}  // namespace cloakline
