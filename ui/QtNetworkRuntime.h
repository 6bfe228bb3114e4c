#pragma once

#include <chrono>
#include <memory>

#include "net/HttpGet.h"
#include "net/InfoGotThread.h"
#include "net/SingleDownloader.h"
#include "net/WorkerTracker.h"
#include "ui/QtMainThreadDispatcher.h"
#include "ui/QtMessagePump.h"

namespace cloakline {

// What the program's small server requests need, set up in one go and torn
// down in the one safe order: the dispatcher is closed first (workers waiting
// for the main thread are let go without their answer), then the transfers
// still running are aborted, then the workers are waited for, and libcurl
// goes last.
class TQtNetworkRuntime {
  public:
    // On the main thread, after the application object exists and before
    // anything sends a request.
    explicit TQtNetworkRuntime(std::chrono::milliseconds exitWait = std::chrono::seconds(3),
                               THttpGetOptions options = {},
                               std::shared_ptr<TWorkerTracker> tracker = TWorkerTracker::Global());
    // On the main thread, after everything that uses Fetcher() is gone and
    // before the application object goes. Waits at most exitWait.
    ~TQtNetworkRuntime();
    TQtNetworkRuntime(const TQtNetworkRuntime&) = delete;
    TQtNetworkRuntime& operator=(const TQtNetworkRuntime&) = delete;

    IInfoFetcher& Fetcher() { return FFetcher; }
    // What downloaders of the program are created with: this runtime's
    // dispatcher, pump and workers, and the system's proxy and temporary
    // folder. Valid while the runtime lives.
    TDownloaderContext DownloaderContext(Platform& system, TDownloaderOptions options = {});
    const std::shared_ptr<TQtMainThreadDispatcher>& Dispatcher() const { return FDispatcher; }

  private:
    const TCurlGlobal FCurl;
    const std::chrono::milliseconds FExitWait;
    const std::shared_ptr<TWorkerTracker> FTracker;
    const std::shared_ptr<TQtMainThreadDispatcher> FDispatcher;
    TInfoFetcher FFetcher;
    TQtMessagePump FPump;
};

}  // namespace cloakline
