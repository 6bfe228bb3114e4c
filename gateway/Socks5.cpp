#include "gateway/Socks5.h"

#include <array>
#include <cstdio>

namespace cloakline::gateway::socks5 {

namespace {

constexpr std::uint8_t kNoAuth = 0x00;
constexpr std::uint8_t kUserPassword = 0x02;
constexpr std::uint8_t kNoAcceptable = 0xFF;
constexpr std::uint8_t kConnect = 0x01;
constexpr std::uint8_t kIpv4 = 0x01;
constexpr std::uint8_t kDomain = 0x03;
constexpr std::uint8_t kIpv6 = 0x04;

std::uint8_t Byte(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint8_t>(bytes[at]);
}

std::string Ipv6Text(std::string_view raw) {
    std::string text;
    for (std::size_t i = 0; i < 16; i += 2) {
        char group[8];
        std::snprintf(group, sizeof group, "%x", static_cast<unsigned>(Byte(raw, i) << 8 | Byte(raw, i + 1)));
        text += i == 0 ? "" : ":";
        text += group;
    }
    return text;
}

// The 16 bytes of an IPv6 literal; false when it is not one.
bool Ipv6Bytes(const std::string& text, std::array<std::uint8_t, 16>& out) {
    std::array<std::uint16_t, 8> head{};
    std::array<std::uint16_t, 8> tail{};
    std::size_t heads = 0;
    std::size_t tails = 0;
    bool gap = false;
    std::size_t i = 0;
    if (text.starts_with("::")) {
        gap = true;
        i = 2;
    }
    while (i < text.size()) {
        unsigned value = 0;
        std::size_t digits = 0;
        while (i < text.size() && digits < 5) {
            const char c = text[i];
            int v = -1;
            if (c >= '0' && c <= '9') {
                v = c - '0';
            } else if (c >= 'a' && c <= 'f') {
                v = c - 'a' + 10;
            } else if (c >= 'A' && c <= 'F') {
                v = c - 'A' + 10;
            }
            if (v < 0) {
                break;
            }
            value = value * 16 + static_cast<unsigned>(v);
            ++digits;
            ++i;
        }
        if (digits == 0 || digits > 4 || heads + tails >= 8) {
            return false;
        }
        (gap ? tail[tails++] : head[heads++]) = static_cast<std::uint16_t>(value);
        if (i == text.size()) {
            break;
        }
        if (text[i] != ':') {
            return false;
        }
        ++i;
        if (i < text.size() && text[i] == ':') {
            if (gap) {
                return false;
            }
            gap = true;
            ++i;
        } else if (i == text.size()) {
            return false;
        }
    }
    if (gap ? heads + tails > 7 : heads != 8) {
        return false;
    }
    std::array<std::uint16_t, 8> groups{};
    for (std::size_t g = 0; g < heads; ++g) {
        groups[g] = head[g];
    }
    for (std::size_t g = 0; g < tails; ++g) {
        groups[8 - tails + g] = tail[g];
    }
    for (std::size_t g = 0; g < 8; ++g) {
        out[2 * g] = static_cast<std::uint8_t>(groups[g] >> 8);
        out[2 * g + 1] = static_cast<std::uint8_t>(groups[g] & 0xFF);
    }
    return true;
}

}  // namespace

TGreeting ReadGreeting(std::string_view bytes) {
    TGreeting greeting;
    if (bytes.size() < 2) {
        return greeting;
    }
    if (Byte(bytes, 0) != kVersion || Byte(bytes, 1) == 0) {
        greeting.State = TState::Bad;
        return greeting;
    }
    const std::size_t count = Byte(bytes, 1);
    if (bytes.size() < 2 + count) {
        return greeting;
    }
    for (std::size_t i = 0; i < count; ++i) {
        greeting.OffersNoAuth = greeting.OffersNoAuth || Byte(bytes, 2 + i) == kNoAuth;
    }
    greeting.State = TState::Done;
    greeting.Used = 2 + count;
    return greeting;
}

std::string MethodChoice(bool accepted) {
    return {static_cast<char>(kVersion), static_cast<char>(accepted ? kNoAuth : kNoAcceptable)};
}

TRequest ReadRequest(std::string_view bytes) {
    TRequest request;
    if (bytes.size() < 5) {
        return request;
    }
    if (Byte(bytes, 0) != kVersion || Byte(bytes, 2) != 0x00) {
        request.State = TState::Bad;
        return request;
    }
    std::size_t addressEnd = 0;
    switch (Byte(bytes, 3)) {
        case kIpv4:
            addressEnd = 4 + 4;
            break;
        case kDomain:
            addressEnd = 5 + Byte(bytes, 4);
            break;
        case kIpv6:
            addressEnd = 4 + 16;
            break;
        default:
            request.State = TState::Bad;
            request.Failure = kAddressTypeNotSupported;
            return request;
    }
    if (bytes.size() < addressEnd + 2) {
        return request;
    }
    if (Byte(bytes, 1) != kConnect) {
        request.State = TState::Bad;
        request.Failure = kCommandNotSupported;
        return request;
    }
    switch (Byte(bytes, 3)) {
        case kIpv4:
            request.Target.Host = std::to_string(Byte(bytes, 4)) + "." + std::to_string(Byte(bytes, 5)) +
                                  "." + std::to_string(Byte(bytes, 6)) + "." + std::to_string(Byte(bytes, 7));
            break;
        case kDomain: {
            const std::string_view name = bytes.substr(5, Byte(bytes, 4));
            // The name goes into CONNECT lines: refuse what is not a host name.
            const auto checked = ParseAuthority(std::string(name) + ":1");
            if (name.empty() || !checked || checked->Host != name) {
                request.State = TState::Bad;
                request.Failure = kHostUnreachable;
                return request;
            }
            request.Target.Host = std::string(name);
            break;
        }
        default:
            request.Target.Host = Ipv6Text(bytes.substr(4, 16));
            break;
    }
    request.Target.Port =
        static_cast<std::uint16_t>(Byte(bytes, addressEnd) << 8 | Byte(bytes, addressEnd + 1));
    if (request.Target.Port == 0) {
        request.State = TState::Bad;
        request.Failure = kHostUnreachable;
        return request;
    }
    request.State = TState::Done;
    request.Used = addressEnd + 2;
    return request;
}

std::string Reply(std::uint8_t code) {
    return std::string{
        static_cast<char>(kVersion), static_cast<char>(code), 0, static_cast<char>(kIpv4), 0, 0, 0, 0, 0, 0};
}

std::string ClientGreeting(bool withLogin) {
    if (withLogin) {
        return {static_cast<char>(kVersion), 1, static_cast<char>(kUserPassword)};
    }
    return {static_cast<char>(kVersion), 1, static_cast<char>(kNoAuth)};
}

std::string ClientLogin(std::string_view user, std::string_view password) {
    if (user.size() > 255 || password.size() > 255) {
        return {};
    }
    std::string out{0x01, static_cast<char>(user.size())};
    out += user;
    out += static_cast<char>(password.size());
    out += password;
    return out;
}

std::string ClientConnect(const TTarget& target) {
    std::string out{static_cast<char>(kVersion), static_cast<char>(kConnect), 0};
    std::array<std::uint8_t, 16> v6{};
    if (target.IsIpv4Literal()) {
        out += static_cast<char>(kIpv4);
        std::size_t start = 0;
        for (int part = 0; part < 4; ++part) {
            const std::size_t dot = target.Host.find('.', start);
            out += static_cast<char>(std::stoi(target.Host.substr(start, dot - start)));
            start = dot + 1;
        }
    } else if (target.IsIpv6Literal() && Ipv6Bytes(target.Host, v6)) {
        out += static_cast<char>(kIpv6);
        for (const std::uint8_t b : v6) {
            out += static_cast<char>(b);
        }
    } else {
        if (target.Host.empty() || target.Host.size() > 255) {
            return {};
        }
        out += static_cast<char>(kDomain);
        out += static_cast<char>(target.Host.size());
        out += target.Host;
    }
    out += static_cast<char>(target.Port >> 8);
    out += static_cast<char>(target.Port & 0xFF);
    return out;
}

TReply ReadReply(std::string_view bytes) {
    TReply reply;
    if (bytes.size() < 5) {
        return reply;
    }
    if (Byte(bytes, 0) != kVersion) {
        reply.State = TState::Bad;
        return reply;
    }
    std::size_t size = 0;
    switch (Byte(bytes, 3)) {
        case kIpv4:
            size = 4 + 4 + 2;
            break;
        case kDomain:
            size = 5 + Byte(bytes, 4) + 2;
            break;
        case kIpv6:
            size = 4 + 16 + 2;
            break;
        default:
            reply.State = TState::Bad;
            return reply;
    }
    if (bytes.size() < size) {
        return reply;
    }
    reply.State = TState::Done;
    reply.Code = Byte(bytes, 1);
    reply.Used = size;
    return reply;
}

}  // namespace cloakline::gateway::socks5
