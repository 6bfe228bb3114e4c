#include "net/WorkerTracker.h"

namespace cloakline {

TWorkerTracker::TTicket& TWorkerTracker::TTicket::operator=(TTicket&& other) noexcept {
    if (this != &other) {
        Release();
        FOwner = std::move(other.FOwner);
    }
    return *this;
}

void TWorkerTracker::TTicket::Release() {
    if (FOwner) {
        FOwner->Leave();
        FOwner.reset();
    }
}

std::shared_ptr<TWorkerTracker> TWorkerTracker::Create() {
    return std::shared_ptr<TWorkerTracker>(new TWorkerTracker());
}

const std::shared_ptr<TWorkerTracker>& TWorkerTracker::Global() {
    // A worker still alive at static teardown keeps it through its ticket.
    static const std::shared_ptr<TWorkerTracker> global = Create();
    return global;
}

TWorkerTracker::TTicket TWorkerTracker::Enter() {
    {
        const std::lock_guard lock(FMutex);
        ++FLive;
    }
    return TTicket(shared_from_this());
}

void TWorkerTracker::Leave() {
    const std::lock_guard lock(FMutex);
    --FLive;
    if (FLive == 0) {
        FNoneLeft.notify_all();
    }
}

bool TWorkerTracker::WaitAll(std::chrono::milliseconds timeout) {
    std::unique_lock lock(FMutex);
    return FNoneLeft.wait_for(lock, timeout, [this] { return FLive == 0; });
}

std::size_t TWorkerTracker::LiveCount() const {
    const std::lock_guard lock(FMutex);
    return FLive;
}

}  // namespace cloakline
