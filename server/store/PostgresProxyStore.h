#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/ProxyStore.h"

namespace cloakline::server {

class TPgConnection;

// One step of the PostgreSQL schema, applied once per database.
struct TPgMigration {
    int Version;
    const char* Description;
    const char* Sql;
};

// Every step in order; a new one goes at the end with the next version.
const std::vector<TPgMigration>& PgMigrations();

// Applies the steps the database lacks, all in one transaction, under an
// advisory lock so that a second migration at the same time waits and then
// finds nothing to do. The descriptions of the steps applied ("2 health
// round"), none when it was up to date.
std::vector<std::string> MigratePostgres(const std::string& url);

// The store in a PostgreSQL database whose schema `cloakline-inventory
// migrate` brought up to date; it never changes the schema itself. A pool of
// connections per process, each with its statements prepared once.
class TPostgresProxyStore : public IProxyStore {
  public:
    // Connects and checks the schema; throws TStoreError naming the migrate
    // command when the database is behind (or ahead of) this build.
    explicit TPostgresProxyStore(std::string url);
    ~TPostgresProxyStore() override;
    TPostgresProxyStore(const TPostgresProxyStore&) = delete;
    TPostgresProxyStore& operator=(const TPostgresProxyStore&) = delete;

    std::vector<TProxyEntry> ListProxies() override;
    std::vector<TProxyEntry> HealthyProxies() override;
    void PutProxy(const TProxyEntry& entry) override;
    void PutProxies(const std::vector<TProxyEntry>& entries) override;
    bool RemoveProxy(const std::string& address) override;
    void RecordHealth(const std::string& address, bool healthy, std::int64_t checkedAt) override;
    int RecordTouch(const std::string& host, std::optional<std::uint16_t> port, std::int64_t at) override;
    // One UPDATE over all of them.
    void RecordTouches(const std::vector<TTouch>& touches) override;
    std::optional<TRelease> Release() override;
    void SetRelease(const TRelease& release) override;
    // An advisory lock taken per round decides between the processes.
    bool ClaimHealthRound(std::int64_t now, std::int64_t intervalSeconds) override;

  private:
    class TLease;
    std::unique_ptr<TPgConnection> Acquire();
    void Give(std::unique_ptr<TPgConnection> connection);

    const std::string FUrl;
    const std::string FShown;
    std::mutex FMutex;
    std::vector<std::unique_ptr<TPgConnection>> FIdle;
};

}  // namespace cloakline::server
