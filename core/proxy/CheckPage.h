#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cloakline {

// What the check page (the server's "URL.CheckIP") says about the request
// that fetched it.
struct TCheckPage {
    // The address the request came from: an IPv4 or IPv6 literal.
    std::string Address;
    // Two upper-case letters; empty when the page names no country.
    std::string Country;
};

// Reads <span id="ip">…</span> and <span id="country">…</span>. No address,
// or one that is not an address literal: nullopt.
std::optional<TCheckPage> ParseCheckPage(std::string_view html);

}  // namespace cloakline
