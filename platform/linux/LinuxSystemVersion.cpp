#include <sys/utsname.h>

#include <limits>

#include "platform/api/SystemVersion.h"

namespace cloakline {

namespace {

// Digits from pos on; stops at the first other character and saturates
// instead of overflowing.
std::uint32_t ReadNumber(std::string_view text, std::size_t& pos) {
    std::uint64_t value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10 + static_cast<std::uint64_t>(text[pos] - '0');
        if (value > std::numeric_limits<std::uint32_t>::max()) {
            value = std::numeric_limits<std::uint32_t>::max();
        }
        ++pos;
    }
    return static_cast<std::uint32_t>(value);
}

}  // namespace

TSystemVersion ParseKernelRelease(std::string_view release) {
    TSystemVersion version;
    std::size_t pos = 0;
    version.Major = ReadNumber(release, pos);
    if (pos < release.size() && release[pos] == '.') {
        ++pos;
        version.Minor = ReadNumber(release, pos);
    }
    return version;
}

TSystemVersion ReadSystemVersion() {
    struct utsname names {};
    if (::uname(&names) != 0) {
        return {};
    }
    return ParseKernelRelease(names.release);
}

}  // namespace cloakline
