#include "core/proxy/ProxyAddress.h"

#include "core/proxy/ProxyText.h"
#include "core/support/TextUtils.h"

namespace cloakline {

namespace {

// RFC 1929 gives each of user name and password one length byte.
constexpr std::size_t kMaxCredentialLength = 255;

// Percent-decodes one of user and password. Written raw, a "/", "?" or "#"
// would end the authority of a URL and a space or a control character is no
// part of one; a raw "@" is fine, since only the last one ends the
// credentials. Decoded, nothing may be a control character: credentials end
// up in request headers.
std::optional<std::string> DecodeCredential(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size()) {
                return std::nullopt;
            }
            const int high = HexDigitValue(text[i + 1]);
            const int low = HexDigitValue(text[i + 2]);
            if (high < 0 || low < 0) {
                return std::nullopt;
            }
            c = static_cast<char>(high * 16 + low);
            i += 2;
        } else if (c == '/' || c == '?' || c == '#' || c == ' ') {
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
    std::string out;
    for (char c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '-' || c == '.' || c == '_' || c == '~';
        if (plain) {
            out += c;
        } else {
            out += '%';
            AppendHexByte(out, static_cast<std::uint8_t>(c));
        }
    }
    return out;
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
    if (StartsWithText(rest, "socks5h://")) {
        address.Scheme = TProxyScheme::Socks5;
        rest.remove_prefix(10);
    } else if (StartsWithText(rest, "socks5://")) {
        address.Scheme = TProxyScheme::Socks5;
        rest.remove_prefix(9);
    } else if (StartsWithText(rest, "http://")) {
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
        // Basic credentials are "user:password": a colon in the user would
        // move the split (RFC 7617). SOCKS5 sends both apart.
        if (address.Scheme == TProxyScheme::Http && user->find(':') != std::string::npos) {
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
