#include "server/core/Ipv4.h"

namespace cloakline::server {

std::optional<std::uint32_t> ParseIpv4(std::string_view text) {
    std::uint32_t result = 0;
    int parts = 0;
    std::size_t i = 0;
    while (parts < 4) {
        const std::size_t start = i;
        std::uint32_t part = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) {
            part = part * 10 + static_cast<std::uint32_t>(text[i] - '0');
            ++i;
        }
        const std::size_t digits = i - start;
        if (digits == 0 || part > 255 || (digits > 1 && text[start] == '0')) {
            return std::nullopt;
        }
        result = (result << 8) | part;
        ++parts;
        if (parts < 4) {
            if (i >= text.size() || text[i] != '.') {
                return std::nullopt;
            }
            ++i;
        }
    }
    if (i != text.size()) {
        return std::nullopt;
    }
    return result;
}

std::string FormatIpv4(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFFu) + "." +
           std::to_string((address >> 8) & 0xFFu) + "." + std::to_string(address & 0xFFu);
}

}  // namespace cloakline::server
