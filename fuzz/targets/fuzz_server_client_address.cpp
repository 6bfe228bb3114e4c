// What a balancer (or anyone posing as one) sends the server before a
// request: a PROXY protocol header, an X-Forwarded-For list, and the
// operator's --trusted-proxy entries. The header reader must never reach past
// the bytes it was given, agree with itself on prefixes and longer inputs, and
// hand back addresses that read back the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/support/FuzzCheck.h"
#include "server/core/ClientAddress.h"
#include "server/core/Ipv4.h"

using namespace cloakline::server;

namespace {

using enum TProxyProtocolStatus;

TProxyProtocolStatus Parse(std::string_view bytes, TProxyProtocolHeader& header) {
    header = {"unset", 12345};
    return ParseProxyProtocolHeader(bytes, header);
}

// The source a text header of family carries back, or nothing when the text
// is refused as an address.
std::optional<std::string> TextSource(std::string_view family, std::string_view address) {
    if (address.find_first_not_of("0123456789abcdefABCDEF:.") != std::string_view::npos) {
        return std::nullopt;  // it would change the line around it
    }
    TProxyProtocolHeader header;
    const std::string line = "PROXY " + std::string(family) + " " + std::string(address) + " " +
                             (family == "TCP4" ? "127.0.0.1" : "::1") + " 1 2\r\n";
    const auto status = Parse(line, header);
    if (status != KComplete) {
        FUZZ_CHECK(status == KInvalid);
        return std::nullopt;
    }
    FUZZ_CHECK(header.Length == line.size());
    return header.SourceAddress;
}

void CheckHeader(std::string_view input) {
    TProxyProtocolHeader header;
    const auto status = Parse(input, header);
    if (status == KComplete) {
        FUZZ_CHECK(header.Length > 0 && header.Length <= input.size());
        FUZZ_CHECK(input[0] != 'P' || header.Length <= 107);
        // The header alone reads the same, and one byte less is not yet one.
        TProxyProtocolHeader alone;
        FUZZ_CHECK(Parse(input.substr(0, header.Length), alone) == KComplete);
        FUZZ_CHECK(alone.SourceAddress == header.SourceAddress && alone.Length == header.Length);
        FUZZ_CHECK(Parse(input.substr(0, header.Length - 1), alone) == KIncomplete);
        if (!header.SourceAddress.empty()) {
            // What it gives is an address that reads back to itself.
            const bool v4 = header.SourceAddress.find(':') == std::string::npos;
            FUZZ_CHECK(TextSource(v4 ? "TCP4" : "TCP6", header.SourceAddress) == header.SourceAddress);
        }
    } else if (status == KIncomplete) {
        FUZZ_CHECK(input.size() < 16 + 2048);
        FUZZ_CHECK(Parse(input.substr(0, input.size() / 2), header) == KIncomplete);
    } else {
        // More bytes never mend a refused start.
        FUZZ_CHECK(Parse(std::string(input) + "\r\n", header) == KInvalid);
        FUZZ_CHECK(Parse(std::string(input) + std::string(input), header) == KInvalid);
    }
}

// The input as the source address of a complete header of each kind.
void CheckAddressRoundTrip(std::string_view input) {
    if (const auto source = TextSource("TCP4", input)) {
        FUZZ_CHECK(*source == input);
    }
    if (const auto source = TextSource("TCP6", input)) {
        FUZZ_CHECK(!source->empty() && source->size() <= input.size() + 7);
        FUZZ_CHECK(TextSource("TCP6", *source) == *source);
    }

    if (input.size() < 4) {
        return;
    }
    // Version 2, PROXY over IPv4 with the input's first bytes as the addresses and TLVs.
    std::string binary("\r\n\r\n\0\r\nQUIT\n\x21\x11", 14);
    const std::string_view payload = input.substr(0, 2100);
    binary += static_cast<char>(payload.size() >> 8);
    binary += static_cast<char>(payload.size() & 0xFF);
    binary += payload;
    TProxyProtocolHeader header;
    const auto status = Parse(binary, header);
    FUZZ_CHECK(status == (payload.size() >= 12 && payload.size() <= 2048 ? KComplete : KInvalid));
    if (status == KComplete) {
        const auto address = ParseIpv4(header.SourceAddress);
        const auto byte = [&](std::size_t at) {
            return std::uint32_t{static_cast<unsigned char>(payload[at])};
        };
        FUZZ_CHECK(address && *address == (byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3)));
        FUZZ_CHECK(header.Length == binary.size());
    }
}

std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size() && lines.size() < 16) {
        const std::size_t end = text.find('\n', start);
        lines.emplace_back(
            text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    return lines;
}

// Lines: the peer, the X-Forwarded-For value, then trusted entries.
void CheckClientAddress(std::string_view input) {
    const std::vector<std::string> lines = Lines(input);
    if (lines.size() < 2) {
        return;
    }
    const std::vector<std::string> entries(lines.begin() + 2, lines.end());
    std::string error;
    const auto trusted = TTrustedProxies::Parse(entries, error);
    if (!trusted) {
        FUZZ_CHECK(!error.empty());
        return;
    }
    FUZZ_CHECK(trusted->Empty() == entries.empty());
    for (const std::string& entry : entries) {
        FUZZ_CHECK(trusted->Contains(entry.substr(0, entry.find('/'))));
    }
    const std::string& peer = lines[0];
    const std::string client = ClientAddressOf(peer, lines[1], *trusted);
    FUZZ_CHECK(ClientAddressOf(peer, std::nullopt, *trusted) == peer);
    if (!trusted->Contains(peer)) {
        FUZZ_CHECK(client == peer);
    } else if (client != peer) {
        // A hop of the list, written the way a header carries it.
        const bool v4 = client.find(':') == std::string::npos;
        FUZZ_CHECK(TextSource(v4 ? "TCP4" : "TCP6", client) == client);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    CheckHeader(input);
    CheckAddressRoundTrip(input);
    CheckClientAddress(input);
    return 0;
}
