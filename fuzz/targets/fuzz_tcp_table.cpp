// The kernel's TCP tables (/proc/net/tcp and tcp6) as read from /proc: any
// bytes, line by line; and an fd link's target.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/proxy/SocketTable.h"
#include "fuzz/support/FuzzCheck.h"

using namespace cloakline;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto sockets = ParseTcpTable(input);
    for (const TTcpSocket& socket : sockets) {
        // An address is text of an address: never empty, never longer than IPv6's longest form.
        FUZZ_CHECK(!socket.LocalAddress.empty() && socket.LocalAddress.size() <= 39);
        FUZZ_CHECK(!socket.RemoteAddress.empty() && socket.RemoteAddress.size() <= 39);
        FUZZ_CHECK(socket.State >= 0 && socket.State <= 0xFF);
    }
    for (const std::uint64_t inode : LoopbackClientInodes(sockets, 8899)) {
        FUZZ_CHECK(inode != 0);
    }
    if (const auto inode = SocketInodeOfLink(input)) {
        FUZZ_CHECK(input.starts_with("socket:["));
    }
    return 0;
}
