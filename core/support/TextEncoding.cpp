#include "core/support/TextEncoding.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace cloakline {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one well-formed UTF-8 sequence at text[pos]; advances pos past it.
// An ill-formed start or a broken sequence consumes its maximal valid prefix
// (at least one byte) and yields U+FFFD, so that a decoder never stalls.
char32_t DecodeOne(std::string_view text, std::size_t& pos, bool& ok) {
    const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byteAt(pos);
    ok = true;
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    std::size_t length = 0;
    char32_t cp = 0;
    unsigned char minSecond = 0x80;
    unsigned char maxSecond = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0Fu;
        if (lead == 0xE0) {
            minSecond = 0xA0;  // overlong below U+0800
        } else if (lead == 0xED) {
            maxSecond = 0x9F;  // surrogates
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07u;
        if (lead == 0xF0) {
            minSecond = 0x90;  // overlong below U+10000
        } else if (lead == 0xF4) {
            maxSecond = 0x8F;  // above U+10FFFF
        }
    } else {
        ++pos;
        ok = false;
        return kReplacement;
    }
    std::size_t i = pos + 1;
    for (std::size_t k = 1; k < length; ++k, ++i) {
        if (i >= text.size()) {
            pos = i;
            ok = false;
            return kReplacement;
        }
        const unsigned char c = byteAt(i);
        const unsigned char lo = k == 1 ? minSecond : 0x80;
        const unsigned char hi = k == 1 ? maxSecond : 0xBF;
        if (c < lo || c > hi) {
            pos = i;
            ok = false;
            return kReplacement;
        }
        cp = (cp << 6) | (c & 0x3Fu);
    }
    pos = i;
    return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Windows-1252 bytes 0x80..0x9F. The five bytes the code page leaves undefined
// map to the C1 controls of the same number so that every byte survives a round trip.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char32_t Cp1252ToCodePoint(unsigned char b) {
    if (b >= 0x80 && b <= 0x9F) {
        return kCp1252High[b - 0x80u];
    }
    return b;
}

// The byte for a code point, or -1 when Windows-1252 has none.
int CodePointToCp1252(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
        return static_cast<int>(cp);
    }
    for (std::size_t i = 0; i < kCp1252High.size(); ++i) {
        if (kCp1252High[i] == cp) {
            return static_cast<int>(0x80 + i);
        }
    }
    return -1;
}

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LEBom = "\xFF\xFE";
constexpr std::string_view kUtf16BEBom = "\xFE\xFF";

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        bool ok = true;
        DecodeOne(bytes, pos, ok);
        if (!ok) {
            return false;
        }
    }
    return true;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        bool ok = true;
        const char32_t cp = DecodeOne(text, pos, ok);
        if (cp >= 0x10000) {
            const char32_t v = cp - 0x10000;
            out += static_cast<char16_t>(0xD800 + (v >> 10));
            out += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
                const char32_t cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                                    (static_cast<char32_t>(text[i + 1]) - 0xDC00);
                AppendUtf8(out, cp);
                ++i;
            } else {
                AppendUtf8(out, kReplacement);
            }
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

std::string Utf16ToBytes(std::u16string_view units, bool bigEndian) {
    std::string bytes;
    bytes.reserve(units.size() * 2);
    for (const char16_t unit : units) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes.push_back(bigEndian ? high : low);
        bytes.push_back(bigEndian ? low : high);
    }
    return bytes;
}

std::u16string Utf16FromBytes(std::string_view bytes, bool bigEndian) {
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const unsigned a = static_cast<unsigned char>(bytes[i]);
        const unsigned b = static_cast<unsigned char>(bytes[i + 1]);
        units.push_back(static_cast<char16_t>(bigEndian ? (a << 8) | b : a | (b << 8)));
    }
    return units;
}

std::string Utf8ToAnsi(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        bool ok = true;
        const char32_t cp = DecodeOne(text, pos, ok);
        const int b = ok ? CodePointToCp1252(cp) : -1;
        out += b >= 0 ? static_cast<char>(b) : '?';
    }
    return out;
}

std::string AnsiToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        AppendUtf8(out, Cp1252ToCodePoint(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string DecodeTextFile(std::string_view bytes, TextFileEncoding& encoding) {
    if (StartsWith(bytes, kUtf8Bom)) {
        encoding = TextFileEncoding::Utf8Bom;
        return std::string(bytes.substr(kUtf8Bom.size()));
    }
    if (StartsWith(bytes, kUtf16LEBom)) {
        encoding = TextFileEncoding::Utf16LE;
        return Utf16ToUtf8(Utf16FromBytes(bytes.substr(kUtf16LEBom.size()), false));
    }
    if (StartsWith(bytes, kUtf16BEBom)) {
        encoding = TextFileEncoding::Utf16BE;
        return Utf16ToUtf8(Utf16FromBytes(bytes.substr(kUtf16BEBom.size()), true));
    }
    if (IsValidUtf8(bytes)) {
        encoding = TextFileEncoding::Utf8;
        return std::string(bytes);
    }
    encoding = TextFileEncoding::Ansi;
    return AnsiToUtf8(bytes);
}

std::string EncodeTextFile(std::string_view text, TextFileEncoding encoding) {
    switch (encoding) {
        case TextFileEncoding::Utf8:
            break;
        case TextFileEncoding::Utf8Bom:
            return std::string(kUtf8Bom) + std::string(text);
        case TextFileEncoding::Utf16LE:
            return std::string(kUtf16LEBom) + Utf16ToBytes(Utf8ToUtf16(text), false);
        case TextFileEncoding::Utf16BE:
            return std::string(kUtf16BEBom) + Utf16ToBytes(Utf8ToUtf16(text), true);
        case TextFileEncoding::Ansi:
            return Utf8ToAnsi(text);
    }
    return std::string(text);
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string AsciiLowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = AsciiLower(c);
    }
    return out;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

int CompareTextAscii(std::string_view a, std::string_view b) {
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
        const auto ca = static_cast<unsigned char>(AsciiLower(a[i]));
        const auto cb = static_cast<unsigned char>(AsciiLower(b[i]));
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
    }
    if (a.size() != b.size()) {
        return a.size() < b.size() ? -1 : 1;
    }
    const int bytes = a.compare(b);
    return bytes < 0 ? -1 : (bytes > 0 ? 1 : 0);
}

}  // namespace cloakline
