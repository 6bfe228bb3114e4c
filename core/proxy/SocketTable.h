#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace cloakline {

// One socket of the kernel's TCP tables (/proc/net/tcp and tcp6): the
// addresses in their text form ("127.0.0.1", "::1"; an IPv4-mapped IPv6
// address in its IPv4 form), the state number (1: established) and the
// socket's inode, by which /proc/<pid>/fd names it.
struct TTcpSocket {
    std::string LocalAddress;
    std::uint16_t LocalPort = 0;
    std::string RemoteAddress;
    std::uint16_t RemotePort = 0;
    int State = 0;
    std::uint64_t Inode = 0;

    friend bool operator==(const TTcpSocket&, const TTcpSocket&) = default;
};

inline constexpr int kTcpEstablished = 1;

// One line of such a table; nullopt for the heading and for anything that is
// not a well-formed line. The addresses are the kernel's words in this
// machine's byte order (the order of the machine that wrote the table).
std::optional<TTcpSocket> ParseTcpTableLine(std::string_view line);
// Every well-formed line of a table.
std::vector<TTcpSocket> ParseTcpTable(std::string_view table);
// The inodes of established sockets whose far end is 127.0.0.1:port: the
// clients' ends of connections to a local proxy on that port.
std::set<std::uint64_t> LoopbackClientInodes(const std::vector<TTcpSocket>& sockets, std::uint16_t port);
// The inode of an fd link's target "socket:[N]"; nullopt for anything else.
std::optional<std::uint64_t> SocketInodeOfLink(std::string_view target);

}  // namespace cloakline
