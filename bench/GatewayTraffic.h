#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
// Before any Asio header: Boost 1.74's awaitable.hpp uses std::exchange
// without including it.
#include <utility>
#include <vector>

namespace cloakline::bench {

// The far end of every measured path, on 127.0.0.1 with an I/O thread of its
// own: a source that streams a fixed number of bytes to whoever connects, a
// small HTML page over keep-alive HTTP/1.1, and an echo server.
class TSources {
  public:
    explicit TSources(std::uint64_t bulkBytes);
    ~TSources();
    TSources(const TSources&) = delete;
    TSources& operator=(const TSources&) = delete;

    std::uint16_t BulkPort() const;
    std::uint16_t PagePort() const;
    std::uint16_t EchoPort() const;

  private:
    class TImpl;
    std::unique_ptr<TImpl> FImpl;
};

struct TBulkResult {
    bool Ok = false;
    std::uint64_t Bytes = 0;
    double Seconds = 0;
    std::string Failure;

    double MegabytesPerSecond() const { return Seconds > 0 ? static_cast<double>(Bytes) / 1e6 / Seconds : 0; }
};

// Opens a CONNECT tunnel to the bulk source through the HTTP proxy (or a TCP
// relay in front of one) on proxyPort and reads until the source closes.
TBulkResult DownloadThroughTunnel(std::uint16_t proxyPort,
                                  std::uint16_t bulkPort,
                                  std::uint64_t expectedBytes,
                                  std::chrono::seconds limit);

struct TLatencyResult {
    bool Ok = false;
    // One entry per measured request, in milliseconds.
    std::vector<double> Milliseconds;
    // Connections opened, the first of each client connection included.
    std::size_t ConnectionsOpened = 0;
    // Requests sent again on a new connection because a kept-alive one
    // closed under them.
    std::size_t StaleRetries = 0;
    std::string Failure;
};

// Absolute-form GETs of the page through the proxy, one at a time, over
// `connections` kept-alive client connections in turn; a connection that the
// proxy closes is opened again, inside the time of the request that needs
// it. The first `warmup` requests are not measured.
TLatencyResult TimeSmallGets(std::uint16_t proxyPort,
                             std::uint16_t pagePort,
                             std::size_t requests,
                             std::size_t warmup,
                             std::size_t connections);

struct TTunnelResult {
    std::size_t Opened = 0;
    // Tunnels whose echo came back whole after all of them were open.
    std::size_t Carried = 0;
    std::string Failure;
};

// Opens `count` CONNECT tunnels to the echo server through the proxy and keeps
// them all open; calls whileHeld; then sends a message through every one at
// once and checks each echo. whileHeld runs again after the echoes.
TTunnelResult HoldTunnels(std::uint16_t proxyPort,
                          std::uint16_t echoPort,
                          std::size_t count,
                          const std::function<void()>& whileHeld);

// One GET of the page through the proxy on a fresh connection: true when a
// 200 with the page came back within the limit.
bool LoadPage(std::uint16_t proxyPort, std::uint16_t pagePort, std::chrono::milliseconds limit);

// The p-th percentile (0..100) by the nearest-rank rule; 0 for no values.
double Percentile(std::vector<double> values, double p);

}  // namespace cloakline::bench
