#pragma once

#include <string_view>

namespace cloakline {

inline constexpr std::string_view kRefusedRegionMessage = "This product is unavailable in this country.";

// The system default language of the one region where the program must not run.
bool IsRefusedSystemLanguage(std::string_view languageName);

}  // namespace cloakline
