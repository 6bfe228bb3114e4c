// The caching and batching in front of the store, with a clock the test
// moves, over a store that records what reaches it; and the health checker
// leaving a round to another process.
#include "server/store/StoreDecorators.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "server/HealthChecker.h"
#include "tests/support/TempDir.h"

namespace cloakline::server {
namespace {

using namespace std::chrono_literals;

class TRecordingStore : public IProxyStore {
  public:
    std::vector<TProxyEntry> ListProxies() override {
        std::lock_guard lock(Mutex);
        ++Lists;
        return Proxies;
    }
    std::vector<TProxyEntry> HealthyProxies() override {
        std::lock_guard lock(Mutex);
        ++HealthyReads;
        return Proxies;
    }
    void PutProxy(const TProxyEntry& entry) override { PutProxies({entry}); }
    void PutProxies(const std::vector<TProxyEntry>& entries) override {
        std::lock_guard lock(Mutex);
        Proxies.insert(Proxies.end(), entries.begin(), entries.end());
    }
    bool RemoveProxy(const std::string&) override { return false; }
    void RecordHealth(const std::string&, bool, std::int64_t) override {}
    int RecordTouch(const std::string&, std::optional<std::uint16_t>, std::int64_t) override {
        std::lock_guard lock(Mutex);
        ++SingleTouches;
        return 0;
    }
    void RecordTouches(const std::vector<TTouch>& touches) override {
        std::lock_guard lock(Mutex);
        Batches.push_back(touches);
    }
    std::optional<TRelease> Release() override {
        std::lock_guard lock(Mutex);
        ++ReleaseReads;
        return TRelease{"1.0.0." + std::to_string(ReleaseReads), "", ""};
    }
    void SetRelease(const TRelease&) override {}
    bool ClaimHealthRound(std::int64_t, std::int64_t) override {
        std::lock_guard lock(Mutex);
        ++Claims;
        return Grant;
    }

    std::mutex Mutex;
    std::vector<TProxyEntry> Proxies;
    std::vector<std::vector<TTouch>> Batches;
    int Lists = 0, HealthyReads = 0, ReleaseReads = 0, SingleTouches = 0, Claims = 0;
    bool Grant = true;
};

TProxyEntry Super(std::string host, std::uint16_t port, bool super = true) {
    TProxyEntry e;
    e.Host = std::move(host);
    e.Port = port;
    e.IsSuper = super;
    return e;
}

struct TTestClock {
    std::chrono::steady_clock::time_point Now{};
    TSteadyNow Function() {
        return [this] { return Now; };
    }
};

TEST(TouchBatchingStoreTest, AnswersFromARecentListAndWritesTouchesInOneBatch) {
    TRecordingStore inner;
    inner.Proxies = {Super("10.0.0.7", 3128), Super("10.0.0.7", 3129), Super("10.0.0.8", 80, false)};
    TTestClock clock;
    TTouchBatchingStore store(inner, TTouchBatchOptions{}, clock.Function());

    EXPECT_EQ(store.RecordTouch("10.0.0.7", std::nullopt, 100), 2);
    EXPECT_EQ(store.RecordTouch("10.0.0.7", 3129, 101), 1);
    EXPECT_EQ(store.RecordTouch("10.0.0.7", 80, 102), 0);
    EXPECT_EQ(store.RecordTouch("10.0.0.8", std::nullopt, 103), 0) << "not a super proxy";
    EXPECT_EQ(store.RecordTouch("10.0.0.9", std::nullopt, 104), 0);
    EXPECT_EQ(inner.Lists, 1) << "one read of the list answers them all";
    EXPECT_TRUE(inner.Batches.empty());
    EXPECT_EQ(store.Queued(), 2u) << "only touches that found a proxy are kept";

    store.Flush();
    EXPECT_EQ(inner.SingleTouches, 0);
    ASSERT_EQ(inner.Batches.size(), 1u);
    ASSERT_EQ(inner.Batches[0].size(), 2u);
    EXPECT_EQ(inner.Batches[0][1].Port, 3129);
    EXPECT_EQ(inner.Batches[0][1].At, 101);

    // A super proxy added elsewhere is known once the list is old enough.
    inner.Proxies.push_back(Super("10.0.0.9", 80));
    clock.Now += 2900ms;
    EXPECT_EQ(store.RecordTouch("10.0.0.9", std::nullopt, 105), 0);
    clock.Now += 100ms;
    EXPECT_EQ(store.RecordTouch("10.0.0.9", std::nullopt, 106), 1);
    EXPECT_EQ(inner.Lists, 2);

    // A full queue is written at once.
    for (int i = 0; i < 999; ++i) {
        store.RecordTouch("10.0.0.7", 3128, 200 + i);
    }
    ASSERT_EQ(inner.Batches.size(), 2u);
    EXPECT_EQ(inner.Batches[1].size(), 1000u);
    EXPECT_EQ(store.Queued(), 0u);
}

TEST(TouchBatchingStoreTest, ItsThreadWritesOnScheduleAndStopWritesTheRest) {
    TRecordingStore inner;
    inner.Proxies = {Super("10.0.0.7", 3128)};
    TTouchBatchOptions options;
    options.FlushInterval = 50ms;
    TTouchBatchingStore store(inner, options, std::chrono::steady_clock::now);
    store.Start();
    store.RecordTouch("10.0.0.7", std::nullopt, 1);
    for (int i = 0; i < 200 && store.Queued() > 0; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(store.Queued(), 0u) << "written by the thread";

    options.FlushInterval = 1h;
    TTouchBatchingStore slow(inner, options, std::chrono::steady_clock::now);
    slow.Start();
    slow.RecordTouch("10.0.0.7", std::nullopt, 2);
    slow.Stop();
    std::lock_guard lock(inner.Mutex);
    ASSERT_EQ(inner.Batches.size(), 2u);
    EXPECT_EQ(inner.Batches[1].at(0).At, 2);
}

TEST(CachedReadsStoreTest, HealthyListAndReleaseAreReadOncePerTtl) {
    TRecordingStore inner;
    inner.Proxies = {Super("10.0.0.7", 3128)};
    TTestClock clock;
    TCachedReadsStore store(inner, 3s, clock.Function());

    EXPECT_EQ(store.HealthyProxies().size(), 1u);
    EXPECT_EQ(store.Release()->Version, "1.0.0.1");
    inner.Proxies.clear();
    clock.Now += 2999ms;
    EXPECT_EQ(store.HealthyProxies().size(), 1u) << "a write elsewhere shows after the TTL";
    EXPECT_EQ(store.Release()->Version, "1.0.0.1");
    EXPECT_EQ(inner.HealthyReads, 1);
    clock.Now += 1ms;
    EXPECT_TRUE(store.HealthyProxies().empty());
    EXPECT_EQ(store.Release()->Version, "1.0.0.2");
    EXPECT_EQ(store.ListProxies().size(), 0u);
    EXPECT_EQ(inner.Lists, 1) << "the full list is never cached";
}

TEST(HealthCheckerClaimTest, ARoundClaimedByAnotherProcessIsSkipped) {
    cloakline::test::TempDir dir;
    TServerLog log(dir.Path() + "/log");
    TRecordingStore store;
    store.Grant = false;
    THealthOptions options;
    options.Interval = 1h;
    THealthChecker checker(store, log, options);
    checker.Start();
    for (int i = 0; i < 500 && checker.SkippedRounds() == 0; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    checker.Stop();
    EXPECT_EQ(checker.SkippedRounds(), 1u);
    EXPECT_EQ(checker.Rounds(), 0u);
    EXPECT_EQ(store.Lists, 0) << "nothing was checked";
}

}  // namespace
}  // namespace cloakline::server
