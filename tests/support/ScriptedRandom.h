#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <map>
#include <random>
#include <vector>

#include "core/proxy/ProxyRandom.h"

namespace cloakline::test {

// Draws chosen by the test: queued answers per bound, else the default.
// Every draw and seeding is logged so that tests can check the draw order.
class ScriptedRandom : public IProxyRandom {
  public:
    void Randomize() override { ++Seedings; }
    std::uint32_t Below(std::uint32_t bound) override {
        Bounds.push_back(bound);
        std::uint32_t value = Default;
        auto queued = Queued.find(bound);
        if (queued != Queued.end() && !queued->second.empty()) {
            value = queued->second.front();
            queued->second.pop_front();
        }
        if (bound == 0) {
            return 0;
        }
        EXPECT_LT(value, bound) << "scripted draw outside its range";
        return value % bound;
    }
    void Queue(std::uint32_t bound, std::uint32_t value) { Queued[bound].push_back(value); }

    std::uint32_t Default = 0;
    int Seedings = 0;
    std::vector<std::uint32_t> Bounds;
    std::map<std::uint32_t, std::deque<std::uint32_t>> Queued;
};

// A repeatable stream of uniform draws: two instances with one seed replay
// each other exactly.
class SeededRandom : public IProxyRandom {
  public:
    explicit SeededRandom(std::uint64_t seed) : FEngine(seed) {}
    void Randomize() override {}
    std::uint32_t Below(std::uint32_t bound) override {
        const std::uint32_t draw = static_cast<std::uint32_t>(FEngine());
        return bound == 0 ? 0 : draw % bound;
    }

  private:
    std::mt19937_64 FEngine;
};

}  // namespace cloakline::test
