#include "gateway/Target.h"

namespace cloakline::gateway {

namespace {

bool IsHostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

bool IsHexOrColon(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.';
}

std::optional<std::uint16_t> ParsePort(std::string_view text) {
    if (text.empty() || text.size() > 5) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

// host, [v6] or host:port, [v6]:port; the port optional when a default is given.
std::optional<TTarget> ParseHostPort(std::string_view text, std::optional<std::uint16_t> defaultPort) {
    TTarget target;
    std::string_view rest;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || close < 3) {
            return std::nullopt;
        }
        const std::string_view inner = text.substr(1, close - 1);
        for (const char c : inner) {
            if (!IsHexOrColon(c)) {
                return std::nullopt;
            }
        }
        target.Host = std::string(inner);
        rest = text.substr(close + 1);
    } else {
        const std::size_t colon = text.find(':');
        const std::string_view host = text.substr(0, colon);
        if (host.empty() || host.size() > 253) {
            return std::nullopt;
        }
        for (const char c : host) {
            if (!IsHostCharacter(c)) {
                return std::nullopt;
            }
        }
        target.Host = std::string(host);
        rest = colon == std::string_view::npos ? std::string_view() : text.substr(colon);
    }
    if (rest.empty()) {
        if (!defaultPort) {
            return std::nullopt;
        }
        target.Port = *defaultPort;
        return target;
    }
    if (rest.front() != ':') {
        return std::nullopt;
    }
    const auto port = ParsePort(rest.substr(1));
    if (!port) {
        return std::nullopt;
    }
    target.Port = *port;
    return target;
}

}  // namespace

std::string TTarget::Authority() const {
    const std::string port = std::to_string(Port);
    return Host.find(':') != std::string::npos ? "[" + Host + "]:" + port : Host + ":" + port;
}

std::string TTarget::HostHeader() const {
    if (Port != 80) {
        return Authority();
    }
    return IsIpv6Literal() ? "[" + Host + "]" : Host;
}

bool TTarget::IsIpv6Literal() const {
    return Host.find(':') != std::string::npos;
}

bool TTarget::IsIpv4Literal() const {
    int parts = 0;
    int digits = 0;
    unsigned value = 0;
    for (const char c : Host) {
        if (c == '.') {
            if (digits == 0) {
                return false;
            }
            ++parts;
            digits = 0;
            value = 0;
        } else if (c >= '0' && c <= '9') {
            value = value * 10 + static_cast<unsigned>(c - '0');
            if (++digits > 3 || value > 255) {
                return false;
            }
        } else {
            return false;
        }
    }
    return parts == 3 && digits > 0;
}

std::optional<TTarget> ParseAuthority(std::string_view text) {
    return ParseHostPort(text, std::nullopt);
}

std::optional<THttpUrl> ParseHttpUrl(std::string_view url) {
    constexpr std::string_view kScheme = "http://";
    if (url.size() < kScheme.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < kScheme.size(); ++i) {
        char c = url[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != kScheme[i]) {
            return std::nullopt;
        }
    }
    const std::string_view rest = url.substr(kScheme.size());
    const std::size_t end = rest.find_first_of("/?#");
    const auto target = ParseHostPort(rest.substr(0, end), 80);
    if (!target) {
        return std::nullopt;
    }
    THttpUrl result;
    result.Target = *target;
    std::string_view path = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    // The fragment never goes on the wire.
    path = path.substr(0, path.find('#'));
    result.OriginForm = path.empty() || path.front() != '/' ? "/" + std::string(path) : std::string(path);
    return result;
}

std::string BasicCredentials(std::string_view user, std::string_view password) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::string plain = std::string(user) + ":" + std::string(password);
    std::string out = "Basic ";
    std::size_t i = 0;
    for (; i + 2 < plain.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(plain[i]) << 16 |
                           static_cast<unsigned char>(plain[i + 1]) << 8 |
                           static_cast<unsigned char>(plain[i + 2]);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i + 1 == plain.size()) {
        const unsigned v = static_cast<unsigned char>(plain[i]) << 16;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == plain.size()) {
        const unsigned v =
            static_cast<unsigned char>(plain[i]) << 16 | static_cast<unsigned char>(plain[i + 1]) << 8;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

}  // namespace cloakline::gateway
