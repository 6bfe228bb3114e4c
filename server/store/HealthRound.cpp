#include "server/store/HealthRound.h"

#include <algorithm>

namespace cloakline::server {

bool IsHealthRoundDue(std::optional<std::int64_t> lastStart, std::int64_t now, std::int64_t intervalSeconds) {
    if (!lastStart) {
        return true;
    }
    const std::int64_t slack = std::min<std::int64_t>(5, intervalSeconds / 10);
    const std::int64_t age = now - *lastStart;
    return age >= intervalSeconds - slack || age < -intervalSeconds;
}

}  // namespace cloakline::server
