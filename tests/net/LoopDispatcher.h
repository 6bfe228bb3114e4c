#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>

#include "net/MainThreadHandOver.h"

namespace cloakline::test {

// The test's own thread as the main thread: tasks handed over by workers run
// while the test pumps, with no Qt involved.
class TLoopDispatcher final : public TMainThreadHandOver {
  public:
    static std::shared_ptr<TLoopDispatcher> Create() { return std::make_shared<TLoopDispatcher>(); }

    // Runs handed-over tasks as they come until done() holds; false when the
    // time ran out first. done() is checked after every wake-up and at least
    // every few milliseconds, for conditions that no hand-over signals.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            FTasksRun += RunPending();
            if (done()) {
                return true;
            }
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) {
                return false;
            }
            std::unique_lock lock(FWakeMutex);
            FWoken.wait_until(lock, std::min(deadline, now + kRecheck), [this] { return FWakes != FSeen; });
            FSeen = FWakes;
        }
    }

    // Tasks run by RunUntil so far.
    std::size_t TasksRun() const { return FTasksRun; }

  protected:
    bool WakeMainThread() override {
        const std::lock_guard lock(FWakeMutex);
        ++FWakes;
        FWoken.notify_all();
        return true;
    }

  private:
    static constexpr std::chrono::milliseconds kRecheck{5};

    std::mutex FWakeMutex;
    std::condition_variable FWoken;
    std::size_t FWakes = 0;
    std::size_t FSeen = 0;
    std::size_t FTasksRun = 0;
};

}  // namespace cloakline::test
