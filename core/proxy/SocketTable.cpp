#include "core/proxy/SocketTable.h"

#include <bit>
#include <charconv>

namespace cloakline {

namespace {

std::optional<std::uint64_t> Hex(std::string_view text, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// One 32-bit word of an address as the kernel printed it: the bytes in
// memory order, which is the network order of the address.
bool WordBytes(std::string_view hex, std::uint8_t* bytes) {
    const auto word = Hex(hex, 8);
    if (!word || hex.size() != 8) {
        return false;
    }
    auto value = static_cast<std::uint32_t>(*word);
    if constexpr (std::endian::native == std::endian::little) {
        for (int i = 0; i < 4; ++i) {
            bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    } else {
        for (int i = 0; i < 4; ++i) {
            bytes[3 - i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    }
    return true;
}

std::string V4Text(const std::uint8_t* bytes) {
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) + "." +
           std::to_string(bytes[3]);
}

std::string V6Text(const std::uint8_t* bytes) {
    // An IPv4-mapped address reads as the IPv4 address it carries.
    bool mapped = bytes[10] == 0xFF && bytes[11] == 0xFF;
    for (int i = 0; i < 10 && mapped; ++i) {
        mapped = bytes[i] == 0;
    }
    if (mapped) {
        return V4Text(bytes + 12);
    }
    // The longest run of zero groups (two or more) is shortened to "::".
    std::uint16_t groups[8];
    for (int i = 0; i < 8; ++i) {
        groups[i] = static_cast<std::uint16_t>((bytes[2 * i] << 8) | bytes[2 * i + 1]);
    }
    int bestStart = -1;
    int bestLength = 1;
    for (int i = 0; i < 8;) {
        int j = i;
        while (j < 8 && groups[j] == 0) {
            ++j;
        }
        if (j - i > bestLength) {
            bestStart = i;
            bestLength = j - i;
        }
        i = j == i ? i + 1 : j;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 8; ++i) {
        if (i == bestStart) {
            text += "::";
            i += bestLength - 1;
            continue;
        }
        if (!text.empty() && !text.ends_with(':')) {
            text += ':';
        }
        bool started = false;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const int digit = (groups[i] >> shift) & 0xF;
            if (digit != 0 || started || shift == 0) {
                text += kDigits[digit];
                started = true;
            }
        }
    }
    return text;
}

// "0100007F:1F90" or the 32-digit IPv6 form with its port.
bool ParseEndpoint(std::string_view field, std::string& address, std::uint16_t& port) {
    const std::size_t colon = field.find(':');
    if (colon == std::string_view::npos) {
        return false;
    }
    const std::string_view hexAddress = field.substr(0, colon);
    const auto portValue = Hex(field.substr(colon + 1), 4);
    if (!portValue || field.size() - colon - 1 != 4) {
        return false;
    }
    std::uint8_t bytes[16];
    if (hexAddress.size() == 8) {
        if (!WordBytes(hexAddress, bytes)) {
            return false;
        }
        address = V4Text(bytes);
    } else if (hexAddress.size() == 32) {
        for (int word = 0; word < 4; ++word) {
            if (!WordBytes(hexAddress.substr(static_cast<std::size_t>(word) * 8, 8), bytes + 4 * word)) {
                return false;
            }
        }
        address = V6Text(bytes);
    } else {
        return false;
    }
    port = static_cast<std::uint16_t>(*portValue);
    return true;
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t start = line.find_first_not_of(" \t", at);
        if (start == std::string_view::npos) {
            break;
        }
        std::size_t end = line.find_first_of(" \t", start);
        if (end == std::string_view::npos) {
            end = line.size();
        }
        fields.push_back(line.substr(start, end - start));
        at = end;
    }
    return fields;
}

}  // namespace

std::optional<TTcpSocket> ParseTcpTableLine(std::string_view line) {
    // sl local rem st tx:rx tr:when retrnsmt uid timeout inode ...
    const std::vector<std::string_view> fields = Fields(line);
    if (fields.size() < 10 || !fields[0].ends_with(':')) {
        return std::nullopt;
    }
    TTcpSocket socket;
    if (!ParseEndpoint(fields[1], socket.LocalAddress, socket.LocalPort) ||
        !ParseEndpoint(fields[2], socket.RemoteAddress, socket.RemotePort)) {
        return std::nullopt;
    }
    const auto state = Hex(fields[3], 2);
    if (!state) {
        return std::nullopt;
    }
    socket.State = static_cast<int>(*state);
    const std::string_view inode = fields[9];
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(inode.data(), inode.data() + inode.size(), value, 10);
    if (error != std::errc() || end != inode.data() + inode.size()) {
        return std::nullopt;
    }
    socket.Inode = value;
    return socket;
}

std::vector<TTcpSocket> ParseTcpTable(std::string_view table) {
    std::vector<TTcpSocket> sockets;
    std::size_t start = 0;
    while (start < table.size()) {
        std::size_t end = table.find('\n', start);
        if (end == std::string_view::npos) {
            end = table.size();
        }
        if (auto socket = ParseTcpTableLine(table.substr(start, end - start))) {
            sockets.push_back(std::move(*socket));
        }
        start = end + 1;
    }
    return sockets;
}

std::set<std::uint64_t> LoopbackClientInodes(const std::vector<TTcpSocket>& sockets, std::uint16_t port) {
    std::set<std::uint64_t> inodes;
    for (const TTcpSocket& socket : sockets) {
        // Inode 0: a socket already closed by its process (TIME_WAIT and such).
        if (socket.State == kTcpEstablished && socket.RemoteAddress == "127.0.0.1" &&
            socket.RemotePort == port && socket.Inode != 0) {
            inodes.insert(socket.Inode);
        }
    }
    return inodes;
}

std::optional<std::uint64_t> SocketInodeOfLink(std::string_view target) {
    constexpr std::string_view kOpen = "socket:[";
    if (!target.starts_with(kOpen) || !target.ends_with(']')) {
        return std::nullopt;
    }
    const std::string_view digits = target.substr(kOpen.size(), target.size() - kOpen.size() - 1);
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 10);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace cloakline
