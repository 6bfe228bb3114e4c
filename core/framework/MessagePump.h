#pragma once

#include <functional>

namespace cloakline {

// Lets the main thread wait for something without freezing: it keeps
// handling its events (and with them the hand-overs of workers) meanwhile.
class IMessagePump {
  public:
    virtual ~IMessagePump() = default;
    // Main thread: handles events until done() holds. done() is checked
    // after every event and at least every few milliseconds.
    virtual void ProcessUntil(const std::function<bool()>& done) = 0;
};

}  // namespace cloakline
