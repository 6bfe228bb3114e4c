#include "core/proxy/ProxyText.h"

namespace cloakline {

namespace {

// Longer than any DNS name; keeps absurd texts out early.
constexpr std::size_t kMaxHostLength = 255;

bool IsAsciiAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsHostNameChar(char c) {
    return IsAsciiAlnum(c) || c == '.' || c == '-' || c == '_';
}

bool IsIpv6Char(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.';
}

bool IsValidHost(std::string_view host) {
    if (host.empty() || host.size() > kMaxHostLength) {
        return false;
    }
    if (host.front() == '[') {
        if (host.size() < 4 || host.back() != ']') {
            return false;
        }
        const std::string_view inner = host.substr(1, host.size() - 2);
        bool anyColon = false;
        for (char c : inner) {
            if (!IsIpv6Char(c)) {
                return false;
            }
            anyColon = anyColon || c == ':';
        }
        return anyColon;
    }
    if (!IsAsciiAlnum(host.front())) {
        return false;
    }
    for (char c : host) {
        if (!IsHostNameChar(c)) {
            return false;
        }
    }
    return true;
}

std::optional<std::uint16_t> ParsePort(std::string_view port) {
    if (port.empty() || port.size() > 5 || port.front() == '0') {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (char c : port) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

std::size_t HostPortSeparator(std::string_view text) {
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close != std::string_view::npos && close + 1 < text.size() && text[close + 1] == ':') {
            return close + 1;
        }
    }
    return text.find(':');
}

}  // namespace

TProxyTextParts SplitProxyText(std::string_view text) {
    const std::size_t colon = HostPortSeparator(text);
    if (colon == std::string_view::npos) {
        return {std::string(), std::string(text)};
    }
    return {std::string(text.substr(0, colon)), std::string(text.substr(colon + 1))};
}

std::optional<TProxyEndpoint> ParseProxyText(std::string_view text) {
    if (text.size() > kMaxHostLength + 6) {
        return std::nullopt;
    }
    const std::size_t colon = HostPortSeparator(text);
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view host = text.substr(0, colon);
    if (!IsValidHost(host)) {
        return std::nullopt;
    }
    const auto port = ParsePort(text.substr(colon + 1));
    if (!port) {
        return std::nullopt;
    }
    return TProxyEndpoint{std::string(host), *port};
}

bool IsValidProxyText(std::string_view text) {
    return ParseProxyText(text).has_value();
}

}  // namespace cloakline
