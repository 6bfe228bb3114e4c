#include "ui/QtNetworkRuntime.h"

#include <utility>

namespace cloakline {

TQtNetworkRuntime::TQtNetworkRuntime(std::chrono::milliseconds exitWait,
                                     THttpGetOptions options,
                                     std::shared_ptr<TWorkerTracker> tracker)
    : FExitWait(exitWait),
      FTracker(std::move(tracker)),
      FDispatcher(TQtMainThreadDispatcher::Create()),
      FFetcher(FDispatcher, options, FTracker) {}

TDownloaderContext TQtNetworkRuntime::DownloaderContext(Platform& system, TDownloaderOptions options) {
    TDownloaderContext context;
    context.Dispatcher = FDispatcher;
    context.System = &system;
    context.Pump = &FPump;
    context.Tracker = FTracker;
    context.Options = std::move(options);
    return context;
}

TQtNetworkRuntime::~TQtNetworkRuntime() {
    // Closing first matters: a worker waiting for the main thread would
    // otherwise wait for a loop that no longer runs.
    FDispatcher->Close();
    FTracker->AbortAll();
    FTracker->WaitAll(FExitWait);
}

}  // namespace cloakline
