#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "server/ProxyStore.h"
#include "server/ServerLog.h"

namespace cloakline::server {

struct THealthOptions {
    std::chrono::seconds Interval{60};
    // Fetched through each proxy; a 2xx answer within the time-out is health.
    std::string Url;
    std::chrono::milliseconds ConnectTimeout{3000};
    std::chrono::milliseconds TotalTimeout{3000};
    // Proxies checked at once.
    int Concurrency = 8;
};

// Whether one proxy carries a request now: a connection to it and a GET of
// url through it. failure says why not, for the log.
bool CheckProxy(const TProxyEntry& proxy, const THealthOptions& options, std::string& failure);

// Checks every proxy of the store on a schedule, the first round right away,
// and writes each result to the store (nothing is kept here, so any server
// process sees the same health). Before each scheduled round it claims the
// round from the store, so that one process of a deployment runs it; the
// others skip it.
class THealthChecker {
  public:
    THealthChecker(IProxyStore& store, TServerLog& log, THealthOptions options);
    ~THealthChecker();
    THealthChecker(const THealthChecker&) = delete;
    THealthChecker& operator=(const THealthChecker&) = delete;

    void Start();
    // Ends the schedule; a round under way finishes its running checks first.
    void Stop();

    // One round over the whole inventory, on the calling thread.
    void RunRound();
    // Rounds finished since start.
    std::uint64_t Rounds() const;
    // Scheduled rounds left to another process.
    std::uint64_t SkippedRounds() const;
    // True when at least count rounds have finished within timeout.
    bool WaitForRounds(std::uint64_t count, std::chrono::milliseconds timeout) const;

  private:
    void Loop();

    IProxyStore& FStore;
    TServerLog& FLog;
    const THealthOptions FOptions;
    mutable std::mutex FMutex;
    mutable std::condition_variable FChanged;
    bool FStopping = false;
    std::uint64_t FRounds = 0;
    std::uint64_t FSkipped = 0;
    std::thread FThread;
};

}  // namespace cloakline::server
