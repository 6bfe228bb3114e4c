#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/framework/InstanceMessage.h"

namespace cloakline {

// One running instance's main window, as another process sees it.
struct InstanceEndpoint {
    std::string Address;  // backend-specific
};

// Receives messages for one main window. The owner watches NativeHandle() in
// its event loop and calls ServePending() on the main thread when it is ready.
class IInstanceListener {
  public:
    using Handler = std::function<std::int64_t(const InstanceMessage&)>;
    virtual ~IInstanceListener() = default;
    virtual std::intptr_t NativeHandle() const = 0;
    // Answers every request waiting now, each with the handler's reply.
    virtual void ServePending(const Handler& handler) = 0;
};

// The messages between instances of one installation.
class IInstanceChannel {
  public:
    virtual ~IInstanceChannel() = default;
    // Main windows of the given class, in the system's order.
    virtual std::vector<InstanceEndpoint> FindWindows(std::string_view className) const = 0;
    // Sends synchronously and waits at most timeoutMs for the reply; nullopt
    // when the window is gone, does not answer in time or answers garbage.
    virtual std::optional<std::int64_t> Send(const InstanceEndpoint& window,
                                             const InstanceMessage& message,
                                             int timeoutMs) const = 0;
    // Makes this process's main window of the class reachable; nullptr on failure.
    virtual std::unique_ptr<IInstanceListener> Listen(std::string_view className) = 0;
};

// A channel that finds no other instance and cannot be reached, for runs
// that must stay on their own (the language harvest, tests, screenshots).
class TNoInstanceChannel final : public IInstanceChannel {
  public:
    std::vector<InstanceEndpoint> FindWindows(std::string_view) const override { return {}; }
    std::optional<std::int64_t> Send(const InstanceEndpoint&, const InstanceMessage&, int) const override {
        return std::nullopt;
    }
    std::unique_ptr<IInstanceListener> Listen(std::string_view) override { return nullptr; }
};

}  // namespace cloakline
