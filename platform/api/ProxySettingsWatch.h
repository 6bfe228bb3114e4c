#pragma once

#include <functional>

namespace cloakline {

// Tells when the desktop's proxy settings may have changed, whoever changed
// them (this program included: the owner compares what is there with what it
// wrote). Changes come in bursts; onChange runs once or more per burst.
class IProxySettingsWatch {
  public:
    virtual ~IProxySettingsWatch() = default;
    // Starts watching; a running watch is replaced. onChange runs on the
    // thread that called Start, from its event loop (see Pump). False when
    // this system has nothing to watch or the watch could not be set up.
    virtual bool Start(std::function<void()> onChange) = 0;
    // No onChange runs after this returns. Harmless when not watching.
    virtual void Stop() = 0;
    // Delivers changes that wait for an event loop which does not run the
    // watch's own event source; a loop that does needs no call.
    virtual void Pump() {}
};

}  // namespace cloakline
