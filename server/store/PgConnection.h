#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "server/ProxyStore.h"

struct pg_conn;
struct pg_result;

namespace cloakline::server {

// A failed statement, with PostgreSQL's SQLSTATE ("42P01": no such table).
class TPgError : public TStoreError {
  public:
    TPgError(const std::string& what, std::string state) : TStoreError(what), State(std::move(state)) {}
    std::string State;
};

using TPgParams = std::vector<std::optional<std::string>>;

// The rows of one statement, all values as text.
class TPgResult {
  public:
    explicit TPgResult(pg_result* result) : FResult(result) {}
    ~TPgResult();
    TPgResult(TPgResult&& other) noexcept : FResult(other.FResult) { other.FResult = nullptr; }
    TPgResult& operator=(TPgResult&&) = delete;
    TPgResult(const TPgResult&) = delete;
    TPgResult& operator=(const TPgResult&) = delete;

    int Rows() const;
    // Rows changed by an INSERT, UPDATE or DELETE.
    int Affected() const;
    bool IsNull(int row, int column) const;
    std::string Text(int row, int column) const;
    std::int64_t Int(int row, int column) const;
    std::optional<std::int64_t> MaybeInt(int row, int column) const;

  private:
    pg_result* FResult;
};

// One libpq connection, used by one thread at a time. Statements given to
// Prepared are prepared on their first use and then reused by name.
class TPgConnection {
  public:
    // shown names the database in errors (without credentials).
    TPgConnection(const std::string& url, std::string shown);
    ~TPgConnection();
    TPgConnection(const TPgConnection&) = delete;
    TPgConnection& operator=(const TPgConnection&) = delete;

    TPgResult Exec(std::string_view sql, const TPgParams& params = {});
    TPgResult Prepared(const std::string& name, std::string_view sql, const TPgParams& params);

    // Still connected and outside any transaction: fit to go back to a pool.
    bool Reusable() const;

  private:
    TPgResult Check(pg_result* result, std::string_view what);
    template <class Send>
    TPgResult Retrying(Send&& send);

    pg_conn* FConn = nullptr;
    std::string FShown;
    std::set<std::string> FPrepared;
};

// Runs body between BEGIN and COMMIT; ROLLBACK when it throws.
template <class F>
void PgTransaction(TPgConnection& c, F&& body) {
    c.Exec("BEGIN");
    try {
        body();
        c.Exec("COMMIT");
    } catch (...) {
        try {
            c.Exec("ROLLBACK");
        } catch (const TStoreError&) {
            // The first failure is the one worth reporting.
        }
        throw;
    }
}

// A PostgreSQL array literal of the values ("{"a","b",NULL}"), for unnest().
std::string PgArray(const std::vector<std::optional<std::string>>& values);

}  // namespace cloakline::server
