#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/core/AddressRanges.h"
#include "server/core/ProxyEntry.h"

namespace cloakline::server {

// "IP", "COUNTRY_SHORT", "COUNTRY_LONG" and "CITY" lines for the address the
// request came from; the place fields are empty when nothing knows it.
std::string BuildLocalInfoAnswer(std::string_view ip, const std::optional<TAddressPlace>& place);

// One entry of a proxy list: "host:port|country|code|longitude|latitude",
// the address in its URL form when it has a scheme or credentials: the
// program's gateway needs them.
std::string ProxyListLine(const TProxyEntry& entry);

// The value of "NORMAL_IPS" or "SUPER_IPS" as the program's settings hold it:
// the lines joined by ";" on one line, each apostrophe written "\'" (the
// program turns it back). Entries past maxBytes are left out whole, so the
// answer stays within what the program accepts.
std::string ProxyListValue(const std::vector<TProxyEntry>& entries, std::size_t maxBytes);

// Where the program's server addresses point.
struct TPageAddresses {
    std::string PublicBase;  // "http://host:port", no trailing "/"
    std::string CheckIpUrl;
};

struct TUpdateAnswerInput {
    std::string MagicWord;
    std::optional<TRelease> Release;
    std::uint32_t ClientVersion = 0;
    // Healthy proxies only; split into the two lists by their super flag.
    std::vector<TProxyEntry> Proxies;
    TPageAddresses Pages;
};

// Largest value of one proxy list in an update answer.
inline constexpr std::size_t kMaxProxyListBytes = 400 * 1024;

// "magicword", "Result" (1 when the release is newer than the client), "info"
// and "page", then "__MODIFY__." lines for both proxy lists, the touch
// template and every page address.
std::string BuildUpdateAnswer(const TUpdateAnswerInput& input);

// The check-IP page: the address and country code that the server sees.
std::string BuildCheckIpPage(std::string_view ip, const std::optional<TAddressPlace>& place);

// A small page of the product's site.
std::string BuildSitePage(std::string_view page);

// The names of the site pages the program opens ("privary" as the program spells
// its setting); empty when name is not one of them.
std::string SitePageOfAction(std::string_view action);

}  // namespace cloakline::server
