#pragma once

#include <cstdint>

namespace cloakline {

// Days since 1899-12-30, local clock.
using TDateTime = double;

// 100-nanosecond intervals since 1601-01-01 UTC.
using TFileTime = std::uint64_t;

struct TRect {
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Right = 0;
    std::int32_t Bottom = 0;

    std::int32_t Width() const { return Right - Left; }
    std::int32_t Height() const { return Bottom - Top; }
    friend bool operator==(const TRect&, const TRect&) = default;
};

}  // namespace cloakline
