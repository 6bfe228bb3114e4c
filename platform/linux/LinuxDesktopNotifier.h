#pragma once

#include "platform/api/DesktopNotifier.h"

namespace cloakline {

// org.freedesktop.Notifications.Notify on the session bus (GIO's GDBus).
class LinuxDesktopNotifier : public IDesktopNotifier {
  public:
    bool Notify(const std::string& title, const std::string& body) override;
};

}  // namespace cloakline
