#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cloakline::gateway {

// Where a client wants to go: a name or an address literal, never resolved
// here, so that the upstream does the name lookup.
struct TTarget {
    // IPv6 literals without their brackets.
    std::string Host;
    std::uint16_t Port = 0;

    // host:port, an IPv6 literal in brackets.
    std::string Authority() const;
    // The Host header's value: the port left out when it is 80.
    std::string HostHeader() const;
    bool IsIpv4Literal() const;
    bool IsIpv6Literal() const;
    friend bool operator==(const TTarget&, const TTarget&) = default;
};

// "host:port" as a CONNECT line or a SOCKS client names it; the port is required.
std::optional<TTarget> ParseAuthority(std::string_view text);

struct THttpUrl {
    TTarget Target;
    // Path and query, at least "/".
    std::string OriginForm;
};

// "http://host[:port][/path]"; the scheme case-blind, port 80 by default.
// Anything else (https, user info, no host) is refused.
std::optional<THttpUrl> ParseHttpUrl(std::string_view url);

// "Basic " + base64(user:password), as Proxy-Authorization carries it.
std::string BasicCredentials(std::string_view user, std::string_view password);

}  // namespace cloakline::gateway
