#pragma once

#include <cstdint>

namespace cloakline {

// The process-wide pseudo-random generator. Draws are safe from any thread.
class RandomGenerator {
  public:
    // Seeds from the clock when nothing seeded it before.
    static void EnsureSeeded();
    static void Seed(std::uint64_t seed);
    static bool IsSeeded();
    // 0 <= result < range (range > 0).
    static std::uint32_t Next(std::uint32_t range);
};

}  // namespace cloakline
