#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "tests/support/TempDir.h"

namespace cloakline::test {

struct TProxyLogin {
    std::string User;
    std::string Password;
};

// True once something takes connections on 127.0.0.1:port, within the time.
bool WaitLoopbackPort(std::uint16_t port, std::chrono::milliseconds timeout);

// A proxy program of Debian's on a free loopback port, in the foreground, for
// one test; ended with SIGTERM at the end, or killed earlier on purpose.
class TLoopbackProxyProcess {
  public:
    ~TLoopbackProxyProcess();
    TLoopbackProxyProcess(const TLoopbackProxyProcess&) = delete;
    TLoopbackProxyProcess& operator=(const TLoopbackProxyProcess&) = delete;

    bool WaitListening(std::chrono::milliseconds timeout) const { return WaitLoopbackPort(FPort, timeout); }
    std::uint16_t Port() const { return FPort; }
    // SIGKILL, as a crash would end it; waits until it is gone.
    void Kill();

  protected:
    TLoopbackProxyProcess();
    void Spawn(const char* program, const char* const* arguments);

    std::uint16_t FPort;

  private:
    pid_t FPid = -1;
};

// Debian's tinyproxy, optionally asking for Basic credentials.
class TTinyProxy : public TLoopbackProxyProcess {
  public:
    explicit TTinyProxy(const TempDir& dir, std::optional<TProxyLogin> login = std::nullopt);

    static bool Installed();
    std::string Proxy() const { return "127.0.0.1:" + std::to_string(FPort); }
};

// Debian's microsocks, a SOCKS5 proxy, optionally with user and password.
class TMicroSocks : public TLoopbackProxyProcess {
  public:
    explicit TMicroSocks(std::optional<TProxyLogin> login = std::nullopt);

    static bool Installed();
};

}  // namespace cloakline::test
