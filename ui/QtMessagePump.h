#pragma once

#include <chrono>

#include "core/framework/MessagePump.h"

namespace cloakline {

// Waits on the main thread while Qt's event loop goes on: every event that
// comes is handled, and done() is looked at after each round and at least
// every round length even when no event comes.
class TQtMessagePump final : public IMessagePump {
  public:
    explicit TQtMessagePump(std::chrono::milliseconds round = std::chrono::milliseconds(10))
        : FRound(round) {}
    void ProcessUntil(const std::function<bool()>& done) override;

  private:
    const std::chrono::milliseconds FRound;
};

}  // namespace cloakline
