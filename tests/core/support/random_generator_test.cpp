#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "core/support/RandomGenerator.h"

namespace cloakline {
namespace {

std::vector<std::uint32_t> Draw(std::size_t count, std::uint32_t range) {
    std::vector<std::uint32_t> values;
    for (std::size_t i = 0; i < count; ++i) {
        values.push_back(RandomGenerator::Next(range));
    }
    return values;
}

TEST(RandomGenerator, StaysBelowTheRange) {
    RandomGenerator::Seed(12345);
    for (const std::uint32_t range : {1u, 2u, 7u, 1000u, 0xFFFFFu, 0xFFFFFFFFu}) {
        SCOPED_TRACE(range);
        for (const std::uint32_t value : Draw(5000, range)) {
            ASSERT_LT(value, range);
        }
    }
}

TEST(RandomGenerator, ReachesEveryValueOfASmallRange) {
    RandomGenerator::Seed(7);
    const std::vector<std::uint32_t> values = Draw(2000, 16);
    const std::set<std::uint32_t> seen(values.begin(), values.end());
    EXPECT_EQ(seen.size(), 16u);
}

TEST(RandomGenerator, OneSeedGivesOneSequence) {
    RandomGenerator::Seed(42);
    const auto first = Draw(50, 0xFFFFF);
    RandomGenerator::Seed(42);
    const auto again = Draw(50, 0xFFFFF);
    RandomGenerator::Seed(43);
    const auto other = Draw(50, 0xFFFFF);
    EXPECT_EQ(first, again);
    EXPECT_NE(first, other);
    // Consecutive draws must not repeat one value.
    EXPECT_GT(std::set<std::uint32_t>(first.begin(), first.end()).size(), 45u);
}

TEST(RandomGenerator, EnsureSeededLeavesAnExistingSeedAlone) {
    RandomGenerator::Seed(99);
    const auto expected = Draw(10, 1000);
    RandomGenerator::Seed(99);
    RandomGenerator::EnsureSeeded();
    EXPECT_TRUE(RandomGenerator::IsSeeded());
    EXPECT_EQ(Draw(10, 1000), expected);
}

TEST(RandomGenerator, ConcurrentDrawsStayInRange) {
    RandomGenerator::EnsureSeeded();
    constexpr int kThreads = 4;
    constexpr int kDraws = 20000;
    std::atomic<int> outOfRange{0};
    std::vector<std::set<std::uint32_t>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kDraws; ++i) {
                const std::uint32_t value = RandomGenerator::Next(0xFFFFF);
                if (value >= 0xFFFFFu) {
                    ++outOfRange;
                }
                seen[static_cast<std::size_t>(t)].insert(value);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(outOfRange.load(), 0);
    for (const auto& values : seen) {
        // A generator stuck on one state would give a handful of values.
        EXPECT_GT(values.size(), static_cast<std::size_t>(kDraws) * 9 / 10);
    }
}

}  // namespace
}  // namespace cloakline
