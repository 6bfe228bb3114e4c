#pragma once

#include <cstdint>
#include <optional>

namespace cloakline::server {

// Whether a health round may start at now, given the start of the last one
// of the deployment (none yet: due). Processes wake a little apart, so a
// round is due slightly before a whole interval has passed; a last start far
// ahead of now (a clock set back) does not stop the rounds for good.
bool IsHealthRoundDue(std::optional<std::int64_t> lastStart, std::int64_t now, std::int64_t intervalSeconds);

}  // namespace cloakline::server
