#pragma once

#include "platform/api/Clock.h"

namespace cloakline::test {

// Time that moves only when a test moves it.
class FakeClock : public IClock {
  public:
    explicit FakeClock(TDateTime now = 45000.0) : FNow(now) {}
    TDateTime Now() const override { return FNow; }
    std::uint32_t TickCount() const override { return FTicks; }

    void Set(TDateTime now) { FNow = now; }
    void AdvanceSeconds(double seconds);
    void AdvanceMs(std::uint32_t ms);

  private:
    TDateTime FNow;
    std::uint32_t FTicks = 1000;
};

}  // namespace cloakline::test
