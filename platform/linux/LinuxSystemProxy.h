#pragma once

#include "platform/api/SystemProxy.h"
#include "platform/linux/EnvLookup.h"

namespace cloakline {

// The desktop's proxy settings that browsers following the system read:
// GNOME's GSettings (also read by Chromium-based browsers and Firefox on
// most desktops) and, where the user has them, KDE's. Running programs are
// not told; those that watch the settings pick the change up themselves.
class LinuxSystemProxy : public ISystemProxy {
  public:
    // env locates KDE's file; GIO reads the process's own environment.
    explicit LinuxSystemProxy(EnvLookup env = SystemGetenv);

    bool ApplyProxy(std::string_view proxy) override;
    // GNOME's setting when it names a proxy, else KDE's.
    std::string CurrentProxy() const override;
    // GNOME's and KDE's settings, each where the user has it.
    bool HoldsProxy(std::string_view proxy) const override;

  private:
    EnvLookup FEnv;
};

}  // namespace cloakline
