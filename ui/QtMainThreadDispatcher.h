#pragma once

#include <memory>

#include "net/MainThreadHandOver.h"

namespace cloakline {

// Reaches the main thread through Qt's event loop: a worker's task is posted
// to the application object and the worker waits until the loop has run it.
// The wait is the hand-over's own rather than a blocking queued connection, so
// that Close() can let waiting workers go once the loop stops taking work.
class TQtMainThreadDispatcher final : public TMainThreadHandOver,
                                      public std::enable_shared_from_this<TQtMainThreadDispatcher> {
  public:
    // On the main thread, while the application object exists. Close it
    // before the application object goes.
    static std::shared_ptr<TQtMainThreadDispatcher> Create();

  protected:
    bool WakeMainThread() override;

  private:
    TQtMainThreadDispatcher() = default;
};

}  // namespace cloakline
