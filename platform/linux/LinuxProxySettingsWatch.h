#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/api/ProxySettingsWatch.h"
#include "platform/linux/EnvLookup.h"

namespace cloakline {

// GSettings' change signals of "org.gnome.system.proxy" and its schemes, and
// file monitors on KDE's "kioslaverc" and Opera's preference files (which
// may not exist yet). Both deliver through GLib's default main context, which
// Qt's event loop runs where Qt is built with GLib; any other loop calls Pump.
class LinuxProxySettingsWatch : public IProxySettingsWatch {
  public:
    // env locates the watched files; GIO reads the process's own environment.
    explicit LinuxProxySettingsWatch(EnvLookup env = SystemGetenv);
    ~LinuxProxySettingsWatch() override;
    LinuxProxySettingsWatch(const LinuxProxySettingsWatch&) = delete;
    LinuxProxySettingsWatch& operator=(const LinuxProxySettingsWatch&) = delete;

    bool Start(std::function<void()> onChange) override;
    void Stop() override;
    void Pump() override;

    // The files watched, as native paths.
    std::vector<std::string> WatchedFiles() const;

  private:
    struct Watches;
    EnvLookup FEnv;
    std::unique_ptr<Watches> FWatches;
};

}  // namespace cloakline
