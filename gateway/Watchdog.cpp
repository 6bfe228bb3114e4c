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
    const std::uint64_t generation = ++FState->Generation;
    FState->Fired = false;
    FTimer.expires_after(time);
    FTimer.async_wait([state = FState, generation](const boost::system::error_code& ec) {
        // A handler already queued when the time was renewed must not fire.
        if (ec || generation != state->Generation) {
            return;
        }
        state->Fired = true;
        for (boost::asio::ip::tcp::socket* socket : state->Guarded) {
            boost::system::error_code ignored;
            socket->close(ignored);
        }
    });
}

void TWatchdog::Disarm() {
    ++FState->Generation;
    FTimer.cancel();
}

void TWatchdog::CloseAll() {
    Disarm();
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
