#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "core/framework/MainThreadDispatcher.h"

namespace cloakline {

// The waiting half of a synchronous hand-over, shared by every way of reaching
// the main thread: a worker queues its task, the main thread is woken and runs
// the queue, the worker waits until its own task has run. Close() releases the
// waiters, so a main thread that has stopped taking work never leaves a worker
// hanging. Hold it in a std::shared_ptr: workers keep it alive while they wait.
class TMainThreadHandOver : public IMainThreadDispatcher {
  public:
    // The thread that constructs it is the main thread.
    TMainThreadHandOver();
    ~TMainThreadHandOver() override;
    TMainThreadHandOver(const TMainThreadHandOver&) = delete;
    TMainThreadHandOver& operator=(const TMainThreadHandOver&) = delete;

    // IMainThreadDispatcher:
    bool RunSync(const std::function<void()>& task) override;
    // Nobody waits for a posted task: a thread that must not block (an I/O
    // loop) hands its result over this way. Close() drops what is still queued.
    bool Post(std::function<void()> task) override;

    // Main thread: runs the queued tasks in the order they were queued, then
    // returns how many ran. An exception from a task ends this call (its worker
    // is released as having run); the rest stay queued for the next call.
    std::size_t RunPending();

    // Any thread: from now on RunSync and Post return false at once, and workers whose
    // task is still queued are released without it running. A task that is
    // running at the time finishes first. No wake-up is issued after Close returns.
    void Close();
    bool Closed() const;
    // Tasks queued and not yet taken by the main thread.
    std::size_t PendingCount() const;

    bool IsMainThread() const { return std::this_thread::get_id() == FMainThread; }

  protected:
    // Any thread (a worker, or the main thread posting), with the hand-over's
    // lock held: make the main thread call RunPending soon. Must not call back
    // into the hand-over. False when the main thread cannot be reached; the
    // task is then dropped.
    virtual bool WakeMainThread() = 0;

  private:
    struct Job;

    const std::thread::id FMainThread;
    mutable std::mutex FMutex;
    std::condition_variable FChanged;
    std::deque<std::shared_ptr<Job>> FQueue;
    bool FClosed = false;
};

}  // namespace cloakline
