#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <unordered_set>
#include <vector>

#include "gateway/Asio.h"

namespace cloakline::gateway {

class TGuardRegistry;

// Closes the sockets it guards when its time runs out, or when the gateway
// stops; a closed socket ends whatever waits on it. Lives on the I/O thread
// beside the sockets it guards and must not outlive them.
class TWatchdog {
  public:
    TWatchdog(boost::asio::any_io_executor executor, TGuardRegistry& registry);
    ~TWatchdog();
    TWatchdog(const TWatchdog&) = delete;
    TWatchdog& operator=(const TWatchdog&) = delete;

    void Guard(boost::asio::ip::tcp::socket& socket);
    // Starts the time anew.
    void Arm(std::chrono::steady_clock::duration time);
    void Disarm();
    // The time ran out since the last Arm.
    bool Fired() const { return FState->Fired; }
    // Closes the guarded sockets now.
    void CloseAll();

  private:
    struct TState {
        std::vector<boost::asio::ip::tcp::socket*> Guarded;
        std::uint64_t Generation = 0;
        bool Fired = false;
    };

    // Shared with the timer's handler, which may run after the watchdog is gone.
    std::shared_ptr<TState> FState;
    boost::asio::steady_timer FTimer;
    TGuardRegistry& FRegistry;
};

// Every live watchdog, so that stopping can close every socket at once.
class TGuardRegistry {
  public:
    void Add(TWatchdog* watchdog) { FLive.insert(watchdog); }
    void Remove(TWatchdog* watchdog) { FLive.erase(watchdog); }
    void CloseAll();
    std::size_t Size() const { return FLive.size(); }

  private:
    std::unordered_set<TWatchdog*> FLive;
};

}  // namespace cloakline::gateway
