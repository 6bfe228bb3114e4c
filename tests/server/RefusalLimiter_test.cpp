// How many refusal lines one client may put into the log, on a clock of our own.
#include "server/core/RefusalLimiter.h"

#include <gtest/gtest.h>

namespace cloakline::server {
namespace {

using TClock = TRefusalLimiter::TClock;
using std::chrono::milliseconds;

const TClock::time_point KStart = TClock::time_point{} + std::chrono::hours(1);

TClock::time_point At(int ms) {
    return KStart + milliseconds(ms);
}

std::vector<std::string> Lines(std::initializer_list<const char*> lines) {
    return {lines.begin(), lines.end()};
}

TEST(RefusalLimiterTest, ABurstWritesItsShareThenOneSummaryPerWindow) {
    TRefusalLimiter limiter(3);
    std::vector<std::string> written;
    for (int i = 0; i < 10; ++i) {
        for (std::string& line : limiter.Refusal("192.0.2.7", "bad " + std::to_string(i), At(i * 10))) {
            written.push_back(std::move(line));
        }
    }
    EXPECT_EQ(written, Lines({"bad 0", "bad 1", "bad 2"}));
    // Within the window nothing is summed up yet; the next window's first
    // refusal brings the summary in front of itself.
    EXPECT_TRUE(limiter.Flush(At(999)).empty());
    EXPECT_EQ(limiter.Refusal("192.0.2.7", "late", At(1000)),
              Lines({"7 more refusals from 192.0.2.7 held back", "late"}));
    EXPECT_EQ(limiter.Refusal("192.0.2.7", "a", At(1001)), Lines({"a"}));
    EXPECT_EQ(limiter.Refusal("192.0.2.7", "b", At(1002)), Lines({"b"}));
    EXPECT_TRUE(limiter.Refusal("192.0.2.7", "c", At(1003)).empty());
    // A client that goes quiet gets its summary from the flush, and is forgotten.
    EXPECT_EQ(limiter.Flush(At(2003)), Lines({"1 more refusal from 192.0.2.7 held back"}));
    EXPECT_TRUE(limiter.Empty());
    EXPECT_EQ(limiter.Refusal("192.0.2.7", "again", At(2004)), Lines({"again"}));

    limiter.SetLinesPerSecond(1);
    EXPECT_EQ(limiter.Refusal("198.51.100.1", "one", At(3000)), Lines({"one"}));
    EXPECT_TRUE(limiter.Refusal("198.51.100.1", "two", At(3001)).empty());
}

TEST(RefusalLimiterTest, ClientsAreCountedApartAndMemoryStaysBounded) {
    TRefusalLimiter limiter(1, 3);
    EXPECT_EQ(limiter.Refusal("10.0.0.1", "x1", At(0)), Lines({"x1"}));
    EXPECT_TRUE(limiter.Refusal("10.0.0.1", "x2", At(1)).empty());
    EXPECT_EQ(limiter.Refusal("10.0.0.2", "y1", At(2)), Lines({"y1"}));
    EXPECT_EQ(limiter.Refusal("10.0.0.3", "z1", At(3)), Lines({"z1"}));
    EXPECT_EQ(limiter.TrackedClients(), 3u);

    // No room: newcomers share one window of their own, summed up as such.
    EXPECT_EQ(limiter.Refusal("10.0.0.4", "w1", At(4)), Lines({"w1"}));
    EXPECT_TRUE(limiter.Refusal("10.0.0.5", "v1", At(5)).empty());
    EXPECT_TRUE(limiter.Refusal("10.0.0.6", "u1", At(6)).empty());
    EXPECT_EQ(limiter.TrackedClients(), 3u);

    // Once the first windows are over, a newcomer makes room by flushing them.
    EXPECT_EQ(limiter.Refusal("10.0.0.7", "t1", At(1003)),
              Lines({"1 more refusal from 10.0.0.1 held back", "t1"}));
    EXPECT_EQ(limiter.TrackedClients(), 1u);
    EXPECT_EQ(limiter.Flush(At(1006)), Lines({"2 more refusals from other clients held back"}));

    // Thousands of addresses, each once: never more tracked than the cap.
    TRefusalLimiter many(5, 100);
    std::size_t written = 0;
    for (int i = 0; i < 5000; ++i) {
        written +=
            many.Refusal("10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256), "r", At(i / 10))
                .size();
        ASSERT_LE(many.TrackedClients(), 100u);
    }
    EXPECT_LT(written, 5000u);
}

}  // namespace
}  // namespace cloakline::server
