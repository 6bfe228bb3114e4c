#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/support/StringList.h"
#include "core/support/Types.h"

namespace cloakline {

// n delimiters give n + 1 untrimmed items; an empty text adds nothing.
void SplitString(std::string_view text, std::string_view delimiter, TStringList& list);

// Decimal with optional sign and leading spaces, or hexadecimal after "$", "x" or "0x".
std::int32_t TextToIntDef(std::string_view text, std::int32_t defaultValue);

// ASCII case-insensitive prefix test; an empty prefix always matches.
bool StartsWithText(std::string_view text, std::string_view prefix);
// A C0 control character or DEL anywhere in the text.
bool HasControlCharacter(std::string_view text);

// Every occurrence of pattern, in one pass: replacements are not searched
// again. ReplaceAllText finds pattern without regard to ASCII case. An empty
// pattern changes nothing.
// A line break inside an INI value would turn into lines of its own on the
// next read, so such values carry spaces instead.
std::string LineBreaksToSpaces(std::string_view text);
std::string ReplaceAll(std::string_view text, std::string_view pattern, std::string_view replacement);
std::string ReplaceAllText(std::string_view text, std::string_view pattern, std::string_view replacement);

// Replaces {1}, {2}, ... in order, each step on the previous result.
std::string FillPlaceholders(std::string_view templ, const std::vector<std::string>& arguments);

// "2.1.0.5 beta" gives 0x02010005; anything but four parts gives 0.
std::uint32_t VersionToInt(std::string_view version);

// The value of one hexadecimal digit (either case), -1 for anything else.
int HexDigitValue(char c);
// Appends the byte as two uppercase hexadecimal digits.
void AppendHexByte(std::string& out, std::uint8_t byte);

// Low byte of each UTF-16 code unit as two uppercase hexadecimal digits.
std::string TextToHex(std::string_view text);

std::string RectToStr(const TRect& r);
// Leaves r untouched unless the text has exactly four comma-separated parts.
void StrToRect(std::string_view text, TRect& r);

// General format, at most 15 significant digits, the given decimal separator.
std::string FloatToText(double value, char decimalSeparator);
// The text as a decimal number with the given separator, exponent allowed;
// defaultValue when unreadable.
double TextToFloatDef(std::string_view text, char decimalSeparator, double defaultValue);

// Strips leading and trailing spaces and control characters (every byte <= 0x20).
std::string_view TrimText(std::string_view text);

// "&", "<", ">" and both quotes as HTML entities, for text put into a page.
std::string HtmlEscape(std::string_view text);

// Spaces and tabs removed at both ends (TrimText takes every control character too).
std::string_view Trimmed(std::string_view text);

}  // namespace cloakline
