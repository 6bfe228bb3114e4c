#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cloakline {

// A proxy text is host ":" port; the empty text means a direct connection.
// Only well-formed texts may reach a browser's configuration: the same text
// lands in registry values, INI files and JavaScript preference files, where
// a stray ";", "=", quote or line break would change what else they say.

struct TProxyEndpoint {
    std::string Host;  // a bracketed IPv6 address keeps its brackets
    std::uint16_t Port = 0;
};

// Host of letters, digits, ".", "-" and "_" starting with a letter or digit,
// or an IPv6 address in brackets; ":" and a decimal port 1..65535 without
// leading zeros. Nothing else, the empty text included.
std::optional<TProxyEndpoint> ParseProxyText(std::string_view text);
bool IsValidProxyText(std::string_view text);

struct TProxyTextParts {
    std::string Host;
    std::string Port;
};

// Host and port as the text spells them, split at the first ":" (a bracketed
// host ends at its "]"). Without ":" the host is empty and the port is the
// whole text. Does not validate.
TProxyTextParts SplitProxyText(std::string_view text);

}  // namespace cloakline
