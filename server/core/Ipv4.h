#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cloakline::server {

// Dotted IPv4 "a.b.c.d", each part 0..255 in decimal without leading zeros
// (a leading zero reads as octal elsewhere, so it is refused rather than guessed).
std::optional<std::uint32_t> ParseIpv4(std::string_view text);
std::string FormatIpv4(std::uint32_t address);

}  // namespace cloakline::server
