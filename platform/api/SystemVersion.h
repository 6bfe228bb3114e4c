#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cloakline {

// The version the server is told about: on Windows what GetVersionExW gives
// (major, minor, service-pack text); elsewhere the kernel's release, without
// a service pack.
struct TSystemVersion {
    std::uint32_t Major = 0;
    std::uint32_t Minor = 0;
    std::string ServicePack;
};

TSystemVersion ReadSystemVersion();

// The leading "major.minor" of a kernel release such as "6.1.0-18-amd64";
// missing or unreadable numbers count as 0.
TSystemVersion ParseKernelRelease(std::string_view release);

}  // namespace cloakline
