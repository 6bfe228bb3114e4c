#include "tests/support/FakeClock.h"

namespace cloakline::test {

void FakeClock::AdvanceSeconds(double seconds) {
    FNow += seconds / 86400.0;
    FTicks += static_cast<std::uint32_t>(seconds * 1000.0);
}

void FakeClock::AdvanceMs(std::uint32_t ms) {
    FNow += ms / 86400000.0;
    FTicks += ms;
}

}  // namespace cloakline::test
