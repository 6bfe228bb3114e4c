#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/ProxyStore.h"

namespace cloakline::server {

// The store in one SQLite file (write-ahead log, so readers never wait for
// the health checker's writes). Each thread takes a connection of its own
// from a small pool; statements are prepared once per connection.
class TSqliteProxyStore : public IProxyStore {
  public:
    // Opens the file, creating it with its schema when missing, and brings an
    // older schema up to date. Throws TStoreError when that fails.
    explicit TSqliteProxyStore(std::string path);
    ~TSqliteProxyStore() override;
    TSqliteProxyStore(const TSqliteProxyStore&) = delete;
    TSqliteProxyStore& operator=(const TSqliteProxyStore&) = delete;

    std::vector<TProxyEntry> ListProxies() override;
    std::vector<TProxyEntry> HealthyProxies() override;
    void PutProxy(const TProxyEntry& entry) override;
    void PutProxies(const std::vector<TProxyEntry>& entries) override;
    bool RemoveProxy(const std::string& address) override;
    void RecordHealth(const std::string& address, bool healthy, std::int64_t checkedAt) override;
    int RecordTouch(const std::string& host, std::optional<std::uint16_t> port, std::int64_t at) override;
    void RecordTouches(const std::vector<TTouch>& touches) override;
    std::optional<TRelease> Release() override;
    void SetRelease(const TRelease& release) override;
    // Several processes may share the file: the write lock makes the check
    // and the record one step.
    bool ClaimHealthRound(std::int64_t now, std::int64_t intervalSeconds) override;

    // The schema version this build writes (PRAGMA user_version).
    static constexpr int kSchemaVersion = 3;

    class TConnection;

  private:
    class TLease;
    std::unique_ptr<TConnection> Acquire();
    void Give(std::unique_ptr<TConnection> connection);

    const std::string FPath;
    std::mutex FMutex;
    std::vector<std::unique_ptr<TConnection>> FIdle;
};

}  // namespace cloakline::server
