#pragma once

#include <cstdint>

#include "core/support/Types.h"

namespace cloakline {

class IClock {
  public:
    virtual ~IClock() = default;
    // Local date-time.
    virtual TDateTime Now() const = 0;
    // Milliseconds since some fixed moment, wrapping at 2^32.
    virtual std::uint32_t TickCount() const = 0;
};

}  // namespace cloakline
