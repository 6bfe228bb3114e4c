#pragma once

#include <ctime>

#include "platform/api/Clock.h"

namespace cloakline {

class LinuxClock : public IClock {
  public:
    TDateTime Now() const override;
    std::uint32_t TickCount() const override;
};

// Local calendar fields and milliseconds as days since 1899-12-30.
TDateTime DateTimeFromCalendar(const std::tm& local, int milliseconds);

}  // namespace cloakline
