#include "core/proxy/ProxyRandom.h"

#include <bit>
#include <cstring>

#include "platform/api/Clock.h"

namespace cloakline {
namespace {

std::uint64_t SplitMix64(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

}  // namespace

TClockSeededRandom::TClockSeededRandom(const IClock& clock) : FClock(clock) {
    Randomize();
}

void TClockSeededRandom::Randomize() {
    // Two seeds within the same clock tick must still differ, so the count of
    // seeds goes in as well.
    const double now = FClock.Now();
    std::uint64_t nowBits = 0;
    std::memcpy(&nowBits, &now, sizeof nowBits);
    FState = nowBits ^ (static_cast<std::uint64_t>(FClock.TickCount()) << 32) ^ std::rotl(++FSeeds, 17);
}

std::uint32_t TClockSeededRandom::Below(std::uint32_t bound) {
    const std::uint64_t draw = SplitMix64(FState);
    if (bound == 0) {
        return 0;
    }
    // Multiply-high maps 32 random bits onto [0, bound) with negligible bias.
    return static_cast<std::uint32_t>(((draw >> 32) * bound) >> 32);
}

}  // namespace cloakline
