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

// "%XX" escapes of a file address; nullopt for a broken one or an escaped NUL.
std::optional<std::string> PercentDecode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        const int high = HexDigitValue(text[i + 1]);
        const int low = HexDigitValue(text[i + 2]);
        if (high < 0 || low < 0 || (high == 0 && low == 0)) {
            return std::nullopt;
        }
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

bool IsProgramFormAbsolute(std::string_view path) {
    const bool rooted = !path.empty() && path[0] == '\\';
    const bool drive = path.size() >= 3 && path[1] == ':' && path[2] == '\\' &&
                       ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    // "\\server\share" is another machine's file, not one of ours.
    return (rooted && !path.starts_with("\\\\")) || drive;
}

}  // namespace

TOpenTarget ClassifyOpenAddress(std::string_view url) {
    TOpenTarget target;
    if (StartsWithText(url, "http://") || StartsWithText(url, "https://")) {
        if (!HasControlCharacter(url)) {
            target.Kind = TOpenKind::Web;
        }
        return target;
    }
    std::string path;
    if (StartsWithText(url, "file://")) {
        // file:///opt/app/x, file:///C:/App/x; a host other than the empty
        // one (or localhost) is another machine.
        std::string_view rest = url.substr(7);
        if (StartsWithText(rest, "localhost/")) {
            rest.remove_prefix(9);
        }
        if (rest.empty() || rest[0] != '/') {
            return target;
        }
        const auto decoded = PercentDecode(rest);
        if (!decoded) {
            return target;
        }
        path = *decoded;
        if (path.size() >= 3 && path[2] == ':') {
            path.erase(0, 1);  // "/C:/App" is "C:/App"
        }
    } else {
        path = std::string(url);
    }
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    if (!HasControlCharacter(path) && IsProgramFormAbsolute(path)) {
        target.Kind = TOpenKind::LocalFile;
        target.Path = std::move(path);
    }
    return target;
}

bool IsPathInsideFolder(std::string_view path, std::string_view folder, bool ignoreCase) {
    std::string base(folder);
    if (base.empty()) {
        return false;
    }
    if (base.back() != '\\') {
        base += '\\';
    }
    if (path.size() <= base.size()) {
        return false;
    }
    const std::string_view head = path.substr(0, base.size());
    return ignoreCase ? SameTextAscii(head, base) : head == base;
}

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

std::string RedactUrlCredentials(std::string_view text) {
    constexpr std::string_view kSchemeEnd = "://";
    constexpr std::string_view kMask = "***";
    std::string out;
    std::size_t done = 0;
    for (std::size_t mark = text.find(kSchemeEnd); mark != std::string_view::npos;
         mark = text.find(kSchemeEnd, done)) {
        const std::size_t start = mark + kSchemeEnd.size();
        std::size_t end = start;
        while (end < text.size()) {
            const auto c = static_cast<unsigned char>(text[end]);
            if (c <= 0x20 || c == 0x7f || c == '|' || c == ';') {
                break;
            }
            ++end;
        }
        const std::string_view address = text.substr(start, end - start);
        const std::size_t at = address.rfind('@');
        out.append(text.substr(done, start - done));
        if (at != std::string_view::npos) {
            out.append(kMask);
            out.append(address.substr(at));
        } else {
            out.append(address);
        }
        done = end;
    }
    out.append(text.substr(done));
    return out;
}

}  // namespace cloakline
