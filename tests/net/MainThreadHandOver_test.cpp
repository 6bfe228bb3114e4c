#include "net/MainThreadHandOver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/net/LoopDispatcher.h"

namespace cloakline::test {
namespace {

using namespace std::chrono_literals;

constexpr auto kWait = 5s;

// A worker thread that makes one RunSync call and reports its answer.
class Worker {
  public:
    Worker(TMainThreadHandOver& handOver, std::function<void()> task)
        : FTask(std::move(task)),
          FAnswer(FPromise.get_future()),
          FThread([this, &handOver] { FPromise.set_value(handOver.RunSync(FTask)); }) {}
    ~Worker() { FThread.join(); }
    // The answer of RunSync, once it has returned within the time.
    std::optional<bool> Answer(std::chrono::milliseconds timeout = kWait) {
        if (FAnswer.wait_for(timeout) != std::future_status::ready) {
            return std::nullopt;
        }
        return FAnswer.get();
    }
    bool Returned() const { return FAnswer.wait_for(0s) == std::future_status::ready; }

  private:
    std::function<void()> FTask;
    std::promise<bool> FPromise;
    std::future<bool> FAnswer;
    std::thread FThread;
};

bool WaitForQueued(const TMainThreadHandOver& handOver, std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (handOver.PendingCount() < count) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(MainThreadHandOverTest, AWorkersTaskRunsOnTheMainThreadAndTheWorkerWaitsForIt) {
    auto loop = TLoopDispatcher::Create();
    const auto mainThread = std::this_thread::get_id();
    std::thread::id ranOn;
    int value = 0;
    int seenByWorkerAfterReturn = -1;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        const bool ran = loop->RunSync([&] {
            ranOn = std::this_thread::get_id();
            value = 42;
        });
        // Nothing synchronises value with this thread but the hand-over itself.
        seenByWorkerAfterReturn = ran ? value : -2;
        returned = true;
    });
    ASSERT_TRUE(WaitForQueued(*loop, 1));
    EXPECT_FALSE(returned.load()) << "the worker must wait until its task has run";
    EXPECT_TRUE(loop->RunUntil([&] { return returned.load(); }, kWait));
    worker.join();
    EXPECT_EQ(ranOn, mainThread);
    EXPECT_EQ(seenByWorkerAfterReturn, 42);
    EXPECT_EQ(loop->TasksRun(), 1u);
}

TEST(MainThreadHandOverTest, OnTheMainThreadATaskRunsAtOnceAndNotAfterClose) {
    auto loop = TLoopDispatcher::Create();
    int runs = 0;
    EXPECT_TRUE(loop->RunSync([&] { ++runs; }));
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(loop->PendingCount(), 0u) << "inline, nothing queued";
    loop->Close();
    EXPECT_FALSE(loop->RunSync([&] { ++runs; }));
    EXPECT_EQ(runs, 1);
}

TEST(MainThreadHandOverTest, TasksFromSeveralWorkersRunInTheOrderTheyWereHandedOver) {
    auto loop = TLoopDispatcher::Create();
    std::vector<int> order;
    std::vector<std::unique_ptr<Worker>> workers;
    for (int i = 0; i < 4; ++i) {
        workers.push_back(std::make_unique<Worker>(*loop, [&order, i] { order.push_back(i); }));
        // One at a time, so that the order of handing over is known.
        ASSERT_TRUE(WaitForQueued(*loop, static_cast<std::size_t>(i) + 1));
    }
    EXPECT_TRUE(loop->RunUntil([&] { return order.size() == 4; }, kWait));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
    for (auto& w : workers) {
        EXPECT_EQ(w->Answer(), true);
    }
}

TEST(MainThreadHandOverTest, CloseReleasesWaitingWorkersWithoutRunningTheirTasks) {
    auto loop = TLoopDispatcher::Create();
    int runs = 0;
    Worker first(*loop, [&] { ++runs; });
    Worker second(*loop, [&] { ++runs; });
    ASSERT_TRUE(WaitForQueued(*loop, 2));
    loop->Close();
    EXPECT_EQ(first.Answer(), false);
    EXPECT_EQ(second.Answer(), false);
    EXPECT_EQ(loop->RunPending(), 0u);
    EXPECT_EQ(runs, 0);

    Worker late(*loop, [&] { ++runs; });
    EXPECT_EQ(late.Answer(), false) << "after Close a worker must not wait at all";
    EXPECT_EQ(loop->PendingCount(), 0u);
}

TEST(MainThreadHandOverTest, CloseDuringATaskLetsThatTaskFinishAndCountAsRun) {
    auto loop = TLoopDispatcher::Create();
    int laterRuns = 0;
    std::unique_ptr<Worker> later;
    Worker running(*loop, [&] {
        // The program starts ending while this answer is being handled.
        loop->Close();
        EXPECT_FALSE(running.Returned()) << "released while its task still runs";
    });
    ASSERT_TRUE(WaitForQueued(*loop, 1));
    EXPECT_EQ(loop->RunPending(), 1u);
    EXPECT_EQ(running.Answer(), true);
    later = std::make_unique<Worker>(*loop, [&] { ++laterRuns; });
    EXPECT_EQ(later->Answer(), false);
    EXPECT_EQ(laterRuns, 0);
}

TEST(MainThreadHandOverTest, ATaskThatThrowsReleasesItsWorkerAndLeavesTheRestQueued) {
    auto loop = TLoopDispatcher::Create();
    bool secondRan = false;
    Worker throwing(*loop, [] { throw std::runtime_error("handler failed"); });
    ASSERT_TRUE(WaitForQueued(*loop, 1));
    Worker second(*loop, [&] { secondRan = true; });
    ASSERT_TRUE(WaitForQueued(*loop, 2));

    EXPECT_THROW(loop->RunPending(), std::runtime_error);
    EXPECT_EQ(throwing.Answer(), true) << "its task did run, up to the error";
    EXPECT_FALSE(secondRan);
    EXPECT_EQ(loop->PendingCount(), 1u);
    EXPECT_EQ(loop->RunPending(), 1u);
    EXPECT_TRUE(secondRan);
    EXPECT_EQ(second.Answer(), true);
}

TEST(MainThreadHandOverTest, APostedTaskIsQueuedWithoutWaitingAndDroppedAfterClose) {
    auto loop = TLoopDispatcher::Create();
    std::vector<std::string> ran;
    std::atomic<bool> posted{false};
    std::thread io([&] {
        // Returns before the main thread has run anything.
        posted = loop->Post([&ran] { ran.emplace_back("from the worker"); });
    });
    io.join();
    EXPECT_TRUE(posted.load());
    EXPECT_TRUE(ran.empty());
    EXPECT_TRUE(loop->Post([&ran] { ran.emplace_back("from the main thread"); })) << "queued, not run inline";
    EXPECT_TRUE(ran.empty());
    EXPECT_TRUE(loop->RunUntil([&] { return ran.size() == 2; }, kWait));
    EXPECT_EQ(ran, (std::vector<std::string>{"from the worker", "from the main thread"}));

    EXPECT_TRUE(loop->Post([&ran] { ran.emplace_back("late"); }));
    loop->Close();
    EXPECT_FALSE(loop->Post([&ran] { ran.emplace_back("after close"); }));
    EXPECT_EQ(loop->RunPending(), 0u);
    EXPECT_EQ(ran.size(), 2u);
}

// A main thread that cannot be reached must not leave the worker waiting.
class UnreachableMainThread final : public TMainThreadHandOver {
  protected:
    bool WakeMainThread() override { return false; }
};

TEST(MainThreadHandOverTest, AWorkerIsNotLeftWaitingWhenTheMainThreadCannotBeWoken) {
    auto handOver = std::make_shared<UnreachableMainThread>();
    bool ran = false;
    Worker worker(*handOver, [&] { ran = true; });
    EXPECT_EQ(worker.Answer(), false);
    EXPECT_EQ(handOver->PendingCount(), 0u);
    EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace cloakline::test
