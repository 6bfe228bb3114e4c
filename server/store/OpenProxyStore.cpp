#include "server/store/OpenProxyStore.h"

#include "server/core/CommandLine.h"
#include "server/store/PostgresProxyStore.h"
#include "server/store/SqliteProxyStore.h"

namespace cloakline::server {

std::unique_ptr<IProxyStore> OpenProxyStore(const std::string& db) {
    if (IsPostgresUrl(db)) {
        return std::make_unique<TPostgresProxyStore>(db);
    }
    return std::make_unique<TSqliteProxyStore>(db);
}

std::vector<std::string> MigrateProxyStore(const std::string& db) {
    if (IsPostgresUrl(db)) {
        std::vector<std::string> done;
        for (const std::string& step : MigratePostgres(db)) {
            done.push_back("applied " + step);
        }
        if (done.empty()) {
            done.push_back("schema up to date (version " + std::to_string(PgMigrations().back().Version) +
                           ")");
        }
        return done;
    }
    // Opening the file brings it up to date.
    TSqliteProxyStore store(db);
    return {"schema up to date (version " + std::to_string(TSqliteProxyStore::kSchemaVersion) + ")"};
}

}  // namespace cloakline::server
