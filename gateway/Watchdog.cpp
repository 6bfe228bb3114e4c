#include "gateway/Watchdog.h"

namespace cloakline::gateway {

TWatchdog::TWatchdog(boost::asio::any_io_executor executor, TGuardRegistry& registry)
    : FState(std::make_shared<TState>()), FTimer(std::move(executor)), FRegistry(registry) {
    FRegistry.Add(this);
}

TWatchdog::~TWatchdog() {
    FRegistry.Remove(this);
    FState->Guarded.clear();
    ++FState->Generation;
}

void TWatchdog::Guard(boost::asio::ip::tcp::socket& socket) {
    FState->Guarded.push_back(&socket);
}

void TWatchdog::Arm(std::chrono::steady_clock::duration time) {
    FState->End = std::chrono::steady_clock::now() + time;
    FState->Armed = true;
    FState->Fired = false;
    if (!FState->Waiting || FTimer.expiry() > FState->End) {
        Wait();
    }
}

void TWatchdog::Wait() {
    FState->Waiting = true;
    const std::uint64_t generation = ++FState->Generation;
    FTimer.expires_at(FState->End);
    FTimer.async_wait([this, state = FState, generation](const boost::system::error_code& ec) {
        // A wait that was replaced, or whose watchdog is gone, has nothing to do.
        if (ec || generation != state->Generation) {
            return;
        }
        Expired();
    });
}

void TWatchdog::Expired() {
    FState->Waiting = false;
    if (!FState->Armed) {
        return;
    }
    // Armed again meanwhile with a later end: wait for that one.
    if (std::chrono::steady_clock::now() < FState->End) {
        Wait();
        return;
    }
    FState->Armed = false;
    FState->Fired = true;
    for (boost::asio::ip::tcp::socket* socket : FState->Guarded) {
        boost::system::error_code ignored;
        socket->close(ignored);
    }
}

void TWatchdog::CloseAll() {
    FState->Armed = false;
    for (boost::asio::ip::tcp::socket* socket : FState->Guarded) {
        boost::system::error_code ignored;
        socket->close(ignored);
    }
}

void TGuardRegistry::CloseAll() {
    // Closing lets coroutines end, and their watchdogs leave the set.
    const std::vector<TWatchdog*> live(FLive.begin(), FLive.end());
    for (TWatchdog* watchdog : live) {
        if (FLive.contains(watchdog)) {
            watchdog->CloseAll();
        }
    }
}

}  // namespace cloakline::gateway
