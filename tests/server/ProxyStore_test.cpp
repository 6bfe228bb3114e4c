// The store's contract, held by the SQLite file and by a real PostgreSQL
// server that the test starts itself; then the server and the inventory tool
// on a PostgreSQL store.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "server/ServerApp.h"
#include "server/store/OpenProxyStore.h"
#include "server/store/PgConnection.h"
#include "tests/support/PostgresCluster.h"
#include "tests/support/TempDir.h"

namespace cloakline::server {
namespace {

using cloakline::test::TPostgresCluster;

enum class TBackend { Sqlite, Postgres };

TProxyEntry Proxy(std::string host, std::uint16_t port, bool super = false) {
    TProxyEntry e;
    e.Host = std::move(host);
    e.Port = port;
    e.CountryCode = "DE";
    e.Country = "Germany";
    e.Longitude = "13.40";
    e.Latitude = "52.52";
    e.IsSuper = super;
    return e;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// One cluster per test process, started by the first test that needs it.
TPostgresCluster* Cluster(std::string& whyNot) {
    static std::string why;
    static const std::unique_ptr<TPostgresCluster> cluster = TPostgresCluster::Start(why);
    whyNot = why;
    return cluster.get();
}

class ProxyStoreTest : public ::testing::TestWithParam<TBackend> {
  protected:
    void SetUp() override {
        if (GetParam() == TBackend::Sqlite) {
            Db = Dir.Path() + "/store.db";
            return;
        }
        std::string whyNot;
        TPostgresCluster* cluster = Cluster(whyNot);
        if (!cluster) {
            GTEST_SKIP() << "no PostgreSQL here: " << whyNot;
        }
        static int next = 0;
        const std::string name = "store" + std::to_string(++next);
        cluster->CreateDatabase(name);
        Db = cluster->Url(name);
    }

    // As a deployment does it: migrate, then open.
    std::unique_ptr<IProxyStore> Open() {
        MigrateProxyStore(Db);
        return OpenProxyStore(Db);
    }

    cloakline::test::TempDir Dir;
    std::string Db;
};

TEST_P(ProxyStoreTest, EntriesWithCredentialsComeBackAsPutAndAPutAgainReplacesThem) {
    auto store = Open();
    TProxyEntry socks = Proxy("10.0.0.5", 1080, true);
    socks.Scheme = TProxyScheme::Socks5;
    socks.User = "al\"ice";
    socks.Password = "p@ss'w\\rd";
    store->PutProxies({Proxy("10.0.0.9", 80), socks});
    store->RecordHealth("10.0.0.5:1080", true, 100);

    const auto listed = store->ListProxies();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].Address(), "10.0.0.5:1080") << "sorted by address";
    EXPECT_EQ(listed[0].ListAddress(), socks.ListAddress());
    EXPECT_EQ(listed[0].Password, "p@ss'w\\rd");
    EXPECT_TRUE(listed[0].IsSuper);
    EXPECT_EQ(listed[0].CheckedAt, 100);
    EXPECT_EQ(listed[1].Scheme, TProxyScheme::Http);
    EXPECT_FALSE(listed[1].IsSuper);
    EXPECT_EQ(listed[1].Longitude, "13.40");
    EXPECT_FALSE(listed[1].CheckedAt);

    TProxyEntry moved = Proxy("10.0.0.5", 1080);
    moved.Country = "Austria";
    store->PutProxy(moved);
    EXPECT_TRUE(store->HealthyProxies().empty()) << "a changed proxy waits for its next check";
    EXPECT_EQ(store->ListProxies().at(0).Country, "Austria");
    EXPECT_EQ(store->ListProxies().at(0).ListAddress(), "10.0.0.5:1080");
    EXPECT_TRUE(store->RemoveProxy("10.0.0.9:80"));
    EXPECT_FALSE(store->RemoveProxy("10.0.0.9:80"));
    EXPECT_EQ(store->ListProxies().size(), 1u);
}

TEST_P(ProxyStoreTest, HealthTouchesAndReleaseAreSharedByTwoProcesses) {
    auto first = Open();
    auto second = OpenProxyStore(Db);
    first->PutProxies({Proxy("10.0.0.7", 3128, true), Proxy("10.0.0.7", 3129, true), Proxy("10.0.0.8", 80)});
    second->RecordHealth("10.0.0.8:80", true, 50);
    second->RecordHealth("10.0.0.1:80", true, 50);  // removed meanwhile: ignored
    ASSERT_EQ(first->HealthyProxies().size(), 1u);
    EXPECT_EQ(first->HealthyProxies()[0].Address(), "10.0.0.8:80");

    EXPECT_EQ(first->RecordTouch("10.0.0.7", std::nullopt, 100), 2);
    EXPECT_EQ(first->RecordTouch("10.0.0.7", 3129, 110), 1);
    EXPECT_EQ(first->RecordTouch("10.0.0.8", std::nullopt, 100), 0) << "not a super proxy";
    EXPECT_EQ(first->RecordTouch("10.0.0.9", std::nullopt, 100), 0);
    second->RecordTouches({{"10.0.0.7", 3128, 200},
                           {"10.0.0.7", std::nullopt, 300},
                           {"10.0.0.7", 3128, 250},
                           {"10.0.0.8", std::nullopt, 300},
                           {"no\"such,{host}", std::nullopt, 300}});
    const auto listed = first->ListProxies();
    EXPECT_EQ(listed[0].LastTouch, 300);
    EXPECT_EQ(listed[1].LastTouch, 300);
    EXPECT_FALSE(listed[2].LastTouch);
    second->RecordTouches({{"10.0.0.7", 3129, 400}});
    EXPECT_EQ(first->ListProxies()[0].LastTouch, 300);
    EXPECT_EQ(first->ListProxies()[1].LastTouch, 400);

    EXPECT_FALSE(first->Release());
    second->SetRelease({"1.0.0.7", "It's new", "http://example.org/new"});
    second->SetRelease({"1.0.0.8", "It's newer", "http://example.org/newer"});
    ASSERT_TRUE(first->Release());
    EXPECT_EQ(first->Release()->Version, "1.0.0.8");
    EXPECT_EQ(first->Release()->Info, "It's newer");
    EXPECT_EQ(first->Release()->Page, "http://example.org/newer");
}

TEST_P(ProxyStoreTest, MigratingAgainChangesNothingAndKeepsTheData) {
    const auto done = MigrateProxyStore(Db);
    if (GetParam() == TBackend::Postgres) {
        ASSERT_EQ(done.size(), 2u);
        EXPECT_EQ(done[0], "applied 1 proxies and release");
    }
    OpenProxyStore(Db)->PutProxy(Proxy("10.0.0.1", 80));
    const auto again = MigrateProxyStore(Db);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].rfind("schema up to date", 0), 0u) << again[0];
    EXPECT_EQ(OpenProxyStore(Db)->ListProxies().size(), 1u);
}

TEST_P(ProxyStoreTest, OfTwoProcessesClaimingOneHealthRoundExactlyOneWins) {
    auto first = Open();
    auto second = OpenProxyStore(Db);
    std::atomic<int> granted{0};
    std::thread other([&] { granted += second->ClaimHealthRound(1000, 60) ? 1 : 0; });
    granted += first->ClaimHealthRound(1000, 60) ? 1 : 0;
    other.join();
    EXPECT_EQ(granted.load(), 1);
    EXPECT_FALSE(first->ClaimHealthRound(1030, 60));
    EXPECT_FALSE(second->ClaimHealthRound(1030, 60));
    // The next round is due for whoever comes first, a little early or late.
    EXPECT_TRUE(second->ClaimHealthRound(1058, 60));
    EXPECT_FALSE(first->ClaimHealthRound(1061, 60));
    // A clock set back far does not stop the rounds for good.
    EXPECT_TRUE(first->ClaimHealthRound(990, 60));
}

INSTANTIATE_TEST_SUITE_P(Backends,
                         ProxyStoreTest,
                         ::testing::Values(TBackend::Sqlite, TBackend::Postgres),
                         [](const auto& backend) {
                             return backend.param == TBackend::Sqlite ? "Sqlite" : "Postgres";
                         });

int RunTool(const cloakline::test::TempDir& dir, const std::string& args) {
    const int status = std::system((std::string(CLOAKLINE_INVENTORY_TOOL) + " " + args + " >" + dir.Path() +
                                    "/out.txt 2>" + dir.Path() + "/err.txt")
                                       .c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Only the deploy step changes the schema; servers and the tool's other
// commands refuse a database behind it, and no password shows anywhere.
TEST(PostgresDeploymentTest, AStoreBehindItsMigrationsIsRefusedUntilTheToolMigratesIt) {
    std::string whyNot;
    TPostgresCluster* cluster = Cluster(whyNot);
    if (!cluster) {
        GTEST_SKIP() << "no PostgreSQL here: " << whyNot;
    }
    cloakline::test::TempDir dir;
    cluster->CreateDatabase("deploy");
    // Trust on the socket: the password is never asked for, only carried.
    const std::string db = cluster->Url("deploy") + "&password=s3cret";

    TServerOptions options;
    options.DbPath = db;
    options.Port = 0;
    options.LogPath = dir.Path() + "/server.log";
    {
        TServerApp app(options);
        std::string error;
        EXPECT_FALSE(app.Start(error));
        EXPECT_NE(error.find("cloakline-inventory migrate"), std::string::npos) << error;
        EXPECT_EQ(error.find("s3cret"), std::string::npos) << error;
    }
    EXPECT_EQ(RunTool(dir, "--db '" + db + "' list"), 1);
    EXPECT_NE(ReadAll(dir.Path() + "/err.txt").find("cloakline-inventory migrate"), std::string::npos);
    EXPECT_EQ(ReadAll(dir.Path() + "/err.txt").find("s3cret"), std::string::npos);

    ASSERT_EQ(RunTool(dir, "--db '" + db + "' migrate"), 0) << ReadAll(dir.Path() + "/err.txt");
    EXPECT_EQ(ReadAll(dir.Path() + "/out.txt"), "applied 1 proxies and release\napplied 2 health round\n");
    ASSERT_EQ(RunTool(dir, "--db '" + db + "' migrate"), 0);
    EXPECT_EQ(ReadAll(dir.Path() + "/out.txt"), "schema up to date (version 2)\n");
    EXPECT_EQ(RunTool(dir, "--db '" + db + "' add --address 10.0.0.3:80 --country-code FR --country France"),
              0);

    TServerApp app(options);
    std::string error;
    ASSERT_TRUE(app.Start(error)) << error;
    EXPECT_EQ(app.Store().ListProxies().at(0).Address(), "10.0.0.3:80");
    app.Stop();
    const std::string log = ReadAll(options.LogPath);
    EXPECT_NE(log.find("store postgresql:///deploy?"), std::string::npos) << log;
    EXPECT_EQ(log.find("s3cret"), std::string::npos) << log;
}

TEST(PostgresStoreTest, ConnectionsTheDatabaseDroppedAreReplaced) {
    std::string whyNot;
    TPostgresCluster* cluster = Cluster(whyNot);
    if (!cluster) {
        GTEST_SKIP() << "no PostgreSQL here: " << whyNot;
    }
    cluster->CreateDatabase("dropped");
    const std::string db = cluster->Url("dropped");
    MigrateProxyStore(db);
    auto store = OpenProxyStore(db);
    store->PutProxy(Proxy("10.0.0.1", 80));
    ASSERT_EQ(store->ListProxies().size(), 1u);
    // As a restart of the database would: every other session ends.
    TPgConnection admin(db, "admin");
    admin.Exec(
        "SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
        " WHERE datname = current_database() AND pid <> pg_backend_pid()");
    EXPECT_EQ(store->ListProxies().size(), 1u);
    EXPECT_TRUE(store->ClaimHealthRound(1000, 60));
}

}  // namespace
}  // namespace cloakline::server
