#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "server/AddressLocator.h"
#include "server/ProxyStore.h"
#include "server/ServerLog.h"
#include "server/core/Answers.h"

namespace cloakline::server {

struct THttpServiceSettings {
    std::string MagicWord;
    TPageAddresses Pages;
    std::string FlagsDir;
    int Threads = 48;
};

// Longest request target and body that are read at all.
inline constexpr std::size_t kMaxTargetBytes = 8 * 1024;
// Request line and headers together.
inline constexpr std::size_t kMaxHeadBytes = 32 * 1024;
inline constexpr std::size_t kMaxBodyBytes = 4 * 1024;

// The server's pages and answers over HTTP (cpp-httplib). Every answer is
// built from the store at the time of the request.
class THttpService {
  public:
    THttpService(IProxyStore& store, const TAddressLocator& locator, TServerLog& log);
    ~THttpService();
    THttpService(const THttpService&) = delete;
    THttpService& operator=(const THttpService&) = delete;

    // Binds the listening socket; port 0 takes a free one. The port bound, or
    // -1 when the address cannot be bound.
    int Bind(const std::string& address, int port);
    // The page addresses may name the port that Bind chose, so they come after it.
    void Configure(THttpServiceSettings settings);
    // Serves until Stop; blocks.
    void Run();
    // True once Run accepts connections (false after timeout).
    bool WaitRunning(std::chrono::milliseconds timeout) const;
    // Ends Run; a Run that has not started yet is waited for first, so it cannot miss the stop.
    void Stop();

  private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

}  // namespace cloakline::server
