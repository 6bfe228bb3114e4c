#include "core/support/RandomGenerator.h"

#include <atomic>
#include <chrono>

namespace cloakline {

namespace {

// A Weyl sequence advanced atomically, so concurrent draws never race; each
// draw is then scrambled by the splitmix64 finaliser. Two threads seeding at
// once may lose one seed, which does no harm.
constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ull;

std::atomic<std::uint64_t> gState{0};
std::atomic<bool> gSeeded{false};

std::uint64_t Mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

}  // namespace

void RandomGenerator::EnsureSeeded() {
    if (gSeeded.load(std::memory_order_acquire)) {
        return;
    }
    const auto ticks = std::chrono::system_clock::now().time_since_epoch().count() ^
                       std::chrono::steady_clock::now().time_since_epoch().count();
    Seed(static_cast<std::uint64_t>(ticks));
}

void RandomGenerator::Seed(std::uint64_t seed) {
    gState.store(seed, std::memory_order_relaxed);
    gSeeded.store(true, std::memory_order_release);
}

bool RandomGenerator::IsSeeded() {
    return gSeeded.load(std::memory_order_acquire);
}

std::uint32_t RandomGenerator::Next(std::uint32_t range) {
    if (range == 0) {
        return 0;
    }
    const std::uint64_t z = Mix(gState.fetch_add(kGolden, std::memory_order_relaxed) + kGolden);
    // The high bits are the best mixed; scaling them keeps the result below range.
    return static_cast<std::uint32_t>(((z >> 32) * range) >> 32);
}

}  // namespace cloakline
