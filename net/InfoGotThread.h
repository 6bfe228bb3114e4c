#pragma once

#include <memory>
#include <string>

#include "core/framework/MainThreadDispatcher.h"
#include "core/proxy/InfoFetcher.h"
#include "net/HttpGet.h"
#include "net/WorkerTracker.h"

namespace cloakline {

// One small server request on a thread of its own: one GET, then the answer
// handed to the main thread while the worker waits. Nobody keeps a reference
// once it has started; it disposes of itself at its end.
class TInfoGotThread {
  public:
    // A suspended worker: fill the fields, then Start it.
    TInfoGotThread(std::shared_ptr<IMainThreadDispatcher> dispatcher,
                   std::shared_ptr<TWorkerTracker> tracker,
                   THttpGetOptions options = {});
    ~TInfoGotThread();
    TInfoGotThread(const TInfoGotThread&) = delete;
    TInfoGotThread& operator=(const TInfoGotThread&) = delete;

    // Runs Execute on a detached thread that deletes the worker at its end.
    // False, and the worker gone, when no thread could be started.
    static bool Start(std::unique_ptr<TInfoGotThread> worker);

    // The worker's body. A failed transfer ends it without a call; otherwise
    // the body goes to FRet and DeliverAnswer runs on the main thread.
    void Execute();

    std::string FRet;
    std::string FURL;
    // Released on the main thread once it has been called; when no answer is
    // delivered it is released on the worker thread instead.
    TOnInfoGot FOnInfoGot;

  private:
    void DeliverAnswer();

    const std::shared_ptr<IMainThreadDispatcher> FDispatcher;
    const std::shared_ptr<TWorkerTracker> FTracker;
    const THttpGetOptions FOptions;
};

// Sends each request on its own TInfoGotThread. The workers share the
// dispatcher with it, so none of them ever reaches a dispatcher that is gone.
class TInfoFetcher : public IInfoFetcher {
  public:
    // options.Abort is replaced by the tracker's abort flag.
    explicit TInfoFetcher(std::shared_ptr<IMainThreadDispatcher> dispatcher,
                          THttpGetOptions options = {},
                          std::shared_ptr<TWorkerTracker> tracker = TWorkerTracker::Global());

    // IInfoFetcher. Nothing starts once the tracker has been aborted.
    void Fetch(const std::string& url, TOnInfoGot onInfoGot) override;

    const std::shared_ptr<TWorkerTracker>& Tracker() const { return FTracker; }

  private:
    const std::shared_ptr<IMainThreadDispatcher> FDispatcher;
    const THttpGetOptions FOptions;
    const std::shared_ptr<TWorkerTracker> FTracker;
};

}  // namespace cloakline
