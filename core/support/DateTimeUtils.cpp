#include "core/support/DateTimeUtils.h"

#include <cmath>
#include <limits>

namespace cloakline {

namespace {

constexpr double kMsPerDay = 86400000.0;

std::int64_t MillisecondsBetween(TDateTime a, TDateTime b) {
    const double ms = std::round(std::fabs(a - b) * kMsPerDay);
    // Nonsense dates (NaN, far beyond any calendar) count as the longest span.
    if (!(ms < static_cast<double>(std::numeric_limits<std::int64_t>::max()))) {
        return std::numeric_limits<std::int64_t>::max();
    }
    return static_cast<std::int64_t>(ms);
}

}  // namespace

std::int64_t SecondsBetween(TDateTime a, TDateTime b) {
    return MillisecondsBetween(a, b) / 1000;
}

std::int64_t MinutesBetween(TDateTime a, TDateTime b) {
    return MillisecondsBetween(a, b) / 60000;
}

std::int64_t DaysBetween(TDateTime a, TDateTime b) {
    return MillisecondsBetween(a, b) / 86400000;
}

}  // namespace cloakline
