#pragma once

#include "platform/api/ProxySettingsWatch.h"

namespace cloakline {

// Not watched on Windows yet: a registry notification on the Internet
// Settings (RegNotifyChangeKeyValue) needs a waitable event in the message
// loop or a thread of its own. Until then the settings are not kept there.
class Win32ProxySettingsWatch : public IProxySettingsWatch {
  public:
    bool Start(std::function<void()>) override { return false; }
    void Stop() override {}
};

}  // namespace cloakline
