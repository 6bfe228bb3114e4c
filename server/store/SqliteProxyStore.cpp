#include "server/store/SqliteProxyStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <array>

#include "server/store/HealthRound.h"

namespace cloakline::server {

namespace {

constexpr int kBusyTimeoutMs = 5000;

enum TStatementId : std::size_t {
    KList,
    KHealthy,
    KPut,
    KRemove,
    KHealth,
    KTouchHost,
    KTouchAddress,
    KReleaseGet,
    KReleaseSet,
    KRoundGet,
    KRoundSet,
    KBegin,
    KCommit,
    KRollback,
    KStatementCount
};

constexpr std::string_view kColumns =
    "host, port, country_code, country, longitude, latitude, is_super, healthy, checked_at, last_touch, "
    "scheme, username, password";

std::string StatementSql(TStatementId id) {
    switch (id) {
        case KList:
            return "SELECT " + std::string(kColumns) + " FROM proxy ORDER BY address";
        case KHealthy:
            return "SELECT " + std::string(kColumns) + " FROM proxy WHERE healthy = 1 ORDER BY address";
        case KPut:
            return "INSERT INTO proxy (address, host, port, country_code, country, longitude, latitude, "
                   "is_super, healthy, checked_at, scheme, username, password)"
                   " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, 0, NULL, ?9, ?10, ?11)"
                   " ON CONFLICT(address) DO UPDATE SET host = ?2, port = ?3, country_code = ?4, country = "
                   "?5, longitude = ?6, latitude = ?7, is_super = ?8, healthy = 0, checked_at = NULL,"
                   " scheme = ?9, username = ?10, password = ?11";
        case KRemove:
            return "DELETE FROM proxy WHERE address = ?1";
        case KHealth:
            return "UPDATE proxy SET healthy = ?2, checked_at = ?3 WHERE address = ?1";
        case KTouchHost:
            return "UPDATE proxy SET last_touch = ?2 WHERE is_super = 1 AND host = ?1";
        case KTouchAddress:
            return "UPDATE proxy SET last_touch = ?2 WHERE is_super = 1 AND host = ?1 AND port = ?3";
        case KReleaseGet:
            return "SELECT version, info, page FROM release WHERE id = 1";
        case KReleaseSet:
            return "INSERT INTO release (id, version, info, page) VALUES (1, ?1, ?2, ?3)"
                   " ON CONFLICT(id) DO UPDATE SET version = ?1, info = ?2, page = ?3";
        case KRoundGet:
            return "SELECT started_at FROM health_round WHERE id = 1";
        case KRoundSet:
            return "INSERT INTO health_round (id, started_at) VALUES (1, ?1)"
                   " ON CONFLICT(id) DO UPDATE SET started_at = ?1";
        case KBegin:
            return "BEGIN IMMEDIATE";
        case KCommit:
            return "COMMIT";
        case KRollback:
            return "ROLLBACK";
        case KStatementCount:
            break;
    }
    return {};
}

constexpr std::string_view kSchemaV1 =
    "CREATE TABLE proxy ("
    " address TEXT PRIMARY KEY,"
    " host TEXT NOT NULL,"
    " port INTEGER NOT NULL,"
    " country_code TEXT NOT NULL,"
    " country TEXT NOT NULL,"
    " longitude TEXT NOT NULL,"
    " latitude TEXT NOT NULL,"
    " is_super INTEGER NOT NULL,"
    " healthy INTEGER NOT NULL DEFAULT 0,"
    " checked_at INTEGER,"
    " last_touch INTEGER);"
    "CREATE INDEX proxy_healthy ON proxy (healthy);"
    "CREATE INDEX proxy_host ON proxy (host);"
    "CREATE TABLE release ("
    " id INTEGER PRIMARY KEY CHECK (id = 1),"
    " version TEXT NOT NULL,"
    " info TEXT NOT NULL,"
    " page TEXT NOT NULL);";

// Proxies that the program's gateway reaches by SOCKS5 or with credentials;
// the rows of a version 1 store read as plain HTTP proxies.
constexpr std::string_view kSchemaV2 =
    "ALTER TABLE proxy ADD COLUMN scheme TEXT NOT NULL DEFAULT 'http';"
    "ALTER TABLE proxy ADD COLUMN username TEXT NOT NULL DEFAULT '';"
    "ALTER TABLE proxy ADD COLUMN password TEXT NOT NULL DEFAULT '';";

// The start of the last health round of all processes that share the file.
constexpr std::string_view kSchemaV3 =
    "CREATE TABLE health_round (id INTEGER PRIMARY KEY CHECK (id = 1), started_at INTEGER NOT NULL);";

constexpr std::string_view kSocks5 = "socks5";

}  // namespace

class TSqliteProxyStore::TConnection {
  public:
    explicit TConnection(const std::string& path) {
        const int rc = sqlite3_open_v2(
            path.c_str(), &FDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK) {
            const std::string why = FDb ? sqlite3_errmsg(FDb) : sqlite3_errstr(rc);
            sqlite3_close(FDb);
            FDb = nullptr;
            throw TStoreError("cannot open " + path + ": " + why);
        }
        sqlite3_busy_timeout(FDb, kBusyTimeoutMs);
        Exec("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;");
    }
    ~TConnection() {
        for (sqlite3_stmt* s : FStatements) {
            sqlite3_finalize(s);
        }
        sqlite3_close(FDb);
    }
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    void Exec(std::string_view sql) {
        char* message = nullptr;
        if (sqlite3_exec(FDb, std::string(sql).c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            const std::string why = message ? message : sqlite3_errmsg(FDb);
            sqlite3_free(message);
            throw TStoreError(why);
        }
    }

    int UserVersion() {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(FDb, "PRAGMA user_version", -1, &s, nullptr) != SQLITE_OK) {
            Fail("user_version");
        }
        int version = 0;
        if (sqlite3_step(s) == SQLITE_ROW) {
            version = sqlite3_column_int(s, 0);
        }
        sqlite3_finalize(s);
        return version;
    }

    // A prepared statement, reset and unbound when the caller is done with it.
    class TStatement {
      public:
        TStatement(TConnection& c, TStatementId id) : FConnection(c), FStmt(c.Prepared(id)) {}
        ~TStatement() {
            sqlite3_reset(FStmt);
            sqlite3_clear_bindings(FStmt);
        }
        TStatement(const TStatement&) = delete;
        TStatement& operator=(const TStatement&) = delete;

        TStatement& Bind(int index, const std::string& text) {
            Check(sqlite3_bind_text(FStmt, index, text.data(), static_cast<int>(text.size()),
                                    SQLITE_TRANSIENT));
            return *this;
        }
        TStatement& Bind(int index, std::int64_t value) {
            Check(sqlite3_bind_int64(FStmt, index, value));
            return *this;
        }
        // True while there is a row.
        bool Step() {
            const int rc = sqlite3_step(FStmt);
            if (rc == SQLITE_ROW) {
                return true;
            }
            if (rc != SQLITE_DONE) {
                FConnection.Fail("step");
            }
            return false;
        }
        std::string Text(int column) const {
            const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(FStmt, column));
            return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(FStmt, column)))
                     : std::string();
        }
        std::int64_t Int(int column) const { return sqlite3_column_int64(FStmt, column); }
        std::optional<std::int64_t> MaybeInt(int column) const {
            if (sqlite3_column_type(FStmt, column) == SQLITE_NULL) {
                return std::nullopt;
            }
            return Int(column);
        }

      private:
        void Check(int rc) {
            if (rc != SQLITE_OK) {
                FConnection.Fail("bind");
            }
        }
        TConnection& FConnection;
        sqlite3_stmt* FStmt;
    };

    int Changes() const { return sqlite3_changes(FDb); }

    [[noreturn]] void Fail(std::string_view what) {
        throw TStoreError(std::string(what) + ": " + sqlite3_errmsg(FDb));
    }

  private:
    sqlite3_stmt* Prepared(TStatementId id) {
        if (!FStatements[id]) {
            const std::string sql = StatementSql(id);
            if (sqlite3_prepare_v3(FDb, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &FStatements[id],
                                   nullptr) != SQLITE_OK) {
                Fail("prepare");
            }
        }
        return FStatements[id];
    }

    sqlite3* FDb = nullptr;
    std::array<sqlite3_stmt*, KStatementCount> FStatements{};
};

// A connection borrowed from the pool for one call, given back at its end.
class TSqliteProxyStore::TLease {
  public:
    explicit TLease(TSqliteProxyStore& store) : FStore(store), FConnection(store.Acquire()) {}
    ~TLease() { FStore.Give(std::move(FConnection)); }
    TLease(const TLease&) = delete;
    TLease& operator=(const TLease&) = delete;
    TConnection* operator->() { return FConnection.get(); }
    TConnection& operator*() { return *FConnection; }

  private:
    TSqliteProxyStore& FStore;
    std::unique_ptr<TConnection> FConnection;
};

namespace {

using TStatement = TSqliteProxyStore::TConnection::TStatement;

std::vector<TProxyEntry> ReadEntries(TStatement& s) {
    std::vector<TProxyEntry> out;
    while (s.Step()) {
        TProxyEntry e;
        e.Host = s.Text(0);
        e.Port = static_cast<std::uint16_t>(s.Int(1));
        e.CountryCode = s.Text(2);
        e.Country = s.Text(3);
        e.Longitude = s.Text(4);
        e.Latitude = s.Text(5);
        e.IsSuper = s.Int(6) != 0;
        e.Healthy = s.Int(7) != 0;
        e.CheckedAt = s.MaybeInt(8);
        e.LastTouch = s.MaybeInt(9);
        e.Scheme = s.Text(10) == kSocks5 ? TProxyScheme::Socks5 : TProxyScheme::Http;
        e.User = s.Text(11);
        e.Password = s.Text(12);
        out.push_back(std::move(e));
    }
    return out;
}

void Put(TSqliteProxyStore::TConnection& c, const TProxyEntry& e) {
    TStatement s(c, KPut);
    s.Bind(1, e.Address())
        .Bind(2, e.Host)
        .Bind(3, static_cast<std::int64_t>(e.Port))
        .Bind(4, e.CountryCode)
        .Bind(5, e.Country)
        .Bind(6, e.Longitude)
        .Bind(7, e.Latitude)
        .Bind(8, static_cast<std::int64_t>(e.IsSuper ? 1 : 0))
        .Bind(9, std::string(e.Scheme == TProxyScheme::Socks5 ? kSocks5 : "http"))
        .Bind(10, e.User)
        .Bind(11, e.Password);
    s.Step();
}

// Runs body inside BEGIN IMMEDIATE ... COMMIT, rolled back when it throws.
template <class F>
void InTransaction(TSqliteProxyStore::TConnection& c, F&& body) {
    TStatement(c, KBegin).Step();
    try {
        body();
        TStatement(c, KCommit).Step();
    } catch (...) {
        try {
            TStatement(c, KRollback).Step();
        } catch (const TStoreError&) {
            // The first failure is the one worth reporting.
        }
        throw;
    }
}

}  // namespace

TSqliteProxyStore::TSqliteProxyStore(std::string path) : FPath(std::move(path)) {
    // The store holds proxy credentials: a new file is its owner's alone
    // (SQLite gives its journal files the same rights). An existing file
    // keeps the rights it has.
    if (const int fd = ::open(FPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600); fd >= 0) {
        ::close(fd);
    }
    TLease c(*this);
    // Two processes may create the same file at once; the write lock decides.
    c->Exec("BEGIN IMMEDIATE");
    try {
        const int version = c->UserVersion();
        if (version > kSchemaVersion) {
            throw TStoreError(FPath + " was written by a newer server (schema " + std::to_string(version) +
                              ")");
        }
        if (version < 1) {
            c->Exec(kSchemaV1);
        }
        // Each later version adds its step here, from the one before.
        if (version < 2) {
            c->Exec(kSchemaV2);
        }
        if (version < 3) {
            c->Exec(kSchemaV3);
        }
        c->Exec("PRAGMA user_version = " + std::to_string(kSchemaVersion));
        c->Exec("COMMIT");
    } catch (...) {
        try {
            c->Exec("ROLLBACK");
        } catch (const TStoreError&) {
        }
        throw;
    }
}

TSqliteProxyStore::~TSqliteProxyStore() = default;

std::unique_ptr<TSqliteProxyStore::TConnection> TSqliteProxyStore::Acquire() {
    {
        std::lock_guard lock(FMutex);
        if (!FIdle.empty()) {
            auto c = std::move(FIdle.back());
            FIdle.pop_back();
            return c;
        }
    }
    return std::make_unique<TConnection>(FPath);
}

void TSqliteProxyStore::Give(std::unique_ptr<TConnection> connection) {
    if (!connection) {
        return;
    }
    std::lock_guard lock(FMutex);
    FIdle.push_back(std::move(connection));
}

std::vector<TProxyEntry> TSqliteProxyStore::ListProxies() {
    TLease c(*this);
    TStatement s(*c, KList);
    return ReadEntries(s);
}

std::vector<TProxyEntry> TSqliteProxyStore::HealthyProxies() {
    TLease c(*this);
    TStatement s(*c, KHealthy);
    return ReadEntries(s);
}

void TSqliteProxyStore::PutProxy(const TProxyEntry& entry) {
    TLease c(*this);
    Put(*c, entry);
}

void TSqliteProxyStore::PutProxies(const std::vector<TProxyEntry>& entries) {
    TLease c(*this);
    InTransaction(*c, [&] {
        for (const TProxyEntry& e : entries) {
            Put(*c, e);
        }
    });
}

bool TSqliteProxyStore::RemoveProxy(const std::string& address) {
    TLease c(*this);
    TStatement s(*c, KRemove);
    s.Bind(1, address).Step();
    return c->Changes() > 0;
}

void TSqliteProxyStore::RecordHealth(const std::string& address, bool healthy, std::int64_t checkedAt) {
    TLease c(*this);
    TStatement s(*c, KHealth);
    s.Bind(1, address).Bind(2, static_cast<std::int64_t>(healthy ? 1 : 0)).Bind(3, checkedAt).Step();
}

int TSqliteProxyStore::RecordTouch(const std::string& host,
                                   std::optional<std::uint16_t> port,
                                   std::int64_t at) {
    TLease c(*this);
    TStatement s(*c, port ? KTouchAddress : KTouchHost);
    s.Bind(1, host).Bind(2, at);
    if (port) {
        s.Bind(3, static_cast<std::int64_t>(*port));
    }
    s.Step();
    return c->Changes();
}

void TSqliteProxyStore::RecordTouches(const std::vector<TTouch>& touches) {
    if (touches.empty()) {
        return;
    }
    // A proxy that several touches name takes the latest of them.
    std::vector<TTouch> ordered = touches;
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const TTouch& a, const TTouch& b) { return a.At < b.At; });
    TLease c(*this);
    InTransaction(*c, [&] {
        for (const TTouch& touch : ordered) {
            TStatement s(*c, touch.Port ? KTouchAddress : KTouchHost);
            s.Bind(1, touch.Host).Bind(2, touch.At);
            if (touch.Port) {
                s.Bind(3, static_cast<std::int64_t>(*touch.Port));
            }
            s.Step();
        }
    });
}

bool TSqliteProxyStore::ClaimHealthRound(std::int64_t now, std::int64_t intervalSeconds) {
    TLease c(*this);
    bool granted = false;
    InTransaction(*c, [&] {
        std::optional<std::int64_t> last;
        {
            TStatement s(*c, KRoundGet);
            if (s.Step()) {
                last = s.Int(0);
            }
        }
        granted = IsHealthRoundDue(last, now, intervalSeconds);
        if (granted) {
            TStatement(*c, KRoundSet).Bind(1, now).Step();
        }
    });
    return granted;
}

std::optional<TRelease> TSqliteProxyStore::Release() {
    TLease c(*this);
    TStatement s(*c, KReleaseGet);
    if (!s.Step()) {
        return std::nullopt;
    }
    return TRelease{s.Text(0), s.Text(1), s.Text(2)};
}

void TSqliteProxyStore::SetRelease(const TRelease& release) {
    TLease c(*this);
    TStatement s(*c, KReleaseSet);
    s.Bind(1, release.Version).Bind(2, release.Info).Bind(3, release.Page).Step();
}

}  // namespace cloakline::server
