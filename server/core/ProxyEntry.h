#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cloakline::server {

// One proxy of the server's inventory.
struct TProxyEntry {
    std::string Host;
    std::uint16_t Port = 0;
    std::string CountryCode;  // two upper-case letters
    std::string Country;      // display name
    std::string Longitude = "0";
    std::string Latitude = "0";
    bool IsSuper = false;
    // The health check's last word; a proxy never checked is not healthy.
    bool Healthy = false;
    std::optional<std::int64_t> CheckedAt;  // seconds since 1970
    std::optional<std::int64_t> LastTouch;  // seconds since 1970

    // host:port, the key of the inventory and the text the program is given.
    std::string Address() const { return Host + ":" + std::to_string(Port); }
};

// The release record the update answer reports from.
struct TRelease {
    std::string Version;  // four numbers joined by "."
    std::string Info;
    std::string Page;
};

struct TProxyAddress {
    std::string Host;
    std::uint16_t Port = 0;
};

// "host:port": host a dotted IPv4 address or a host name of letters, digits,
// "-" and "."; port 1..65535.
std::optional<TProxyAddress> ParseProxyAddress(std::string_view text);

// An entry whose fields can all be sent to the program in its line format;
// the reason in words otherwise.
std::optional<std::string> CheckProxyEntry(const TProxyEntry& entry);

// One line of an inventory file: "address,code,country,lon,lat,super(0/1)".
// nullopt for blank and "#" lines; an error text in reason for a wrong line.
std::optional<TProxyEntry> ParseImportLine(std::string_view line, std::string& reason);

// Four numbers 0..255 joined by ".".
bool IsReleaseVersion(std::string_view text);
std::optional<std::string> CheckRelease(const TRelease& release);

}  // namespace cloakline::server
