#include "core/proxy/ProxyAddress.h"

#include "core/proxy/ProxyText.h"

namespace cloakline {

namespace {

// RFC 1929 gives each of user name and password one length byte.
constexpr std::size_t kMaxCredentialLength = 255;

int HexValue(char c) {
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

std::optional<std::string> DecodeCredential(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size()) {
                return std::nullopt;
            }
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            if (high < 0 || low < 0) {
                return std::nullopt;
            }
            c = static_cast<char>(high * 16 + low);
            i += 2;
        } else if (c == '@' || c == '/') {
            return std::nullopt;
        }
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            return std::nullopt;
        }
        out += c;
    }
    if (out.size() > kMaxCredentialLength) {
        return std::nullopt;
    }
    return out;
}

std::string EncodeCredential(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '-' || c == '.' || c == '_' || c == '~';
        if (plain) {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0f];
        }
    }
    return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != prefix[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string TProxyAddress::HostPort() const {
    return Host + ":" + std::to_string(Port);
}

std::string TProxyAddress::Redacted() const {
    return Scheme == TProxyScheme::Socks5 ? "socks5://" + HostPort() : HostPort();
}

std::string TProxyAddress::ToText() const {
    if (!NeedsGateway()) {
        return HostPort();
    }
    std::string text = Scheme == TProxyScheme::Socks5 ? "socks5://" : "http://";
    if (HasCredentials()) {
        text += EncodeCredential(User) + ":" + EncodeCredential(Password) + "@";
    }
    return text + HostPort();
}

std::optional<TProxyAddress> ParseProxyAddress(std::string_view field) {
    TProxyAddress address;
    std::string_view rest = field;
    bool hadScheme = true;
    if (StartsWithNoCase(rest, "socks5h://")) {
        address.Scheme = TProxyScheme::Socks5;
        rest.remove_prefix(10);
    } else if (StartsWithNoCase(rest, "socks5://")) {
        address.Scheme = TProxyScheme::Socks5;
        rest.remove_prefix(9);
    } else if (StartsWithNoCase(rest, "http://")) {
        rest.remove_prefix(7);
    } else {
        hadScheme = false;
    }
    // The host part has no "@", so the last one ends the credentials even
    // when a password was written with a raw "@".
    if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos) {
        if (!hadScheme) {
            return std::nullopt;
        }
        const std::string_view userInfo = rest.substr(0, at);
        const std::size_t colon = userInfo.find(':');
        auto user = DecodeCredential(userInfo.substr(0, colon));
        auto password = DecodeCredential(colon == std::string_view::npos ? std::string_view()
                                                                         : userInfo.substr(colon + 1));
        if (!user || !password || user->empty()) {
            return std::nullopt;
        }
        address.User = std::move(*user);
        address.Password = std::move(*password);
        rest.remove_prefix(at + 1);
    }
    const auto endpoint = ParseProxyText(rest);
    if (!endpoint) {
        return std::nullopt;
    }
    address.Host = endpoint->Host;
    address.Port = endpoint->Port;
    return address;
}

}  // namespace cloakline
