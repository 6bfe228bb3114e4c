#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cloakline::server {

// The header of the PROXY protocol (version 1 text or version 2 binary) that
// a balancer sends before the client's bytes.
struct TProxyProtocolHeader {
    // The client's address as text ("192.0.2.7", "2001:db8::7"); empty for a
    // LOCAL or UNKNOWN header (the balancer's own check), which keeps the peer.
    std::string SourceAddress;
    // Bytes of the header, to be taken off before the HTTP request.
    std::size_t Length = 0;
};

enum class TProxyProtocolStatus { KIncomplete, KComplete, KInvalid };

// Reads the header at the start of bytes; KIncomplete asks for more bytes.
TProxyProtocolStatus ParseProxyProtocolHeader(std::string_view bytes, TProxyProtocolHeader& header);

// The balancers whose word on the client's address is taken: addresses and
// CIDR blocks, IPv4 or IPv6.
class TTrustedProxies {
  public:
    // nullopt with the reason in error for an entry that is neither.
    static std::optional<TTrustedProxies> Parse(const std::vector<std::string>& entries, std::string& error);

    bool Empty() const;
    bool Contains(std::string_view address) const;

  private:
    struct TBlock {
        std::vector<unsigned char> Network;  // 4 or 16 bytes
        int PrefixLength = 0;
    };
    std::vector<TBlock> FBlocks;
};

// The client of a request that came from peer: when peer is trusted, the
// right-most X-Forwarded-For address that is not itself trusted; otherwise
// (and for a header that is not a list of addresses) peer.
std::string ClientAddressOf(std::string_view peer,
                            std::optional<std::string_view> forwardedFor,
                            const TTrustedProxies& trusted);

}  // namespace cloakline::server
