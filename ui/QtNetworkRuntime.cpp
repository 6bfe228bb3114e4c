#include "ui/QtNetworkRuntime.h"

namespace cloakline {

TQtNetworkRuntime::TQtNetworkRuntime(std::chrono::milliseconds exitWait,
                                     THttpGetOptions options,
                                     std::shared_ptr<TWorkerTracker> tracker)
    : FExitWait(exitWait),
      FTracker(std::move(tracker)),
      FDispatcher(TQtMainThreadDispatcher::Create()),
      FFetcher(FDispatcher, options, FTracker) {}

TQtNetworkRuntime::~TQtNetworkRuntime() {
    // Closing first matters: a worker waiting for the main thread would
    // otherwise wait for a loop that no longer runs.
    FDispatcher->Close();
    FTracker->AbortAll();
    FTracker->WaitAll(FExitWait);
}

}  // namespace cloakline
