#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "server/ProxyStore.h"

namespace cloakline::server {

using TSteadyNow = std::function<std::chrono::steady_clock::time_point()>;

// Passes every call to the store underneath.
class TForwardingStore : public IProxyStore {
  public:
    explicit TForwardingStore(IProxyStore& inner) : FInner(inner) {}

    std::vector<TProxyEntry> ListProxies() override { return FInner.ListProxies(); }
    std::vector<TProxyEntry> HealthyProxies() override { return FInner.HealthyProxies(); }
    void PutProxy(const TProxyEntry& entry) override { FInner.PutProxy(entry); }
    void PutProxies(const std::vector<TProxyEntry>& entries) override { FInner.PutProxies(entries); }
    bool RemoveProxy(const std::string& address) override { return FInner.RemoveProxy(address); }
    void RecordHealth(const std::string& address, bool healthy, std::int64_t checkedAt) override {
        FInner.RecordHealth(address, healthy, checkedAt);
    }
    int RecordTouch(const std::string& host, std::optional<std::uint16_t> port, std::int64_t at) override {
        return FInner.RecordTouch(host, port, at);
    }
    void RecordTouches(const std::vector<TTouch>& touches) override { FInner.RecordTouches(touches); }
    std::optional<TRelease> Release() override { return FInner.Release(); }
    void SetRelease(const TRelease& release) override { FInner.SetRelease(release); }
    bool ClaimHealthRound(std::int64_t now, std::int64_t intervalSeconds) override {
        return FInner.ClaimHealthRound(now, intervalSeconds);
    }

  protected:
    IProxyStore& FInner;
};

// The healthy list and the release record as read at most ttl ago. Other
// processes write the store too, so nothing here is invalidated by a write:
// what the update answer pushes is at most ttl old.
class TCachedReadsStore : public TForwardingStore {
  public:
    TCachedReadsStore(IProxyStore& inner, std::chrono::milliseconds ttl, TSteadyNow now);

    std::vector<TProxyEntry> HealthyProxies() override;
    std::optional<TRelease> Release() override;

  private:
    template <class T>
    struct TEntry {
        std::mutex Mutex;
        std::optional<std::chrono::steady_clock::time_point> ReadAt;
        T Value;
    };
    template <class T, class F>
    T Cached(TEntry<T>& entry, F&& read);

    const std::chrono::milliseconds FTtl;
    const TSteadyNow FNow;
    TEntry<std::vector<TProxyEntry>> FHealthy;
    TEntry<std::optional<TRelease>> FRelease;
};

struct TTouchBatchOptions {
    std::chrono::milliseconds FlushInterval{2000};
    // A queue this long is written at once.
    std::size_t MaxQueued = 1000;
    // How old the list of super proxies that answers RecordTouch may be.
    std::chrono::milliseconds HostsTtl{3000};
};

// Takes touches off the request path: RecordTouch answers from a recent list
// of the super proxies (so an unknown host still finds none) and queues the
// touch; a thread writes the queue in one RecordTouches every FlushInterval,
// sooner when it holds MaxQueued, and at Stop. A crash loses at most the
// touches of the last interval.
class TTouchBatchingStore : public TForwardingStore {
  public:
    TTouchBatchingStore(IProxyStore& inner,
                        TTouchBatchOptions options,
                        TSteadyNow now,
                        std::function<void(const std::string&)> onWriteFailure = {});
    ~TTouchBatchingStore() override;

    int RecordTouch(const std::string& host, std::optional<std::uint16_t> port, std::int64_t at) override;
    void RecordTouches(const std::vector<TTouch>& touches) override;

    void Start();
    // Ends the thread and writes what is queued.
    void Stop();
    // Writes what is queued now, on the calling thread.
    void Flush();
    std::size_t Queued() const;

  private:
    int SuperProxiesOf(const std::string& host, std::optional<std::uint16_t> port);
    void Enqueue(std::vector<TTouch> touches);
    void Loop();

    const TTouchBatchOptions FOptions;
    const TSteadyNow FNow;
    const std::function<void(const std::string&)> FOnWriteFailure;

    std::mutex FHostsMutex;
    std::optional<std::chrono::steady_clock::time_point> FHostsReadAt;
    std::multimap<std::string, std::uint16_t> FSuperPorts;

    mutable std::mutex FMutex;
    std::condition_variable FWake;
    std::vector<TTouch> FQueue;
    bool FRunning = false;
    bool FFull = false;
    bool FStopping = false;
    std::thread FThread;
    std::mutex FFlushMutex;
};

}  // namespace cloakline::server
