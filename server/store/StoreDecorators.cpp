#include "server/store/StoreDecorators.h"

#include <algorithm>
#include <exception>

namespace cloakline::server {

TCachedReadsStore::TCachedReadsStore(IProxyStore& inner, std::chrono::milliseconds ttl, TSteadyNow now)
    : TForwardingStore(inner), FTtl(ttl), FNow(std::move(now)) {}

template <class T, class F>
T TCachedReadsStore::Cached(TEntry<T>& entry, F&& read) {
    // One reader refreshes; the others wait for its answer rather than all
    // asking the database at once.
    std::lock_guard lock(entry.Mutex);
    const auto now = FNow();
    if (!entry.ReadAt || now - *entry.ReadAt >= FTtl || now < *entry.ReadAt) {
        entry.Value = read();
        entry.ReadAt = now;
    }
    return entry.Value;
}

std::vector<TProxyEntry> TCachedReadsStore::HealthyProxies() {
    return Cached(FHealthy, [this] { return FInner.HealthyProxies(); });
}

std::optional<TRelease> TCachedReadsStore::Release() {
    return Cached(FRelease, [this] { return FInner.Release(); });
}

TTouchBatchingStore::TTouchBatchingStore(IProxyStore& inner,
                                         TTouchBatchOptions options,
                                         TSteadyNow now,
                                         std::function<void(const std::string&)> onWriteFailure)
    : TForwardingStore(inner),
      FOptions(options),
      FNow(std::move(now)),
      FOnWriteFailure(std::move(onWriteFailure)) {}

TTouchBatchingStore::~TTouchBatchingStore() {
    try {
        Stop();
    } catch (...) {
        // Nothing to report to at destruction; Stop is called before where it matters.
    }
}

int TTouchBatchingStore::SuperProxiesOf(const std::string& host, std::optional<std::uint16_t> port) {
    std::lock_guard lock(FHostsMutex);
    const auto now = FNow();
    if (!FHostsReadAt || now - *FHostsReadAt >= FOptions.HostsTtl || now < *FHostsReadAt) {
        std::multimap<std::string, std::uint16_t> ports;
        for (const TProxyEntry& e : FInner.ListProxies()) {
            if (e.IsSuper) {
                ports.emplace(e.Host, e.Port);
            }
        }
        FSuperPorts = std::move(ports);
        FHostsReadAt = now;
    }
    const auto [first, last] = FSuperPorts.equal_range(host);
    return static_cast<int>(
        std::count_if(first, last, [&](const auto& p) { return !port || p.second == *port; }));
}

int TTouchBatchingStore::RecordTouch(const std::string& host,
                                     std::optional<std::uint16_t> port,
                                     std::int64_t at) {
    const int count = SuperProxiesOf(host, port);
    if (count > 0) {
        Enqueue({TTouch{host, port, at}});
    }
    return count;
}

void TTouchBatchingStore::RecordTouches(const std::vector<TTouch>& touches) {
    Enqueue(touches);
}

void TTouchBatchingStore::Enqueue(std::vector<TTouch> touches) {
    bool full = false;
    bool running = false;
    {
        std::lock_guard lock(FMutex);
        FQueue.insert(FQueue.end(), std::make_move_iterator(touches.begin()),
                      std::make_move_iterator(touches.end()));
        full = FQueue.size() >= FOptions.MaxQueued;
        running = FRunning;
        FFull = FFull || full;
    }
    if (full) {
        if (running) {
            FWake.notify_all();
        } else {
            Flush();
        }
    }
}

void TTouchBatchingStore::Flush() {
    std::lock_guard flushing(FFlushMutex);
    std::vector<TTouch> batch;
    {
        std::lock_guard lock(FMutex);
        batch.swap(FQueue);
    }
    if (batch.empty()) {
        return;
    }
    try {
        FInner.RecordTouches(batch);
    } catch (const std::exception& e) {
        // Kept for the next flush while the store is away, within bounds.
        {
            std::lock_guard lock(FMutex);
            if (batch.size() + FQueue.size() <= FOptions.MaxQueued * 10) {
                FQueue.insert(FQueue.begin(), batch.begin(), batch.end());
            }
        }
        if (FOnWriteFailure) {
            FOnWriteFailure(std::string("touches not written yet: ") + e.what());
        }
    }
}

std::size_t TTouchBatchingStore::Queued() const {
    std::lock_guard lock(FMutex);
    return FQueue.size();
}

void TTouchBatchingStore::Start() {
    std::lock_guard lock(FMutex);
    if (FRunning) {
        return;
    }
    FRunning = true;
    FStopping = false;
    FThread = std::thread([this] { Loop(); });
}

void TTouchBatchingStore::Stop() {
    {
        std::lock_guard lock(FMutex);
        FStopping = true;
    }
    FWake.notify_all();
    if (FThread.joinable()) {
        FThread.join();
    }
    {
        std::lock_guard lock(FMutex);
        FRunning = false;
    }
    Flush();
}

void TTouchBatchingStore::Loop() {
    for (;;) {
        {
            std::unique_lock lock(FMutex);
            // Woken early by a full queue, not by one that a failed write
            // left long: that waits for the next interval.
            FWake.wait_for(lock, FOptions.FlushInterval, [this] { return FStopping || FFull; });
            if (FStopping) {
                return;
            }
            FFull = false;
        }
        Flush();
    }
}

}  // namespace cloakline::server
