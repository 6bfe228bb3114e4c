#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>

namespace cloakline {

// Counts the detached workers that are still alive, so that the program's
// teardown can cut their transfers short and wait for them before the
// libraries they use go away.
class TWorkerTracker : public std::enable_shared_from_this<TWorkerTracker> {
  public:
    // Held by each live worker; the tracker lives at least as long as its tickets.
    class TTicket {
      public:
        TTicket() = default;
        ~TTicket() { Release(); }
        TTicket(TTicket&& other) noexcept = default;
        TTicket& operator=(TTicket&& other) noexcept;
        TTicket(const TTicket&) = delete;
        TTicket& operator=(const TTicket&) = delete;

        // The worker is done with everything the tracker guards.
        void Release();

      private:
        friend class TWorkerTracker;
        explicit TTicket(std::shared_ptr<TWorkerTracker> owner) : FOwner(std::move(owner)) {}
        std::shared_ptr<TWorkerTracker> FOwner;
    };

    static std::shared_ptr<TWorkerTracker> Create();
    // The tracker of the program's own workers.
    static const std::shared_ptr<TWorkerTracker>& Global();

    TWorkerTracker(const TWorkerTracker&) = delete;
    TWorkerTracker& operator=(const TWorkerTracker&) = delete;

    // A worker is about to start.
    TTicket Enter();

    // Asks every live worker, and every later one, to give up as soon as it can.
    // There is no way back: it belongs to the program's end.
    void AbortAll() { FAbort.store(true); }
    bool Aborted() const { return FAbort.load(); }
    // What transfers poll to learn that they must stop.
    const std::atomic<bool>& AbortFlag() const { return FAbort; }

    // True once no worker is alive; false when the time ran out first.
    bool WaitAll(std::chrono::milliseconds timeout);
    std::size_t LiveCount() const;

  private:
    TWorkerTracker() = default;
    void Leave();

    std::atomic<bool> FAbort{false};
    mutable std::mutex FMutex;
    std::condition_variable FNoneLeft;
    std::size_t FLive = 0;
};

}  // namespace cloakline
