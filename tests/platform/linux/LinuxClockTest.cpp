#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "platform/linux/LinuxClock.h"

namespace cloakline {
namespace {

std::tm Calendar(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

TEST(LinuxClock, CalendarDatesCountDaysFrom1899December30) {
    EXPECT_DOUBLE_EQ(DateTimeFromCalendar(Calendar(1899, 12, 30), 0), 0.0);
    EXPECT_DOUBLE_EQ(DateTimeFromCalendar(Calendar(1900, 1, 1), 0), 2.0);
    EXPECT_DOUBLE_EQ(DateTimeFromCalendar(Calendar(1900, 3, 1), 0), 61.0);
    EXPECT_DOUBLE_EQ(DateTimeFromCalendar(Calendar(1970, 1, 1), 0), 25569.0);
    EXPECT_DOUBLE_EQ(DateTimeFromCalendar(Calendar(2000, 1, 1, 12), 0), 36526.5);
    EXPECT_DOUBLE_EQ(DateTimeFromCalendar(Calendar(2024, 2, 29, 6), 0), 45351.25);
    EXPECT_DOUBLE_EQ(DateTimeFromCalendar(Calendar(2024, 3, 1), 0), 45352.0);
    EXPECT_DOUBLE_EQ(
        DateTimeFromCalendar(Calendar(2100, 3, 1), 0) - DateTimeFromCalendar(Calendar(2100, 2, 28), 0), 1.0);
    EXPECT_DOUBLE_EQ(DateTimeFromCalendar(Calendar(2000, 1, 1, 23, 59, 59), 500),
                     36526.0 + 86399.5 / 86400.0);
}

TEST(LinuxClock, NowIsTheLocalWallClock) {
    LinuxClock clock;
    const std::time_t before = std::time(nullptr);
    const TDateTime now = clock.Now();
    const std::time_t after = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&before, &local);
    // Local seconds since 1970 by the zone's offset, as days since 1899-12-30.
    const double expectedLow = static_cast<double>(before + local.tm_gmtoff) / 86400.0 + 25569.0;
    const double expectedHigh = static_cast<double>(after + 1 + local.tm_gmtoff) / 86400.0 + 25569.0;
    EXPECT_GE(now, expectedLow - 1.0 / 86400.0);
    EXPECT_LE(now, expectedHigh + 1.0 / 86400.0);
    // Milliseconds are kept, not whole seconds only.
    bool sawFraction = false;
    for (int i = 0; i < 50 && !sawFraction; ++i) {
        const double ms = std::fmod(clock.Now() * 86400000.0, 1000.0);
        sawFraction = std::fabs(ms) > 0.5 && std::fabs(ms - 1000.0) > 0.5;
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    EXPECT_TRUE(sawFraction);
}

TEST(LinuxClock, TickCountFollowsTheMonotonicClockInMilliseconds) {
    LinuxClock clock;
    timespec mono{};
    ::clock_gettime(CLOCK_MONOTONIC, &mono);
    const auto expected = static_cast<std::uint32_t>(static_cast<std::uint64_t>(mono.tv_sec) * 1000u +
                                                     static_cast<std::uint64_t>(mono.tv_nsec) / 1000000u);
    const std::uint32_t first = clock.TickCount();
    EXPECT_LE(static_cast<std::uint32_t>(first - expected), 1000u);

    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    const std::uint32_t elapsed = clock.TickCount() - first;
    EXPECT_GE(elapsed, 60u);
    EXPECT_LT(elapsed, 5000u);
}

}  // namespace
}  // namespace cloakline
