#pragma once

#include <memory>
#include <string>

namespace cloakline::test {

// A real PostgreSQL server of its own for one test: Debian's binaries,
// initdb and pg_ctl run as an unprivileged user (nobody when the test runs as
// root), a temporary folder that holds the data and the Unix socket, no TCP
// at all. Stopped (immediately) and removed with everything at destruction.
class TPostgresCluster {
  public:
    // The role that owns everything; no password (trust on the socket).
    static constexpr const char* kUser = "cloakline";

    // nullptr with the reason in whyNot when PostgreSQL is missing or does
    // not start here.
    static std::unique_ptr<TPostgresCluster> Start(std::string& whyNot);
    ~TPostgresCluster();
    TPostgresCluster(const TPostgresCluster&) = delete;
    TPostgresCluster& operator=(const TPostgresCluster&) = delete;

    // An empty database; throws std::runtime_error with the tool's output.
    void CreateDatabase(const std::string& name);
    // libpq URL of that database over the cluster's socket.
    std::string Url(const std::string& database) const;
    // Folder of the socket (and of the data, below it).
    const std::string& SocketDir() const { return FDir; }

  private:
    TPostgresCluster(std::string bin, std::string dir) : FBin(std::move(bin)), FDir(std::move(dir)) {}

    std::string FBin;
    std::string FDir;
    bool FRunning = false;
};

}  // namespace cloakline::test
