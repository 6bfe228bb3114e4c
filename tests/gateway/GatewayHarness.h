#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/proxy/UpstreamGateway.h"
#include "gateway/Gateway.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TempDir.h"

namespace cloakline::test {

// The "main thread" of a gateway test: posted callbacks wait here until the
// test runs them.
class TMainQueue {
  public:
    TMainQueue();
    gateway::TGateway::TPoster Poster() const;
    // Runs posted callbacks until done() holds; false when the time ran out first.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

  private:
    struct TState {
        std::mutex Mutex;
        std::condition_variable Posted;
        std::deque<std::function<void()>> Callbacks;
    };
    std::shared_ptr<TState> FState;
};

// A 200 answer with body.
TScriptedResponse Page(std::string body);

struct TCurlRun {
    int Exit = -1;
    std::string Out;
    std::string Err;
};

// Runs curl -sS with the arguments (at most 15 s), its output kept in dir.
TCurlRun RunCurl(const TempDir& dir, const std::vector<std::string>& arguments);

// Sends bytes to 127.0.0.1:port and gathers what comes back until the
// connection closes or the time runs out; Closed tells which.
struct TRawExchange {
    std::string Reply;
    bool Closed = false;
};
TRawExchange ExchangeRaw(std::uint16_t port, const std::string& bytes, std::chrono::milliseconds timeout);

// A client connection held open by the test, for tunnels.
class TTunnelClient {
  public:
    explicit TTunnelClient(std::uint16_t port);
    ~TTunnelClient();
    TTunnelClient(const TTunnelClient&) = delete;
    TTunnelClient& operator=(const TTunnelClient&) = delete;

    bool Send(const std::string& bytes);
    // All received so far once it holds marker, or when the time ran out or the connection ended.
    std::string ReceiveUntil(const std::string& marker, std::chrono::milliseconds timeout);

  private:
    int FSocket = -1;
    std::string FReceived;
};

TGatewayUpstream HttpUpstream(std::uint64_t id,
                              std::uint16_t port,
                              const std::string& user = "",
                              const std::string& password = "");
TGatewayUpstream SocksUpstream(std::uint64_t id,
                               std::uint16_t port,
                               const std::string& user = "",
                               const std::string& password = "");

}  // namespace cloakline::test
