#pragma once

#include <cstdint>

#include "core/support/Types.h"

namespace cloakline {

// Whole seconds, whole minutes and whole days between two date-times: the absolute
// difference, truncated. Counted on whole milliseconds, so that a span of
// exact seconds built from fractions of a day is not a hair short of itself.
std::int64_t SecondsBetween(TDateTime a, TDateTime b);
std::int64_t MinutesBetween(TDateTime a, TDateTime b);
std::int64_t DaysBetween(TDateTime a, TDateTime b);

}  // namespace cloakline
