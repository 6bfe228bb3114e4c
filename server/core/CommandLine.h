#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/core/ProxyEntry.h"

namespace cloakline::server {

struct TServerOptions {
    std::string DbPath;
    std::string Listen = "127.0.0.1";
    int Port = 8480;  // 0: any free port
    std::string MagicWord = "cloakline-reference";
    std::string RangesPath;
    std::string GeoIpPath = "/usr/share/GeoIP/GeoIP.dat";
    std::string PublicBase;  // empty: http://LISTEN:PORT
    std::string CheckIpUrl;  // empty: PUBLIC-BASE/checkip
    int HealthIntervalSeconds = 60;
    std::string HealthUrl;  // empty: the check-IP page on the listen address
    std::string LogPath;    // empty: stderr
    std::string FlagsDir;   // empty: the build's flag folder
    int Threads = 8;        // store workers: requests that wait for the store at once
    int IoThreads = 2;      // threads serving the connections
    // Balancers whose PROXY protocol header or X-Forwarded-For names the
    // client (addresses or CIDR blocks); anyone else is the TCP peer.
    std::vector<std::string> TrustedProxies;
    int MaxConnectionsPerClient = 64;
    int LogLinesPerSecond = 5;  // refusal lines per client address and second
};

// True for a store named by a PostgreSQL URL rather than an SQLite path.
bool IsPostgresUrl(const std::string& db);

// The server's flags; nullopt with the reason in error for a wrong one.
std::optional<TServerOptions> ParseServerOptions(const std::vector<std::string>& args, std::string& error);

enum class TInventoryAction { KAdd, KRemove, KList, KImport, KRelease, KMigrate };

struct TInventoryCommand {
    std::string DbPath;
    TInventoryAction Action = TInventoryAction::KList;
    TProxyEntry Entry;    // add
    std::string Address;  // remove
    std::string File;     // import
    TRelease Release;     // release
};

std::optional<TInventoryCommand> ParseInventoryCommand(const std::vector<std::string>& args,
                                                       std::string& error);

}  // namespace cloakline::server
