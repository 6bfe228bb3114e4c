// The server deployed past one machine, as server/README.md describes it:
// one PostgreSQL store, two server processes, HAProxy in front; all real
// programs on loopback.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/PostgresCluster.h"
#include "tests/support/SpawnedProgram.h"
#include "tests/support/TempDir.h"
#include "tests/support/TinyProxy.h"

namespace cloakline::test {
namespace {

constexpr const char* kUpdateTarget =
    "/update?ACTION=Update&12345&PID=CLK&LANG=English&DAY=0&RUNTIME=0&VER=01000001&SVER=0&WVER=6_1_&WLANG="
    "1033";
constexpr const char* kGetInfoTarget = "/getinfo?MagicWord=cloakline-reference";
// The load's clients leave from here, so the answers show whether the
// servers learnt the client's address through the balancer.
constexpr const char* kClientAddress = "127.0.0.77";

struct TToolRun {
    bool Ok = false;
    std::string Output;
};

TToolRun RunTool(const std::vector<std::string>& arguments) {
    std::string command;
    for (const std::string& argument : arguments) {
        command += "'" + argument + "' ";
    }
    TToolRun run;
    if (FILE* pipe = ::popen((command + "2>&1").c_str(), "r")) {
        char chunk[4096];
        while (const std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe)) {
            run.Output.append(chunk, n);
        }
        run.Ok = ::pclose(pipe) == 0;
    }
    return run;
}

std::string UtcText(std::time_t at) {
    std::tm utc{};
    gmtime_r(&at, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// The checked= time that the inventory lists for address.
std::string CheckedAt(const std::string& listing, const std::string& address) {
    const std::size_t line = listing.find(address + "\t");
    const std::size_t field = listing.find("checked=", line);
    if (line == std::string::npos || field == std::string::npos) {
        return {};
    }
    const std::size_t begin = field + 8;
    return listing.substr(begin, listing.find('\t', begin) - begin);
}

struct TLoadTally {
    std::atomic<long> Requests{0};
    std::atomic<long> Failures{0};
    std::atomic<long> WrongClient{0};
};

// One client with a kept-alive connection, alternating the update answer and
// the local information until stop.
void SendUntil(const std::string& base, const std::atomic<bool>& stop, TLoadTally& tally) {
    CURL* curl = curl_easy_init();
    std::string body;
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 5000L);
    curl_easy_setopt(curl, CURLOPT_INTERFACE, kClientAddress);
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION, +[](char* data, std::size_t size, std::size_t count, void* user) {
            static_cast<std::string*>(user)->append(data, size * count);
            return size * count;
        });
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    for (long n = 0; !stop.load(); ++n) {
        const bool update = n % 2 == 0;
        const std::string url = base + (update ? kUpdateTarget : kGetInfoTarget);
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        body.clear();
        long status = 0;
        const bool answered = curl_easy_perform(curl) == CURLE_OK &&
                              curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK &&
                              status == 200;
        ++tally.Requests;
        if (!answered || body.find(update ? "magicword=" : "IP=") == std::string::npos) {
            ++tally.Failures;
        } else if (!update && body.find(std::string("IP=") + kClientAddress) == std::string::npos) {
            ++tally.WrongClient;
        }
    }
    curl_easy_cleanup(curl);
}

bool Answers(const std::string& url) {
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 2000L);
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    long status = 0;
    const bool ok = curl_easy_perform(curl) == CURLE_OK &&
                    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 200;
    curl_easy_cleanup(curl);
    return ok;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

class DeploymentTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { curl_global_init(CURL_GLOBAL_ALL); }

    void SetUp() override {
        if (std::system("command -v haproxy >/dev/null 2>&1") != 0 || !TTinyProxy::Installed()) {
            GTEST_SKIP() << "needs haproxy and tinyproxy (scripts/setup.sh installs them)";
        }
        std::string whyNot;
        Postgres = TPostgresCluster::Start(whyNot);
        if (!Postgres) {
            GTEST_SKIP() << "no PostgreSQL: " << whyNot;
        }
        Postgres->CreateDatabase("cloakline");
        Db = Postgres->Url("cloakline");
    }

    std::unique_ptr<TSpawnedProgram> StartServer(std::uint16_t port, const std::string& name) {
        return std::make_unique<TSpawnedProgram>(
            std::vector<std::string>{CLOAKLINE_SERVER_PROGRAM, "--db", Db, "--listen", "127.0.0.1", "--port",
                                     std::to_string(port), "--trusted-proxy", "127.0.0.1",
                                     "--health-interval", "1", "--log", Dir.Path() + "/" + name + ".log"},
            Dir.Path() + "/" + name + ".out");
    }

    TempDir Dir;
    std::unique_ptr<TPostgresCluster> Postgres;
    std::string Db;
};

TEST_F(DeploymentTest, ASecondServerTakesTheLoadAndTheHealthRoundsWhenOneIsKilled) {
    TTinyProxy live(Dir);
    ASSERT_TRUE(live.WaitListening(std::chrono::seconds(5)));
    const std::string liveAddress = live.Proxy();
    Dir.WriteFile("inventory.csv",
                  liveAddress + ",DE,Germany,10.45,51.17,0\n127.0.0.1:9,US,United States,-97.82,37.75,1\n");
    const std::string inventory = CLOAKLINE_INVENTORY_TOOL;
    for (const auto& step :
         {std::vector<std::string>{inventory, "--db", Db, "migrate"},
          std::vector<std::string>{inventory, "--db", Db, "import", Dir.Path() + "/inventory.csv"}}) {
        const TToolRun run = RunTool(step);
        ASSERT_TRUE(run.Ok) << run.Output;
    }
    const auto checkedAt = [&] {
        return CheckedAt(RunTool({inventory, "--db", Db, "list"}).Output, liveAddress);
    };

    const std::uint16_t first = UnusedLoopbackPort();
    const std::uint16_t second = UnusedLoopbackPort();
    const std::uint16_t frontend = UnusedLoopbackPort();
    auto one = StartServer(first, "server1");
    auto two = StartServer(second, "server2");
    ASSERT_TRUE(WaitLoopbackPort(first, std::chrono::seconds(10))) << one->Log();
    ASSERT_TRUE(WaitLoopbackPort(second, std::chrono::seconds(10))) << two->Log();
    TSpawnedProgram balancer({"haproxy", "-db", "-f", CLOAKLINE_HAPROXY_CONFIG}, Dir.Path() + "/haproxy.out",
                             {{"CLOAKLINE_FRONTEND", "127.0.0.1:" + std::to_string(frontend)},
                              {"CLOAKLINE_SERVER1", "127.0.0.1:" + std::to_string(first)},
                              {"CLOAKLINE_SERVER2", "127.0.0.1:" + std::to_string(second)}});
    const std::string base = "http://127.0.0.1:" + std::to_string(frontend);
    ASSERT_TRUE(WaitFor([&] { return Answers(base + "/health"); }, std::chrono::seconds(10)))
        << balancer.Log();
    // The first round has checked the live proxy, so the answers carry it.
    ASSERT_TRUE(WaitFor([&] { return checkedAt().starts_with("20"); }, std::chrono::seconds(10)));

    TLoadTally tally;
    std::atomic<bool> stop{false};
    std::vector<std::thread> clients;
    for (int i = 0; i < 6; ++i) {
        clients.emplace_back([&] { SendUntil(base, stop, tally); });
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const long beforeKill = tally.Requests.load();
    ASSERT_TRUE(one->KillHard());
    const std::time_t killedAt = std::time(nullptr);
    std::this_thread::sleep_for(std::chrono::seconds(4));
    stop = true;
    for (std::thread& client : clients) {
        client.join();
    }

    const long requests = tally.Requests.load();
    std::printf("%ld requests through the balancer, %ld failed\n", requests, tally.Failures.load());
    EXPECT_GT(requests, beforeKill);
    EXPECT_LT(tally.Failures.load() * 1000, requests)
        << tally.Failures.load() << " of " << requests << " requests failed\n"
        << balancer.Log();
    // The PROXY protocol header carried the client's address to the servers.
    EXPECT_EQ(tally.WrongClient.load(), 0);

    // The other process runs the rounds now that the first is gone.
    const std::string after = UtcText(killedAt + 1);
    EXPECT_TRUE(WaitFor([&] { return checkedAt() >= after; }, std::chrono::seconds(10)))
        << RunTool({inventory, "--db", Db, "list"}).Output << two->Log();
    EXPECT_TRUE(two->Running());
}

}  // namespace
}  // namespace cloakline::test
