#include "server/store/PgConnection.h"

#include <libpq-fe.h>

#include <cstdlib>

namespace cloakline::server {

TPgResult::~TPgResult() {
    PQclear(FResult);
}

int TPgResult::Rows() const {
    return PQntuples(FResult);
}

int TPgResult::Affected() const {
    const char* n = PQcmdTuples(FResult);
    return n && *n ? std::atoi(n) : 0;
}

bool TPgResult::IsNull(int row, int column) const {
    return PQgetisnull(FResult, row, column) != 0;
}

std::string TPgResult::Text(int row, int column) const {
    return std::string(PQgetvalue(FResult, row, column),
                       static_cast<std::size_t>(PQgetlength(FResult, row, column)));
}

std::int64_t TPgResult::Int(int row, int column) const {
    return std::strtoll(PQgetvalue(FResult, row, column), nullptr, 10);
}

std::optional<std::int64_t> TPgResult::MaybeInt(int row, int column) const {
    if (IsNull(row, column)) {
        return std::nullopt;
    }
    return Int(row, column);
}

namespace {

// libpq's messages end with a line break.
std::string Trimmed(const char* message) {
    std::string text = message ? message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

struct TParamPointers {
    explicit TParamPointers(const TPgParams& params) {
        for (const auto& p : params) {
            Values.push_back(p ? p->c_str() : nullptr);
        }
    }
    int Count() const { return static_cast<int>(Values.size()); }
    std::vector<const char*> Values;
};

}  // namespace

TPgConnection::TPgConnection(const std::string& url, std::string shown) : FShown(std::move(shown)) {
    // A database that does not answer fails the call instead of holding its
    // thread; the URL's own connect_timeout, when it names one, wins.
    const char* const keywords[] = {"connect_timeout", "fallback_application_name", "dbname", nullptr};
    const char* const values[] = {"10", "cloakline", url.c_str(), nullptr};
    FConn = PQconnectdbParams(keywords, values, 1);
    if (!FConn || PQstatus(FConn) != CONNECTION_OK) {
        const std::string why = FConn ? Trimmed(PQerrorMessage(FConn)) : "out of memory";
        PQfinish(FConn);
        FConn = nullptr;
        throw TStoreError("cannot connect to " + FShown + ": " + why);
    }
    // Notices ("already exists, skipping") are not for the tool's output or the log.
    PQsetNoticeProcessor(
        FConn, [](void*, const char*) {}, nullptr);
}

TPgConnection::~TPgConnection() {
    PQfinish(FConn);
}

TPgResult TPgConnection::Check(pg_result* result, std::string_view what) {
    TPgResult owned(result);
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
        return owned;
    }
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const std::string why = result ? Trimmed(PQresultErrorMessage(result)) : Trimmed(PQerrorMessage(FConn));
    throw TPgError(std::string(what) + " on " + FShown + ": " + why, state ? state : "");
}

template <class Send>
TPgResult TPgConnection::Retrying(Send&& send) {
    const bool idle = PQtransactionStatus(FConn) == PQTRANS_IDLE;
    try {
        return send();
    } catch (const TPgError&) {
        if (!idle || PQstatus(FConn) != CONNECTION_BAD) {
            throw;
        }
    }
    // The server dropped the connection while it sat in the pool (a restart,
    // an idle time-out); outside a transaction nothing was done, so once more
    // on a new one.
    PQreset(FConn);
    FPrepared.clear();
    if (PQstatus(FConn) != CONNECTION_OK) {
        throw TStoreError("connection to " + FShown + " lost: " + Trimmed(PQerrorMessage(FConn)));
    }
    return send();
}

TPgResult TPgConnection::Exec(std::string_view sql, const TPgParams& params) {
    const std::string text(sql);
    return Retrying([&] {
        if (params.empty()) {
            return Check(PQexec(FConn, text.c_str()), "statement");
        }
        const TParamPointers p(params);
        return Check(
            PQexecParams(FConn, text.c_str(), p.Count(), nullptr, p.Values.data(), nullptr, nullptr, 0),
            "statement");
    });
}

TPgResult TPgConnection::Prepared(const std::string& name, std::string_view sql, const TPgParams& params) {
    return Retrying([&] {
        if (!FPrepared.contains(name)) {
            Check(PQprepare(FConn, name.c_str(), std::string(sql).c_str(), static_cast<int>(params.size()),
                            nullptr),
                  "prepare " + name);
            FPrepared.insert(name);
        }
        const TParamPointers p(params);
        return Check(PQexecPrepared(FConn, name.c_str(), p.Count(), p.Values.data(), nullptr, nullptr, 0),
                     name);
    });
}

bool TPgConnection::Reusable() const {
    return PQstatus(FConn) == CONNECTION_OK && PQtransactionStatus(FConn) == PQTRANS_IDLE;
}

std::string PgArray(const std::vector<std::optional<std::string>>& values) {
    std::string out = "{";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) {
            out += ',';
        }
        if (!values[i]) {
            out += "NULL";
            continue;
        }
        out += '"';
        for (const char c : *values[i]) {
            if (c == '"' || c == '\\') {
                out += '\\';
            }
            out += c;
        }
        out += '"';
    }
    return out + "}";
}

}  // namespace cloakline::server
