#pragma once

#include "platform/api/Clock.h"

namespace cloakline {

class Win32Clock : public IClock {
  public:
    TDateTime Now() const override;
    std::uint32_t TickCount() const override;
};

}  // namespace cloakline
