#include "net/InfoGotThread.h"

#include <system_error>
#include <thread>
#include <utility>

namespace cloakline {

TInfoGotThread::TInfoGotThread(std::shared_ptr<IMainThreadDispatcher> dispatcher,
                               std::shared_ptr<TWorkerTracker> tracker,
                               THttpGetOptions options)
    : FDispatcher(std::move(dispatcher)), FTracker(std::move(tracker)), FOptions(options) {}

TInfoGotThread::~TInfoGotThread() = default;

bool TInfoGotThread::Start(std::unique_ptr<TInfoGotThread> worker) {
    TWorkerTracker::TTicket ticket = worker->FTracker->Enter();
    try {
        std::thread([worker = std::move(worker), ticket = std::move(ticket)]() mutable {
            try {
                worker->Execute();
            } catch (...) {
                // Like a failed transfer: the manager hears nothing.
            }
            worker.reset();
            // Last: once the tracker counts no worker, the program may tear down
            // everything the worker used.
            ticket.Release();
        }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void TInfoGotThread::Execute() {
    THttpGetOptions options = FOptions;
    options.Abort = &FTracker->AbortFlag();
    THttpGetResult answer = HttpGet(FURL, options);
    if (!answer.Ok()) {
        return;
    }
    FRet = std::move(answer.Body);
    FDispatcher->RunSync([this] { DeliverAnswer(); });
}

void TInfoGotThread::DeliverAnswer() {
    // Whatever the receiver holds is let go here, on the main thread.
    const TOnInfoGot onInfoGot = std::exchange(FOnInfoGot, nullptr);
    if (!FRet.empty() && onInfoGot) {
        onInfoGot(FRet);
    }
}

TInfoFetcher::TInfoFetcher(std::shared_ptr<IMainThreadDispatcher> dispatcher,
                           THttpGetOptions options,
                           std::shared_ptr<TWorkerTracker> tracker)
    : FDispatcher(std::move(dispatcher)), FOptions(options), FTracker(std::move(tracker)) {}

void TInfoFetcher::Fetch(const std::string& url, TOnInfoGot onInfoGot) {
    if (FTracker->Aborted()) {
        return;
    }
    auto worker = std::make_unique<TInfoGotThread>(FDispatcher, FTracker, FOptions);
    worker->FURL = url;
    worker->FOnInfoGot = std::move(onInfoGot);
    TInfoGotThread::Start(std::move(worker));
}

}  // namespace cloakline
