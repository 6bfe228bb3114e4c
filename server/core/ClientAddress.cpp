#include "server/core/ClientAddress.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "core/support/TextUtils.h"
#include "server/core/Ipv4.h"

namespace cloakline::server {
namespace {

using TIpv6 = std::array<unsigned char, 16>;

// A version 1 line is at most 107 bytes with its CR LF.
constexpr std::size_t kMaxTextHeader = 107;
constexpr std::string_view kTextPrefix = "PROXY ";
constexpr std::string_view kBinarySignature{"\r\n\r\n\0\r\nQUIT\n", 12};
constexpr std::size_t kBinaryFixedPart = 16;
// Addresses (216 bytes at most, for UNIX sockets) and a few TLVs; a balancer
// that announces more is not one we talk to, and the bound keeps what a
// connection may make us buffer before its request small.
constexpr std::size_t kMaxBinaryPayload = 2048;

// Text forms of RFC 4291: hex groups of up to four digits, one "::" for a run
// of zero groups, and an IPv4 tail in the last 32 bits.
std::optional<TIpv6> ParseIpv6(std::string_view text) {
    TIpv6 bytes{};
    std::size_t filled = 0;  // bytes written before the "::" and after it
    std::optional<std::size_t> gap;
    std::size_t i = 0;
    if (text.starts_with("::")) {
        gap = 0;
        i = 2;
        if (text.size() == 2) {
            return bytes;
        }
    } else if (text.starts_with(":")) {
        return std::nullopt;
    }
    while (i < text.size()) {
        const std::size_t end = text.find(':', i);
        const std::string_view part =
            text.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i);
        if (part.find('.') != std::string_view::npos) {
            // The IPv4 tail ends the address.
            const auto v4 = ParseIpv4(part);
            if (!v4 || end != std::string_view::npos || filled + 4 > 16) {
                return std::nullopt;
            }
            for (int shift = 24; shift >= 0; shift -= 8) {
                bytes[filled++] = static_cast<unsigned char>(*v4 >> shift);
            }
            break;
        }
        if (part.empty() || part.size() > 4 || filled + 2 > 16) {
            return std::nullopt;
        }
        unsigned value = 0;
        for (char c : part) {
            const int digit = HexDigitValue(c);
            if (digit < 0) {
                return std::nullopt;
            }
            value = value * 16 + static_cast<unsigned>(digit);
        }
        bytes[filled++] = static_cast<unsigned char>(value >> 8);
        bytes[filled++] = static_cast<unsigned char>(value);
        if (end == std::string_view::npos) {
            break;
        }
        i = end + 1;
        if (i < text.size() && text[i] == ':') {
            if (gap) {
                return std::nullopt;
            }
            gap = filled;
            ++i;
            if (i == text.size()) {
                break;
            }
        } else if (i == text.size()) {
            return std::nullopt;  // a lone ':' at the end
        }
    }
    if (gap) {
        // The "::" stands for at least one zero group.
        if (filled > 14) {
            return std::nullopt;
        }
        const std::size_t tail = filled - *gap;
        for (std::size_t k = 0; k < tail; ++k) {
            bytes[15 - k] = bytes[filled - 1 - k];
        }
        for (std::size_t k = *gap; k < 16 - tail; ++k) {
            bytes[k] = 0;
        }
    } else if (filled != 16) {
        return std::nullopt;
    }
    return bytes;
}

bool IsIpv4Mapped(const TIpv6& bytes) {
    for (std::size_t k = 0; k < 10; ++k) {
        if (bytes[k] != 0) {
            return false;
        }
    }
    return bytes[10] == 0xFF && bytes[11] == 0xFF;
}

std::uint32_t Ipv4Of(const unsigned char* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

// The one text form of RFC 5952, as the socket layer writes peers: lower case,
// the longest run of two or more zero groups as "::", IPv4-mapped addresses
// with their dotted tail.
std::string FormatIpv6(const TIpv6& bytes) {
    if (IsIpv4Mapped(bytes)) {
        return "::ffff:" + FormatIpv4(Ipv4Of(bytes.data() + 12));
    }
    std::array<unsigned, 8> groups{};
    for (std::size_t g = 0; g < 8; ++g) {
        groups[g] = (unsigned{bytes[2 * g]} << 8) | bytes[2 * g + 1];
    }
    std::size_t bestStart = 8;
    std::size_t bestLength = 1;
    for (std::size_t g = 0; g < 8;) {
        if (groups[g] != 0) {
            ++g;
            continue;
        }
        std::size_t end = g;
        while (end < 8 && groups[end] == 0) {
            ++end;
        }
        if (end - g > bestLength) {
            bestStart = g;
            bestLength = end - g;
        }
        g = end;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t g = 0; g < 8; ++g) {
        if (g == bestStart) {
            out += "::";
            g += bestLength - 1;
            continue;
        }
        if (!out.empty() && out.back() != ':') {
            out += ':';
        }
        bool leading = true;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const unsigned digit = (groups[g] >> shift) & 0xF;
            if (digit == 0 && leading && shift > 0) {
                continue;
            }
            leading = false;
            out += kDigits[digit];
        }
    }
    return out;
}

// An address in either family, IPv4-mapped IPv6 addresses as IPv4, so that a
// dual-stack socket's "::ffff:127.0.0.1" is the same host as "127.0.0.1".
struct TAddress {
    std::vector<unsigned char> Bytes;  // 4 or 16
};

std::optional<TAddress> ParseAddress(std::string_view text) {
    if (const auto v4 = ParseIpv4(text)) {
        return TAddress{{static_cast<unsigned char>(*v4 >> 24), static_cast<unsigned char>(*v4 >> 16),
                         static_cast<unsigned char>(*v4 >> 8), static_cast<unsigned char>(*v4)}};
    }
    const auto v6 = ParseIpv6(text);
    if (!v6) {
        return std::nullopt;
    }
    if (IsIpv4Mapped(*v6)) {
        return TAddress{{v6->begin() + 12, v6->end()}};
    }
    return TAddress{{v6->begin(), v6->end()}};
}

// The canonical text of an address, or nullopt when text is not one.
std::optional<std::string> CanonicalAddress(std::string_view text) {
    if (const auto v4 = ParseIpv4(text)) {
        return FormatIpv4(*v4);
    }
    if (const auto v6 = ParseIpv6(text)) {
        return FormatIpv6(*v6);
    }
    return std::nullopt;
}

bool IsPort(std::string_view text) {
    if (text.empty() || text.size() > 5 || (text.size() > 1 && text[0] == '0')) {
        return false;
    }
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value <= 65535;
}

// "PROXY TCP4 src dst srcport dstport\r\n", one space between the fields.
TProxyProtocolStatus ParseTextHeader(std::string_view bytes, TProxyProtocolHeader& header) {
    const std::size_t end = bytes.substr(0, kMaxTextHeader).find("\r\n");
    if (end == std::string_view::npos) {
        return bytes.size() >= kMaxTextHeader ? TProxyProtocolStatus::KInvalid
                                              : TProxyProtocolStatus::KIncomplete;
    }
    const std::string_view line = bytes.substr(kTextPrefix.size(), end - kTextPrefix.size());
    for (char c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
            return TProxyProtocolStatus::KInvalid;
        }
    }
    if (line == "UNKNOWN" || line.starts_with("UNKNOWN ")) {
        // The balancer's own connection: whatever follows is to be ignored.
        header = {{}, end + 2};
        return TProxyProtocolStatus::KComplete;
    }
    std::array<std::string_view, 5> fields;
    std::size_t count = 0;
    for (std::size_t start = 0; start <= line.size();) {
        const std::size_t space = line.find(' ', start);
        const std::size_t stop = space == std::string_view::npos ? line.size() : space;
        if (count == fields.size()) {
            return TProxyProtocolStatus::KInvalid;
        }
        fields[count++] = line.substr(start, stop - start);
        start = stop + 1;
    }
    if (count != fields.size() || !IsPort(fields[3]) || !IsPort(fields[4])) {
        return TProxyProtocolStatus::KInvalid;
    }
    if (fields[0] == "TCP4") {
        const auto source = ParseIpv4(fields[1]);
        if (!source || !ParseIpv4(fields[2])) {
            return TProxyProtocolStatus::KInvalid;
        }
        header = {FormatIpv4(*source), end + 2};
        return TProxyProtocolStatus::KComplete;
    }
    if (fields[0] == "TCP6") {
        const auto source = ParseIpv6(fields[1]);
        if (!source || !ParseIpv6(fields[2])) {
            return TProxyProtocolStatus::KInvalid;
        }
        header = {FormatIpv6(*source), end + 2};
        return TProxyProtocolStatus::KComplete;
    }
    return TProxyProtocolStatus::KInvalid;
}

TProxyProtocolStatus ParseBinaryHeader(std::string_view bytes, TProxyProtocolHeader& header) {
    if (bytes.size() < kBinaryFixedPart) {
        return TProxyProtocolStatus::KIncomplete;
    }
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
    const unsigned version = byte(12) >> 4;
    const unsigned command = byte(12) & 0xF;
    const unsigned family = byte(13) >> 4;
    const unsigned protocol = byte(13) & 0xF;
    const std::size_t payload = (std::size_t{byte(14)} << 8) | byte(15);
    if (version != 2 || command > 1 || family > 3 || protocol > 2 || payload > kMaxBinaryPayload) {
        return TProxyProtocolStatus::KInvalid;
    }
    static constexpr std::array<std::size_t, 4> KAddressBytes{0, 12, 36, 216};
    if (payload < KAddressBytes[family]) {
        return TProxyProtocolStatus::KInvalid;
    }
    if (bytes.size() < kBinaryFixedPart + payload) {
        return TProxyProtocolStatus::KIncomplete;
    }
    header = {{}, kBinaryFixedPart + payload};
    // LOCAL is the balancer's own check; UNSPEC and UNIX carry no address of
    // ours. TLVs after the addresses are not needed and are skipped.
    if (command == 1) {
        const auto* addresses = reinterpret_cast<const unsigned char*>(bytes.data()) + kBinaryFixedPart;
        if (family == 1) {
            header.SourceAddress = FormatIpv4(Ipv4Of(addresses));
        } else if (family == 2) {
            TIpv6 source{};
            std::copy(addresses, addresses + 16, source.begin());
            header.SourceAddress = FormatIpv6(source);
        }
    }
    return TProxyProtocolStatus::KComplete;
}

bool InBlock(const std::vector<unsigned char>& address,
             const std::vector<unsigned char>& network,
             int prefix) {
    if (address.size() != network.size()) {
        return false;
    }
    for (std::size_t k = 0; prefix > 0; ++k, prefix -= 8) {
        const unsigned mask = prefix >= 8 ? 0xFFu : (0xFFu << (8 - prefix)) & 0xFFu;
        if (((address[k] ^ network[k]) & mask) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

TProxyProtocolStatus ParseProxyProtocolHeader(std::string_view bytes, TProxyProtocolHeader& header) {
    if (bytes.empty()) {
        return TProxyProtocolStatus::KIncomplete;
    }
    // The two versions differ in their first byte already.
    const std::string_view marker = bytes[0] == 'P' ? kTextPrefix : kBinarySignature;
    if (bytes.size() < marker.size()) {
        return marker.starts_with(bytes) ? TProxyProtocolStatus::KIncomplete : TProxyProtocolStatus::KInvalid;
    }
    if (!bytes.starts_with(marker)) {
        return TProxyProtocolStatus::KInvalid;
    }
    return bytes[0] == 'P' ? ParseTextHeader(bytes, header) : ParseBinaryHeader(bytes, header);
}

std::optional<TTrustedProxies> TTrustedProxies::Parse(const std::vector<std::string>& entries,
                                                      std::string& error) {
    TTrustedProxies trusted;
    for (const std::string& entry : entries) {
        const std::size_t slash = entry.find('/');
        const std::string_view text = std::string_view(entry).substr(0, slash);
        auto address = ParseAddress(text);
        if (!address) {
            error = "not an IPv4 or IPv6 address or block: \"" + entry + "\"";
            return std::nullopt;
        }
        const int bits = static_cast<int>(address->Bytes.size() * 8);
        int prefix = bits;
        if (slash != std::string::npos) {
            const std::string_view length = std::string_view(entry).substr(slash + 1);
            if (length.empty() || length.size() > 3 || (length.size() > 1 && length[0] == '0') ||
                length.find_first_not_of("0123456789") != std::string_view::npos) {
                error = "not a prefix length: \"" + entry + "\"";
                return std::nullopt;
            }
            prefix = std::stoi(std::string(length));
            // An IPv4-mapped block ("::ffff:10.0.0.0/104") counts in the IPv4
            // part, which is all that is left of it after mapping.
            if (address->Bytes.size() == 4 && text.find(':') != std::string_view::npos) {
                prefix -= 96;
                if (prefix < 0) {
                    error = "an IPv4-mapped block shorter than /96: \"" + entry + "\"";
                    return std::nullopt;
                }
            }
            if (prefix > bits) {
                error = "a prefix length beyond the address: \"" + entry + "\"";
                return std::nullopt;
            }
        }
        trusted.FBlocks.push_back({std::move(address->Bytes), prefix});
    }
    return trusted;
}

bool TTrustedProxies::Empty() const {
    return FBlocks.empty();
}

bool TTrustedProxies::Contains(std::string_view address) const {
    // A link-local peer may carry its interface ("fe80::1%eth0").
    const auto parsed = ParseAddress(address.substr(0, address.find('%')));
    if (!parsed) {
        return false;
    }
    for (const TBlock& block : FBlocks) {
        if (InBlock(parsed->Bytes, block.Network, block.PrefixLength)) {
            return true;
        }
    }
    return false;
}

std::string ClientAddressOf(std::string_view peer,
                            std::optional<std::string_view> forwardedFor,
                            const TTrustedProxies& trusted) {
    if (!forwardedFor || !trusted.Contains(peer)) {
        return std::string(peer);
    }
    std::vector<std::string> hops;
    std::string_view rest = *forwardedFor;
    while (true) {
        const std::size_t comma = rest.find(',');
        std::string_view item = rest.substr(0, comma);
        const std::size_t first = item.find_first_not_of(" \t");
        item = first == std::string_view::npos ? std::string_view{} : item.substr(first);
        item = item.substr(0, item.find_last_not_of(" \t") + 1);
        auto canonical = CanonicalAddress(item);
        if (!canonical) {
            // A list we cannot read is not taken in part.
            return std::string(peer);
        }
        hops.push_back(std::move(*canonical));
        if (comma == std::string_view::npos) {
            break;
        }
        rest = rest.substr(comma + 1);
    }
    for (auto it = hops.rbegin(); it != hops.rend(); ++it) {
        if (!trusted.Contains(*it)) {
            return *it;
        }
    }
    // Every hop is one of ours: the farthest one is the best we know.
    return hops.front();
}

}  // namespace cloakline::server
