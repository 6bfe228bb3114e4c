#pragma once

#include <string>
#include <string_view>

namespace cloakline {

// The program's texts are UTF-8; the system's wide calls take UTF-16. Both
// turn ill-formed input into U+FFFD instead of failing.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

}  // namespace cloakline
