#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace cloakline::test {

// A door the test opens once; whoever waits at it goes on.
class TGate {
  public:
    void Open();
    // True when it was opened within the time.
    bool WaitOpen(std::chrono::milliseconds timeout) const;

  private:
    mutable std::mutex FMutex;
    mutable std::condition_variable FOpened;
    bool FOpen = false;
};

struct TScriptedResponse {
    int Status = 200;
    std::string Body;
    std::vector<std::pair<std::string, std::string>> Headers;
    // Without Content-Length the body ends when the connection closes.
    bool AnnounceLength = true;
    std::chrono::milliseconds DelayBeforeHeaders{0};
    // Nothing is sent until the gate opens (at most for the server's longest hold).
    std::shared_ptr<TGate> HoldBeforeHeaders;
    // After this many body bytes: pause for DelayMidBody, then close the
    // connection when CloseMidBody, else send the rest.
    std::size_t SplitAt = std::string::npos;
    std::chrono::milliseconds DelayMidBody{0};
    bool CloseMidBody = false;
};

struct TRecordedRequest {
    std::string Method;
    // As sent: path and query, or the absolute address that a proxy is sent.
    std::string Target;
    // "HTTP/1.0" or "HTTP/1.1" as the request line gave it.
    std::string Version;
    std::vector<std::pair<std::string, std::string>> Headers;
    // The body of a request that announced its length, as far as it came;
    // a chunked body decoded once it came whole.
    std::string Body;
    // The address the connection came from.
    std::string Peer;

    // Case-blind; empty when absent.
    std::string Header(std::string_view name) const;
};

// A real HTTP/1.1 server on 127.0.0.1 that answers each connection on a thread
// of its own, as the test scripted it, and records what it was asked. Every
// wait inside it is bounded; the destructor cuts whatever is still going on.
class TLoopbackHttpServer {
  public:
    // A hold or a delay never lasts longer than this.
    static constexpr std::chrono::milliseconds kLongestHold{15'000};

    TLoopbackHttpServer();
    ~TLoopbackHttpServer();
    TLoopbackHttpServer(const TLoopbackHttpServer&) = delete;
    TLoopbackHttpServer& operator=(const TLoopbackHttpServer&) = delete;

    std::uint16_t Port() const { return FPort; }
    // "http://127.0.0.1:port" + target.
    std::string Url(std::string_view target) const;

    // Answers for requests to path (the target up to "?"), used in turn; the
    // last one repeats. Paths without a script get 404.
    void Script(const std::string& path, std::vector<TScriptedResponse> responses);
    void Script(const std::string& path, TScriptedResponse response);

    std::vector<TRecordedRequest> Requests() const;
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
    // Connections whose response has been sent, or cut as scripted.
    std::size_t Finished() const;
    bool WaitForFinished(std::size_t count, std::chrono::milliseconds timeout) const;

  private:
    struct TRoute {
        std::vector<TScriptedResponse> Responses;
        std::size_t Next = 0;
    };

    void AcceptLoop();
    void Serve(int fd, const std::string& peer);
    // False once the server stops.
    bool Pause(std::chrono::milliseconds delay);
    TScriptedResponse Take(const std::string& path);
    bool SendAll(int fd, std::string_view bytes) const;

    int FListen = -1;
    int FWake = -1;
    std::uint16_t FPort = 0;

    mutable std::mutex FMutex;
    mutable std::condition_variable FChanged;
    bool FStopping = false;
    std::map<std::string, TRoute> FRoutes;
    std::vector<TRecordedRequest> FRequests;
    std::size_t FFinished = 0;
    std::vector<int> FOpenConnections;
    std::vector<std::thread> FConnectionThreads;
    std::thread FAcceptor;
};

// A loopback port whose listen queue is full and never served: a new
// connection to it hangs in its handshake as towards a host that does not answer.
class TStalledListener {
  public:
    TStalledListener();
    ~TStalledListener();
    TStalledListener(const TStalledListener&) = delete;
    TStalledListener& operator=(const TStalledListener&) = delete;

    std::uint16_t Port() const { return FPort; }
    // False when the system accepted every probe, so the port would not hang.
    bool Stalled() const { return FStalled; }

  private:
    int FListen = -1;
    std::vector<int> FFillers;
    std::uint16_t FPort = 0;
    bool FStalled = false;
};

// A loopback port that nothing listens on (connections are refused).
std::uint16_t UnusedLoopbackPort();

}  // namespace cloakline::test
