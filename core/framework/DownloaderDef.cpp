#include "core/framework/DownloaderDef.h"

#include "core/support/TextEncoding.h"
#include "core/support/UrlUtils.h"

namespace cloakline {

namespace {

constexpr std::string_view kCrLf = "\r\n";

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && SameTextAscii(text.substr(0, prefix.size()), prefix);
}

bool IsHostChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

bool IsValidHost(std::string_view host) {
    if (host.empty()) {
        return false;
    }
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') {
            return false;
        }
        for (const char c : host.substr(1, host.size() - 2)) {
            const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
            if (!hex && c != ':' && c != '.') {
                return false;
            }
        }
        return true;
    }
    for (const char c : host) {
        if (!IsHostChar(c)) {
            return false;
        }
    }
    return true;
}

// 1..65535 in decimal, or 0.
std::uint16_t PortOf(std::string_view digits) {
    if (digits.empty() || digits.size() > 5) {
        return 0;
    }
    std::uint32_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return 0;
        }
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value <= 65535 ? static_cast<std::uint16_t>(value) : 0;
}

std::string_view ExtensionOf(std::string_view path) {
    const std::size_t dot = path.find_last_of('.');
    const std::size_t slash = path.find_last_of("\\/");
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
        return {};
    }
    return path.substr(dot);
}

std::string_view TypeLineOf(std::string_view path) {
    const std::string_view ext = ExtensionOf(path);
    if (SameTextAscii(ext, ".jpg") || SameTextAscii(ext, ".jpeg")) {
        return "Content-Type: image/pjpeg";
    }
    if (SameTextAscii(ext, ".png")) {
        return "Content-Type: image/x-png";
    }
    if (SameTextAscii(ext, ".pdf")) {
        return "Content-Type: application/pdf";
    }
    if (SameTextAscii(ext, ".html")) {
        return "Content-Type: text/html";
    }
    return {};
}

void AppendDisposition(std::string& body, std::string_view name) {
    body += "--";
    body += kMultipartBoundary;
    body += kCrLf;
    body += "Content-Disposition: form-data; name=\"";
    body += Utf8ToAnsi(name);
    body += '"';
}

}  // namespace

std::string DecodeHttpText(std::string_view bytes, THttpCharset charset) {
    switch (charset) {
        case THttpCharset::KUnicode:
            return Utf16ToUtf8(Utf16FromBytes(bytes, false));
        case THttpCharset::KUTF8:
            return Utf16ToUtf8(Utf8ToUtf16(bytes));
        case THttpCharset::KAnsi:
        default:
            return AnsiToUtf8(bytes);
    }
}

bool TURLParts::Usable() const {
    return Port != 0 && IsValidHost(Host) && !Object.empty();
}

TURLParts ParseURL(std::string_view url) {
    TURLParts parts;
    std::string_view rest = url;
    if (StartsWithNoCase(rest, "http://")) {
        rest.remove_prefix(7);
    }
    if (StartsWithNoCase(rest, "https://")) {
        rest.remove_prefix(8);
        parts.Ssl = true;
    }
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos) {
        parts.Object = std::string(rest);
    } else {
        parts.Authority = std::string(rest.substr(0, slash));
        parts.Object = std::string(rest.substr(slash));
    }
    parts.Port = parts.Ssl ? 443 : 80;
    parts.Host = parts.Authority;
    // Past a bracketed IPv6 address its own colons are not a port.
    const std::size_t bracket = parts.Authority.rfind(']');
    const std::size_t colon = parts.Authority.rfind(':');
    if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
        const std::uint16_t port = PortOf(std::string_view(parts.Authority).substr(colon + 1));
        if (port != 0) {
            parts.Port = port;
            parts.Host = parts.Authority.substr(0, colon);
        }
    }
    return parts;
}

std::string AcceptHeader(std::string_view acceptTypes) {
    return "Accept: " + std::string(acceptTypes.empty() ? "*" : acceptTypes);
}

std::string FormEncodedBody(const TStringList& values) {
    std::string body;
    bool first = true;
    for (const std::string& line : values) {
        if (!first) {
            body += '&';
        }
        first = false;
        body += TStringList::NameOf(line);
        body += '=';
        body += FormEncode(TStringList::ValueOf(line));
    }
    return body;
}

bool TFilePostGen::Make(const IFileSystem& files,
                        const TStringList* slValues,
                        const TStringList* slFiles,
                        std::size_t maxFileBytes) {
    std::string body;
    if (slValues != nullptr) {
        for (const std::string& line : *slValues) {
            AppendDisposition(body, TStringList::NameOf(line));
            body += kCrLf;
            body += kCrLf;
            body += FormEncode(TStringList::ValueOf(line));
            body += kCrLf;
        }
    }
    if (slFiles != nullptr) {
        for (const std::string& line : *slFiles) {
            const std::string path = TStringList::ValueOf(line);
            AppendDisposition(body, TStringList::NameOf(line));
            body += "; filename=\"";
            body += Utf8ToAnsi(path);
            body += '"';
            body += kCrLf;
            if (path.empty()) {
                body += "Content-Transfer-Encoding: binary";
                body += kCrLf;
                body += kCrLf;
                continue;
            }
            const std::string_view typeLine = TypeLineOf(path);
            if (!typeLine.empty()) {
                body += typeLine;
                body += kCrLf;
            }
            body += kCrLf;
            const auto content = files.ReadFile(path, maxFileBytes);
            if (!content) {
                return false;
            }
            body += *content;
            body += kCrLf;
        }
    }
    body += "--";
    body += kMultipartBoundary;
    body += "--";
    body += kCrLf;
    body += '\0';
    FHeaders = std::string(kMultipartContentType) + std::string(kMultipartBoundary);
    FPostData = std::move(body);
    return true;
}

}  // namespace cloakline
