#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/support/StringList.h"

namespace cloakline {

// Form-style encoding over the Windows-1252 bytes of the text.
std::string FormEncode(std::string_view text);
// nullopt when a "%" is not followed by two hexadecimal digits.
std::optional<std::string> FormDecode(std::string_view text);

void ParseURLParams(std::string_view url, TStringList& list);
std::string AppendURLParams(std::string_view url, std::string_view params);

}  // namespace cloakline
