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

// UTF-16 code units to and from their bytes, little- or big-endian. An odd
// last byte is dropped.
std::string Utf16ToBytes(std::u16string_view units, bool bigEndian);
std::u16string Utf16FromBytes(std::string_view bytes, bool bigEndian);

// Characters that Windows-1252 cannot represent become "?".
std::string Utf8ToAnsi(std::string_view text);
std::string AnsiToUtf8(std::string_view bytes);

// ASCII-only letter case; other bytes are left alone.
char AsciiLower(char c);
std::string AsciiLowerCase(std::string_view text);
bool SameTextAscii(std::string_view a, std::string_view b);

}  // namespace cloakline
