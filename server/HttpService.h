#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "server/AddressLocator.h"
#include "server/ProxyStore.h"
#include "server/ServerLog.h"
#include "server/core/Answers.h"

namespace cloakline::server {

// How long a client may take, and how long stopping waits.
struct THttpDeadlines {
    // The whole request head, from its first byte (for a new connection: from
    // the connection).
    std::chrono::milliseconds Head{10000};
    // A kept-alive connection waiting for its next request.
    std::chrono::milliseconds Idle{15000};
    // Sending one answer.
    std::chrono::milliseconds Write{10000};
    // Answers under way when stopping; the connections still open then are closed.
    std::chrono::milliseconds StopGrace{5000};
};

struct THttpServiceSettings {
    std::string MagicWord;
    TPageAddresses Pages;
    std::string FlagsDir;
    // Requests that wait for the store (or the disk) at once.
    int Threads = 8;
    // Threads serving the connections.
    int IoThreads = 2;
    // Balancers whose PROXY protocol header and X-Forwarded-For name the client.
    std::vector<std::string> TrustedProxies;
    // Open connections per client address; more are closed at once.
    int MaxConnectionsPerClient = 64;
    int MaxRequestsPerConnection = 100;
    THttpDeadlines Deadlines;
};

// The server's pages and answers over HTTP/1.1, event-driven (Boost.Asio and
// Beast): a waiting client costs a socket, not a thread. The store is asked on
// a pool of workers of its own, so a slow store never holds up the I/O.
class THttpService {
  public:
    THttpService(IProxyStore& store, const TAddressLocator& locator, TServerLog& log);
    ~THttpService();
    THttpService(const THttpService&) = delete;
    THttpService& operator=(const THttpService&) = delete;

    // Binds the listening socket; port 0 takes a free one. The port bound, or
    // -1 when the address cannot be bound.
    int Bind(const std::string& address, int port);
    // The page addresses may name the port that Bind chose, so they come
    // after it. Throws std::invalid_argument for a trusted proxy that is no
    // address or block.
    void Configure(THttpServiceSettings settings);
    // Serves until Stop; blocks.
    void Run();
    // True once Run accepts connections (false after timeout).
    bool WaitRunning(std::chrono::milliseconds timeout) const;
    // Stops accepting and closes the connections that wait for a request;
    // answers under way are finished within the stop grace, then whatever is
    // left is closed. Returns when Run has ended. A Run that has not started
    // yet is waited for first, so it cannot miss the stop.
    void Stop();

    // Connections open now.
    std::size_t Connections() const;

  private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

}  // namespace cloakline::server
