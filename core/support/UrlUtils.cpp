#include "core/support/UrlUtils.h"

#include "core/support/TextEncoding.h"
#include "core/support/TextUtils.h"

namespace cloakline {

namespace {

bool IsUnreserved(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
        return true;
    }
    switch (c) {
        case '!':
        case '$':
        case '\'':
        case '(':
        case ')':
        case '*':
        case '-':
        case '.':
        case '@':
        case '_':
            return true;
        default:
            return false;
    }
}

}  // namespace

std::string FormEncode(std::string_view text) {
    const std::string bytes = Utf8ToAnsi(text);
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsUnreserved(c)) {
            out += ch;
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            AppendHexByte(out, c);
        }
    }
    return out;
}

std::optional<std::string> FormDecode(std::string_view text) {
    const std::string bytes = Utf8ToAnsi(text);
    std::string decoded;
    decoded.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '+') {
            decoded += ' ';
        } else if (c != '%') {
            decoded += c;
        } else if (i + 1 < bytes.size() && bytes[i + 1] == '%') {
            decoded += '%';
            ++i;
        } else {
            if (i + 2 >= bytes.size()) {
                return std::nullopt;
            }
            const int hi = HexDigitValue(bytes[i + 1]);
            const int lo = HexDigitValue(bytes[i + 2]);
            if (hi < 0 || lo < 0) {
                return std::nullopt;
            }
            decoded += static_cast<char>(hi * 16 + lo);
            i += 2;
        }
    }
    return AnsiToUtf8(decoded);
}

void ParseURLParams(std::string_view url, TStringList& list) {
    std::string_view rest = url;
    if (const std::size_t q = rest.find('?'); q != std::string_view::npos) {
        rest.remove_prefix(q + 1);
    }
    if (const std::size_t colon = rest.find(':'); colon != std::string_view::npos) {
        rest.remove_prefix(colon + 1);
    }
    TStringList items;
    SplitString(rest, "&", items);
    for (const std::string& item : items) {
        const std::size_t eq = item.find('=');
        const std::string_view name = std::string_view(item).substr(0, eq);
        const std::string_view raw =
            eq == std::string::npos ? std::string_view() : std::string_view(item).substr(eq + 1);
        const std::optional<std::string> value = FormDecode(raw);
        if (!value) {
            continue;
        }
        list.SetValue(name, *value);
    }
}

std::string AppendURLParams(std::string_view url, std::string_view params) {
    if (url.empty()) {
        return std::string(params);
    }
    std::string out(url);
    if (url.find('?') == std::string_view::npos) {
        out += '?';
    } else if (url.back() != '&' && url.back() != '?') {
        out += '&';
    }
    out += params;
    return out;
}

}  // namespace cloakline
