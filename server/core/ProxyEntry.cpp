#include "server/core/ProxyEntry.h"

#include <vector>

#include "core/support/UrlUtils.h"
#include "server/core/Ipv4.h"
#include "server/core/TextFields.h"

namespace cloakline::server {

namespace {

constexpr std::size_t kMaxNameBytes = 128;
constexpr std::size_t kMaxHostBytes = 253;
constexpr std::size_t kMaxInfoBytes = 2048;

bool IsHostName(std::string_view host) {
    if (host.empty() || host.size() > kMaxHostBytes || host.front() == '-' || host.front() == '.') {
        return false;
    }
    for (const char c : host) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '-' || c == '.';
        if (!ok) {
            return false;
        }
    }
    return true;
}

std::optional<std::uint16_t> ParsePort(std::string_view text) {
    if (text.empty() || text.size() > 5 || text.front() == '0') {
        return std::nullopt;
    }
    std::uint32_t port = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        port = port * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (port == 0 || port > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(port);
}

bool IsInventoryHost(std::string_view host) {
    // All digits and dots must be a real IPv4 address, not a name.
    const bool numeric = host.find_first_not_of("0123456789.") == std::string_view::npos;
    return numeric ? ParseIpv4(host).has_value() : IsHostName(host);
}

}  // namespace

std::string TProxyEntry::Shown() const {
    return RedactUrlCredentials(ListAddress());
}

std::optional<TProxyAddress> ParseHostPort(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view host = text.substr(0, colon);
    const auto port = ParsePort(text.substr(colon + 1));
    if (!port || !IsInventoryHost(host)) {
        return std::nullopt;
    }
    TProxyAddress address;
    address.Host = std::string(host);
    address.Port = *port;
    return address;
}

std::optional<TProxyAddress> ParseInventoryAddress(std::string_view text) {
    if (text.find("://") == std::string_view::npos) {
        return ParseHostPort(text);
    }
    // The program's own reading, so that it takes whatever the server
    // accepts; the host as narrow as a bare one.
    auto address = ParseProxyAddress(text);
    if (!address || !IsInventoryHost(address->Host)) {
        return std::nullopt;
    }
    return address;
}

std::optional<std::string> CheckProxyEntry(const TProxyEntry& entry) {
    if (!ParseHostPort(entry.Address())) {
        return "the address is not host:port";
    }
    // What the program will read back must be what the entry holds.
    if (ParseInventoryAddress(entry.ListAddress()) != entry.UpstreamAddress()) {
        return "the user name is empty, or user name or password is longer than 255 bytes or holds a "
               "control character";
    }
    if (CountryCodeOf(entry.CountryCode) != entry.CountryCode || entry.CountryCode.empty()) {
        return "the country code is not two upper-case letters";
    }
    if (!IsSafeField(entry.Country, kMaxNameBytes)) {
        return "the country name is empty, too long or holds one of | ; \\ or a control character";
    }
    if (CoordinateOf(entry.Longitude, 180.0).empty()) {
        return "the longitude is not a number within -180..180";
    }
    if (CoordinateOf(entry.Latitude, 90.0).empty()) {
        return "the latitude is not a number within -90..90";
    }
    return std::nullopt;
}

std::optional<TProxyEntry> ParseImportLine(std::string_view line, std::string& reason) {
    reason.clear();
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    line = Trimmed(line);
    if (line.empty() || line.front() == '#') {
        return std::nullopt;
    }
    std::vector<std::string_view> f;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = line.find(',', start);
        f.push_back(Trimmed(line.substr(start, comma == std::string_view::npos ? line.npos : comma - start)));
        if (comma == std::string_view::npos) {
            break;
        }
        start = comma + 1;
    }
    if (f.size() != 6) {
        reason = "expected address,code,country,lon,lat,super";
        return std::nullopt;
    }
    const auto address = ParseInventoryAddress(f[0]);
    if (!address) {
        reason = "the address is neither host:port nor http:// or socks5:// [user:password@]host:port";
        return std::nullopt;
    }
    if (f[5] != "0" && f[5] != "1") {
        reason = "super is neither 0 nor 1";
        return std::nullopt;
    }
    TProxyEntry entry;
    entry.Host = address->Host;
    entry.Port = address->Port;
    entry.Scheme = address->Scheme;
    entry.User = address->User;
    entry.Password = address->Password;
    entry.CountryCode = CountryCodeOf(f[1]);
    entry.Country = std::string(f[2]);
    entry.Longitude = std::string(f[3]);
    entry.Latitude = std::string(f[4]);
    entry.IsSuper = f[5] == "1";
    if (const auto wrong = CheckProxyEntry(entry)) {
        reason = *wrong;
        return std::nullopt;
    }
    return entry;
}

bool IsReleaseVersion(std::string_view text) {
    int parts = 0;
    std::size_t i = 0;
    while (i <= text.size()) {
        std::size_t end = text.find('.', i);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view part = text.substr(i, end - i);
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != part.npos ||
            std::stoi(std::string(part)) > 255) {
            return false;
        }
        ++parts;
        i = end + 1;
    }
    return parts == 4;
}

std::optional<std::string> CheckRelease(const TRelease& release) {
    if (!IsReleaseVersion(release.Version)) {
        return "the version is not four numbers 0..255 joined by \".\"";
    }
    if (!IsOneLineText(release.Info, kMaxInfoBytes)) {
        return "the info text must be one line of UTF-8";
    }
    if (!IsOneLineText(release.Page, kMaxInfoBytes)) {
        return "the page must be one line";
    }
    return std::nullopt;
}

}  // namespace cloakline::server
