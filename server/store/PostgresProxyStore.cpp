#include "server/store/PostgresProxyStore.h"

#include "server/store/HealthRound.h"
#include "server/store/PgConnection.h"
#include "server/store/StoreName.h"

namespace cloakline::server {

namespace {

// Keys of the advisory locks of the deployment (any constant will do, as
// long as nothing else in the database takes them).
constexpr const char* kMigrationLock = "7163452001";
constexpr const char* kHealthRoundLock = "7163452002";

constexpr std::size_t kMaxIdleConnections = 16;

constexpr const char* kUndefinedTable = "42P01";

// Addresses sort by their bytes, as in the SQLite store, whatever the
// database's collation.
constexpr std::string_view kColumns =
    "host, port, country_code, country, longitude, latitude, is_super, healthy, checked_at, last_touch, "
    "scheme, username, password";

const std::string kListSql = "SELECT " + std::string(kColumns) + " FROM proxy ORDER BY address COLLATE \"C\"";
const std::string kHealthySql =
    "SELECT " + std::string(kColumns) + " FROM proxy WHERE healthy ORDER BY address COLLATE \"C\"";
constexpr std::string_view kPutSql =
    "INSERT INTO proxy (address, host, port, country_code, country, longitude, latitude, is_super, healthy,"
    " checked_at, scheme, username, password)"
    " VALUES ($1, $2, $3, $4, $5, $6, $7, $8, false, NULL, $9, $10, $11)"
    " ON CONFLICT (address) DO UPDATE SET host = $2, port = $3, country_code = $4, country = $5,"
    " longitude = $6, latitude = $7, is_super = $8, healthy = false, checked_at = NULL, scheme = $9,"
    " username = $10, password = $11";
constexpr std::string_view kRemoveSql = "DELETE FROM proxy WHERE address = $1";
constexpr std::string_view kHealthSql = "UPDATE proxy SET healthy = $2, checked_at = $3 WHERE address = $1";
constexpr std::string_view kTouchSql =
    "UPDATE proxy SET last_touch = $2 WHERE is_super AND host = $1 AND ($3::integer IS NULL OR port = $3)";
// A proxy that several touches of the batch name takes the latest of them.
constexpr std::string_view kTouchesSql =
    "UPDATE proxy p SET last_touch = t.at FROM ("
    " SELECT q.address, max(u.at) AS at FROM proxy q"
    " JOIN unnest($1::text[], $2::integer[], $3::bigint[]) AS u(host, port, at)"
    " ON q.host = u.host AND (u.port IS NULL OR q.port = u.port)"
    " WHERE q.is_super GROUP BY q.address) t"
    " WHERE p.address = t.address";
constexpr std::string_view kReleaseGetSql = "SELECT version, info, page FROM release WHERE id = 1";
constexpr std::string_view kReleaseSetSql =
    "INSERT INTO release (id, version, info, page) VALUES (1, $1, $2, $3)"
    " ON CONFLICT (id) DO UPDATE SET version = $1, info = $2, page = $3";
constexpr std::string_view kRoundLockSql = "SELECT pg_try_advisory_xact_lock($1::bigint)";
constexpr std::string_view kRoundGetSql = "SELECT started_at FROM health_round WHERE id = 1";
constexpr std::string_view kRoundSetSql =
    "INSERT INTO health_round (id, started_at) VALUES (1, $1) ON CONFLICT (id) DO UPDATE SET started_at = $1";

constexpr std::string_view kSocks5 = "socks5";

std::vector<TProxyEntry> ReadEntries(const TPgResult& r) {
    std::vector<TProxyEntry> out;
    out.reserve(static_cast<std::size_t>(r.Rows()));
    for (int i = 0; i < r.Rows(); ++i) {
        TProxyEntry e;
        e.Host = r.Text(i, 0);
        e.Port = static_cast<std::uint16_t>(r.Int(i, 1));
        e.CountryCode = r.Text(i, 2);
        e.Country = r.Text(i, 3);
        e.Longitude = r.Text(i, 4);
        e.Latitude = r.Text(i, 5);
        e.IsSuper = r.Text(i, 6) == "t";
        e.Healthy = r.Text(i, 7) == "t";
        e.CheckedAt = r.MaybeInt(i, 8);
        e.LastTouch = r.MaybeInt(i, 9);
        e.Scheme = r.Text(i, 10) == kSocks5 ? TProxyScheme::Socks5 : TProxyScheme::Http;
        e.User = r.Text(i, 11);
        e.Password = r.Text(i, 12);
        out.push_back(std::move(e));
    }
    return out;
}

const char* Bool(bool value) {
    return value ? "true" : "false";
}

void Put(TPgConnection& c, const TProxyEntry& e) {
    c.Prepared("put", kPutSql,
               {e.Address(), e.Host, std::to_string(e.Port), e.CountryCode, e.Country, e.Longitude,
                e.Latitude, Bool(e.IsSuper), std::string(e.Scheme == TProxyScheme::Socks5 ? kSocks5 : "http"),
                e.User, e.Password});
}

// The latest version applied; 0 for a database never migrated.
int SchemaVersion(TPgConnection& c) {
    try {
        return static_cast<int>(c.Exec("SELECT coalesce(max(version), 0) FROM schema_migrations").Int(0, 0));
    } catch (const TPgError& e) {
        if (e.State == kUndefinedTable) {
            return 0;
        }
        throw;
    }
}

int LatestVersion() {
    return PgMigrations().back().Version;
}

}  // namespace

const std::vector<TPgMigration>& PgMigrations() {
    static const std::vector<TPgMigration> steps = {
        {1, "proxies and release",
         "CREATE TABLE proxy ("
         " address text PRIMARY KEY,"
         " host text NOT NULL,"
         " port integer NOT NULL,"
         " country_code text NOT NULL,"
         " country text NOT NULL,"
         " longitude text NOT NULL,"
         " latitude text NOT NULL,"
         " is_super boolean NOT NULL,"
         " healthy boolean NOT NULL DEFAULT false,"
         " checked_at bigint,"
         " last_touch bigint,"
         " scheme text NOT NULL DEFAULT 'http',"
         " username text NOT NULL DEFAULT '',"
         " password text NOT NULL DEFAULT '');"
         "CREATE INDEX proxy_healthy ON proxy (healthy);"
         "CREATE INDEX proxy_host ON proxy (host);"
         "CREATE TABLE release ("
         " id integer PRIMARY KEY CHECK (id = 1),"
         " version text NOT NULL,"
         " info text NOT NULL,"
         " page text NOT NULL);"},
        {2, "health round",
         "CREATE TABLE health_round (id integer PRIMARY KEY CHECK (id = 1), started_at bigint NOT NULL);"},
    };
    return steps;
}

std::vector<std::string> MigratePostgres(const std::string& url) {
    TPgConnection c(url, ShownStoreName(url));
    std::vector<std::string> applied;
    PgTransaction(c, [&] {
        // Waits for a migration running elsewhere; this one then finds its steps applied.
        c.Exec("SELECT pg_advisory_xact_lock($1::bigint)", {kMigrationLock});
        c.Exec(
            "CREATE TABLE IF NOT EXISTS schema_migrations (version integer PRIMARY KEY,"
            " description text NOT NULL, applied_at timestamptz NOT NULL DEFAULT now())");
        const int current = SchemaVersion(c);
        if (current > LatestVersion()) {
            throw TStoreError("the store " + ShownStoreName(url) + " has schema version " +
                              std::to_string(current) + ", newer than this build knows");
        }
        for (const TPgMigration& step : PgMigrations()) {
            if (step.Version <= current) {
                continue;
            }
            c.Exec(step.Sql);
            c.Exec("INSERT INTO schema_migrations (version, description) VALUES ($1, $2)",
                   {std::to_string(step.Version), std::string(step.Description)});
            applied.push_back(std::to_string(step.Version) + " " + step.Description);
        }
    });
    return applied;
}

// A connection borrowed from the pool for one call.
class TPostgresProxyStore::TLease {
  public:
    explicit TLease(TPostgresProxyStore& store) : FStore(store), FConnection(store.Acquire()) {}
    ~TLease() { FStore.Give(std::move(FConnection)); }
    TLease(const TLease&) = delete;
    TLease& operator=(const TLease&) = delete;
    TPgConnection& operator*() { return *FConnection; }
    TPgConnection* operator->() { return FConnection.get(); }

  private:
    TPostgresProxyStore& FStore;
    std::unique_ptr<TPgConnection> FConnection;
};

TPostgresProxyStore::TPostgresProxyStore(std::string url)
    : FUrl(std::move(url)), FShown(ShownStoreName(FUrl)) {
    TLease c(*this);
    const int version = SchemaVersion(*c);
    if (version < LatestVersion()) {
        throw TStoreError("the store " + FShown + " is behind this build (schema version " +
                          std::to_string(version) + " of " + std::to_string(LatestVersion()) +
                          "): run cloakline-inventory migrate on it (with the same --db) first");
    }
    if (version > LatestVersion()) {
        throw TStoreError("the store " + FShown + " was migrated by a newer build (schema version " +
                          std::to_string(version) + ")");
    }
}

TPostgresProxyStore::~TPostgresProxyStore() = default;

std::unique_ptr<TPgConnection> TPostgresProxyStore::Acquire() {
    {
        std::lock_guard lock(FMutex);
        if (!FIdle.empty()) {
            auto c = std::move(FIdle.back());
            FIdle.pop_back();
            return c;
        }
    }
    return std::make_unique<TPgConnection>(FUrl, FShown);
}

void TPostgresProxyStore::Give(std::unique_ptr<TPgConnection> connection) {
    // A broken connection, or one left inside a failed transaction, is dropped.
    if (!connection || !connection->Reusable()) {
        return;
    }
    std::lock_guard lock(FMutex);
    if (FIdle.size() < kMaxIdleConnections) {
        FIdle.push_back(std::move(connection));
    }
}

std::vector<TProxyEntry> TPostgresProxyStore::ListProxies() {
    TLease c(*this);
    return ReadEntries(c->Prepared("list", kListSql, {}));
}

std::vector<TProxyEntry> TPostgresProxyStore::HealthyProxies() {
    TLease c(*this);
    return ReadEntries(c->Prepared("healthy", kHealthySql, {}));
}

void TPostgresProxyStore::PutProxy(const TProxyEntry& entry) {
    TLease c(*this);
    Put(*c, entry);
}

void TPostgresProxyStore::PutProxies(const std::vector<TProxyEntry>& entries) {
    TLease c(*this);
    PgTransaction(*c, [&] {
        for (const TProxyEntry& e : entries) {
            Put(*c, e);
        }
    });
}

bool TPostgresProxyStore::RemoveProxy(const std::string& address) {
    TLease c(*this);
    return c->Prepared("remove", kRemoveSql, {address}).Affected() > 0;
}

void TPostgresProxyStore::RecordHealth(const std::string& address, bool healthy, std::int64_t checkedAt) {
    TLease c(*this);
    c->Prepared("health", kHealthSql, {address, Bool(healthy), std::to_string(checkedAt)});
}

int TPostgresProxyStore::RecordTouch(const std::string& host,
                                     std::optional<std::uint16_t> port,
                                     std::int64_t at) {
    TLease c(*this);
    std::optional<std::string> portText;
    if (port) {
        portText = std::to_string(*port);
    }
    return c->Prepared("touch", kTouchSql, {host, std::to_string(at), portText}).Affected();
}

void TPostgresProxyStore::RecordTouches(const std::vector<TTouch>& touches) {
    if (touches.empty()) {
        return;
    }
    std::vector<std::optional<std::string>> hosts, ports, ats;
    for (const TTouch& t : touches) {
        hosts.emplace_back(t.Host);
        ports.push_back(t.Port ? std::optional<std::string>(std::to_string(*t.Port)) : std::nullopt);
        ats.emplace_back(std::to_string(t.At));
    }
    TLease c(*this);
    c->Prepared("touches", kTouchesSql, {PgArray(hosts), PgArray(ports), PgArray(ats)});
}

std::optional<TRelease> TPostgresProxyStore::Release() {
    TLease c(*this);
    const TPgResult r = c->Prepared("release_get", kReleaseGetSql, {});
    if (r.Rows() == 0) {
        return std::nullopt;
    }
    return TRelease{r.Text(0, 0), r.Text(0, 1), r.Text(0, 2)};
}

void TPostgresProxyStore::SetRelease(const TRelease& release) {
    TLease c(*this);
    c->Prepared("release_set", kReleaseSetSql, {release.Version, release.Info, release.Page});
}

bool TPostgresProxyStore::ClaimHealthRound(std::int64_t now, std::int64_t intervalSeconds) {
    TLease c(*this);
    bool granted = false;
    PgTransaction(*c, [&] {
        // Whoever holds the lock is deciding (or running) this round; the
        // lock ends with the transaction, the record of the start stays.
        if (c->Prepared("round_lock", kRoundLockSql, {kHealthRoundLock}).Text(0, 0) != "t") {
            return;
        }
        const TPgResult last = c->Prepared("round_get", kRoundGetSql, {});
        granted = IsHealthRoundDue(last.Rows() ? last.MaybeInt(0, 0) : std::nullopt, now, intervalSeconds);
        if (granted) {
            c->Prepared("round_set", kRoundSetSql, {std::to_string(now)});
        }
    });
    return granted;
}

}  // namespace cloakline::server
