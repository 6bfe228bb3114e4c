#pragma once

#include <string>

namespace cloakline {

// A message on the user's desktop that needs no window of ours: the guard
// shows it after the program has gone.
class IDesktopNotifier {
  public:
    virtual ~IDesktopNotifier() = default;
    // False when no notification service took it.
    virtual bool Notify(const std::string& title, const std::string& body) = 0;
};

}  // namespace cloakline
