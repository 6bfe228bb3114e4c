#include "core/support/TextUtils.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>

#include "core/support/TextEncoding.h"

namespace cloakline {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The delimiter is a single character of the program's 16-bit text model; a
// longer delimiter, or one outside the basic plane, matches no character.
bool IsSingleCharacter(std::string_view text) {
    return !text.empty() && IsValidUtf8(text) && Utf8ToUtf16(text).size() == 1;
}

}  // namespace

void SplitString(std::string_view text, std::string_view delimiter, TStringList& list) {
    if (text.empty()) {
        return;
    }
    if (!IsSingleCharacter(delimiter)) {
        list.Add(std::string(text));
        return;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(delimiter, start);
        if (at == std::string_view::npos) {
            list.Add(std::string(text.substr(start)));
            return;
        }
        list.Add(std::string(text.substr(start, at - start)));
        start = at + delimiter.size();
    }
}

std::int32_t TextToIntDef(std::string_view text, std::int32_t defaultValue) {
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n && text[i] == ' ') {
        ++i;
    }
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < n && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= n) {
        return defaultValue;
    }
    // Hexadecimal spells the 32 bits themselves, so it may reach 0xFFFFFFFF.
    const std::uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    const std::uint64_t base = hex ? 16 : 10;
    std::uint64_t value = 0;
    for (; i < n; ++i) {
        const int digit = hex ? HexDigitValue(text[i]) : (IsDigit(text[i]) ? text[i] - '0' : -1);
        if (digit < 0) {
            return defaultValue;
        }
        value = value * base + static_cast<std::uint64_t>(digit);
        if (value > limit) {
            return defaultValue;
        }
    }
    if (hex) {
        std::uint32_t bits = static_cast<std::uint32_t>(value);
        if (negative) {
            bits = 0u - bits;
        }
        return static_cast<std::int32_t>(bits);
    }
    const auto signedValue = static_cast<std::int64_t>(value);
    return static_cast<std::int32_t>(negative ? -signedValue : signedValue);
}

bool HasControlCharacter(std::string_view text) {
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) {
            return true;
        }
    }
    return false;
}

bool StartsWithText(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && SameTextAscii(text.substr(0, prefix.size()), prefix);
}

namespace {

// Replaces what find locates in text (a copy of it, or its lower-case form).
std::string ReplaceFound(std::string_view text,
                         std::string_view searched,
                         std::string_view pattern,
                         std::string_view replacement) {
    if (pattern.empty()) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size());
    std::size_t start = 0;
    for (std::size_t at = searched.find(pattern); at != std::string_view::npos;
         at = searched.find(pattern, start)) {
        out.append(text.substr(start, at - start)).append(replacement);
        start = at + pattern.size();
    }
    out.append(text.substr(start));
    return out;
}

}  // namespace

std::string LineBreaksToSpaces(std::string_view text) {
    std::string line(text);
    for (char& c : line) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return line;
}

std::string ReplaceAll(std::string_view text, std::string_view pattern, std::string_view replacement) {
    return ReplaceFound(text, text, pattern, replacement);
}

std::string ReplaceAllText(std::string_view text, std::string_view pattern, std::string_view replacement) {
    return ReplaceFound(text, AsciiLowerCase(text), AsciiLowerCase(pattern), replacement);
}

std::string FillPlaceholders(std::string_view templ, const std::vector<std::string>& arguments) {
    std::string result(templ);
    for (std::size_t k = 0; k < arguments.size(); ++k) {
        result = ReplaceAll(result, "{" + std::to_string(k + 1) + "}", arguments[k]);
    }
    return result;
}

std::uint32_t VersionToInt(std::string_view version) {
    const std::size_t space = version.find(' ');
    const std::string_view head = space == std::string_view::npos ? version : version.substr(0, space);
    TStringList parts;
    SplitString(head, ".", parts);
    if (parts.Count() != 4) {
        return 0;
    }
    std::uint32_t result = 0;
    for (const std::string& part : parts) {
        const auto value = static_cast<std::uint32_t>(TextToIntDef(part, 0));
        result = (result << 8) | (value & 0xFFu);
    }
    return result;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

void AppendHexByte(std::string& out, std::uint8_t byte) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xF];
}

std::string TextToHex(std::string_view text) {
    const std::u16string units = Utf8ToUtf16(text);
    std::string out;
    out.reserve(units.size() * 2);
    for (const char16_t unit : units) {
        AppendHexByte(out, static_cast<std::uint8_t>(unit & 0xFF));
    }
    return out;
}

std::string RectToStr(const TRect& r) {
    return std::to_string(r.Left) + "," + std::to_string(r.Top) + "," + std::to_string(r.Right) + "," +
           std::to_string(r.Bottom);
}

void StrToRect(std::string_view text, TRect& r) {
    TStringList parts;
    SplitString(text, ",", parts);
    if (parts.Count() != 4) {
        return;
    }
    r.Left = TextToIntDef(parts[0], 0);
    r.Top = TextToIntDef(parts[1], 0);
    r.Right = TextToIntDef(parts[2], 0);
    r.Bottom = TextToIntDef(parts[3], 0);
}

std::string FloatToText(double value, char decimalSeparator) {
    if (std::isnan(value)) {
        return "NAN";
    }
    if (std::isinf(value)) {
        return value > 0 ? "INF" : "-INF";
    }
    if (value == 0.0) {
        return "0";
    }
    // Scientific notation with 14 digits after the point rounds to the 15
    // significant digits the general format shows.
    char buffer[64];
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 14);
    if (ec != std::errc()) {
        return "0";
    }
    const std::string_view sci(buffer, static_cast<std::size_t>(end - buffer));
    const bool negative = sci.front() == '-';
    const std::size_t ePos = sci.find('e');
    std::string digits;
    for (const char c : sci.substr(0, ePos)) {
        if (IsDigit(c)) {
            digits += c;
        }
    }
    const int exponent = std::atoi(std::string(sci.substr(ePos + 1)).c_str());
    while (digits.size() > 1 && digits.back() == '0') {
        digits.pop_back();
    }

    std::string out = negative ? "-" : "";
    if (exponent < -4 || exponent >= 15) {
        out += digits[0];
        if (digits.size() > 1) {
            out += decimalSeparator;
            out.append(digits, 1, std::string::npos);
        }
        out += 'E';
        if (exponent < 0) {
            out += '-';
        }
        out += std::to_string(std::abs(exponent));
    } else if (exponent >= 0) {
        const auto intDigits = static_cast<std::size_t>(exponent) + 1;
        if (digits.size() <= intDigits) {
            out += digits;
            out.append(intDigits - digits.size(), '0');
        } else {
            out.append(digits, 0, intDigits);
            out += decimalSeparator;
            out.append(digits, intDigits, std::string::npos);
        }
    } else {
        out += '0';
        out += decimalSeparator;
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += digits;
    }
    return out;
}

double TextToFloatDef(std::string_view text, char decimalSeparator, double defaultValue) {
    const std::string_view t = TrimText(text);
    // Checked by hand so that neither the locale nor from_chars' own extensions
    // (inf, nan, hexadecimal) decide what counts as a number.
    std::string normalized;
    std::size_t i = 0;
    const std::size_t n = t.size();
    if (i < n && (t[i] == '+' || t[i] == '-')) {
        if (t[i] == '-') {
            normalized += '-';
        }
        ++i;
    }
    std::size_t mantissaDigits = 0;
    while (i < n && IsDigit(t[i])) {
        normalized += t[i++];
        ++mantissaDigits;
    }
    if (i < n && t[i] == decimalSeparator) {
        normalized += '.';
        ++i;
        while (i < n && IsDigit(t[i])) {
            normalized += t[i++];
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0) {
        return defaultValue;
    }
    if (i < n && (t[i] == 'e' || t[i] == 'E')) {
        normalized += 'e';
        ++i;
        if (i < n && (t[i] == '+' || t[i] == '-')) {
            normalized += t[i++];
        }
        std::size_t exponentDigits = 0;
        while (i < n && IsDigit(t[i])) {
            normalized += t[i++];
            ++exponentDigits;
        }
        if (exponentDigits == 0) {
            return defaultValue;
        }
    }
    if (i != n) {
        return defaultValue;
    }
    double value = 0;
    const char* first = normalized.data();
    const char* last = first + normalized.size();
    const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec != std::errc() || ptr != last || !std::isfinite(value)) {
        return defaultValue;
    }
    return value;
}

std::string_view TrimText(std::string_view text) {
    const auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace cloakline
