#pragma once

#include <string>
#include <string_view>

namespace cloakline {

// Texts are UTF-8 inside the program. The 8-bit code page at the edges is Windows-1252.

bool IsValidUtf8(std::string_view bytes);

// Ill-formed sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// Characters that Windows-1252 cannot represent become "?".
std::string Utf8ToAnsi(std::string_view text);
std::string AnsiToUtf8(std::string_view bytes);

// ASCII-only letter case; other bytes are left alone.
char AsciiLower(char c);
std::string AsciiLowerCase(std::string_view text);
bool SameTextAscii(std::string_view a, std::string_view b);

}  // namespace cloakline
