#pragma once

#include <cstdint>

namespace cloakline {

class IClock;

// The draws of the proxy choice. Injectable so that a test can replay them.
class IProxyRandom {
  public:
    virtual ~IProxyRandom() = default;
    // Called where the choice re-seeds from the clock.
    virtual void Randomize() = 0;
    // Uniform in [0, bound); 0 when bound is 0. Every call counts as one draw.
    virtual std::uint32_t Below(std::uint32_t bound) = 0;
};

// The default generator: re-seeded from the clock on each Randomize.
class TClockSeededRandom final : public IProxyRandom {
  public:
    explicit TClockSeededRandom(const IClock& clock);
    void Randomize() override;
    std::uint32_t Below(std::uint32_t bound) override;

  private:
    const IClock& FClock;
    std::uint64_t FState = 0;
    std::uint64_t FSeeds = 0;
};

}  // namespace cloakline
