#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "tests/support/TempDir.h"

namespace cloakline::test {

// Debian's tinyproxy on a free loopback port, in the foreground, for one test.
class TTinyProxy {
  public:
    explicit TTinyProxy(const TempDir& dir);
    ~TTinyProxy();
    TTinyProxy(const TTinyProxy&) = delete;
    TTinyProxy& operator=(const TTinyProxy&) = delete;

    static bool Installed();
    // True once it takes connections, within the time.
    bool WaitListening(std::chrono::milliseconds timeout) const;
    std::uint16_t Port() const { return FPort; }
    std::string Proxy() const { return "127.0.0.1:" + std::to_string(FPort); }

  private:
    std::uint16_t FPort;
    pid_t FPid = -1;
};

}  // namespace cloakline::test
