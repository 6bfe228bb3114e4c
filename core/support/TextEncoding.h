#pragma once

#include <functional>
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

// How a text file's bytes spell its text.
enum class TextFileEncoding { Utf8, Utf8Bom, Utf16LE, Utf16BE, Ansi };

// The text of a file's bytes: a byte-order mark decides, and without one the
// bytes are UTF-8 when they are valid UTF-8, else Windows-1252. The mark is
// not part of the text.
std::string DecodeTextFile(std::string_view bytes, TextFileEncoding& encoding);
// The bytes of the text in that encoding, mark included.
std::string EncodeTextFile(std::string_view text, TextFileEncoding encoding);

// ASCII-only letter case; other bytes are left alone.
char AsciiLower(char c);
std::string AsciiLowerCase(std::string_view text);
bool SameTextAscii(std::string_view a, std::string_view b);
// Negative, zero or positive as a sorts before, with or after b without regard
// to ASCII case; texts that differ only in case fall back to byte order, so
// that only equal texts compare equal.
int CompareTextAscii(std::string_view a, std::string_view b);

// A three-way text order in the form of CompareTextAscii.
using TTextCompare = std::function<int(std::string_view, std::string_view)>;

}  // namespace cloakline
