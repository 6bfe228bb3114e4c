#pragma once

#include <functional>

namespace cloakline {

// Hands work from a worker thread to the main thread, where the settings,
// the engine, the proxy manager and the windows live.
class IMainThreadDispatcher {
  public:
    virtual ~IMainThreadDispatcher() = default;
    // Runs task on the main thread and returns once it has run (at once, inline,
    // when called on the main thread). Returns false without running it when the
    // main thread no longer takes work because the program is ending.
    virtual bool RunSync(const std::function<void()>& task) = 0;
    // Queues task for the main thread and returns at once, from any thread
    // (the main thread's own task runs later, too). False when the main
    // thread no longer takes work; the task is then dropped.
    virtual bool Post(std::function<void()> task) = 0;
};

}  // namespace cloakline
