// The server against clients that misbehave: smuggled requests, trickling
// heads, too many connections, a stop while answers are under way. The
// program itself where its process matters, else the service in this process;
// raw sockets on loopback throughout.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "server/HttpService.h"
#include "server/store/SqliteProxyStore.h"
#include "tests/server/ServerTestClient.h"
#include "tests/support/TempDir.h"

namespace cloakline::server {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::ConnectFrom;

bool SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

struct TReceived {
    std::string Bytes;
    bool Closed = false;  // the server ended the connection (not a time-out)
};

// Everything until the server closes the connection, at most 5 s per wait.
TReceived ReadToEnd(int fd) {
    TReceived out;
    char chunk[16384];
    for (;;) {
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n > 0) {
            out.Bytes.append(chunk, static_cast<std::size_t>(n));
            continue;
        }
        out.Closed = n == 0 || errno == ECONNRESET;
        return out;
    }
}

// Reads one whole answer (head and Content-Length body) off fd.
std::string ReadAnswer(int fd, std::string& pending) {
    char chunk[4096];
    for (;;) {
        const std::size_t end = pending.find("\r\n\r\n");
        if (end != std::string::npos) {
            const std::size_t at = pending.find("Content-Length: ");
            const std::size_t length =
                at != std::string::npos && at < end ? std::stoul(pending.substr(at + 16)) : 0;
            if (pending.size() >= end + 4 + length) {
                std::string answer = pending.substr(0, end + 4 + length);
                pending.erase(0, answer.size());
                return answer;
            }
        }
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
            return {};
        }
        pending.append(chunk, static_cast<std::size_t>(n));
    }
}

std::size_t Count(const std::string& text, std::string_view what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

TProxyEntry SuperProxy(std::string host) {
    TProxyEntry e;
    e.Host = std::move(host);
    e.Port = 3128;
    e.CountryCode = "US";
    e.Country = "United States";
    e.Longitude = "1";
    e.Latitude = "2";
    e.IsSuper = true;
    return e;
}

// The cloakline-server program on a free loopback port.
class TServerProcess {
  public:
    TServerProcess(const cloakline::test::TempDir& dir, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {CLOAKLINE_SERVER_PROGRAM,
                                         "--db",
                                         dir.Path() + "/server.db",
                                         "--port",
                                         "0",
                                         "--log",
                                         dir.Path() + "/server.log",
                                         "--flags-dir",
                                         dir.Path() + "/flags",
                                         "--health-interval",
                                         "3600"};
        args.insert(args.end(), extra.begin(), extra.end());
        int out[2];
        if (pipe(out) != 0) {
            return;
        }
        FPid = fork();
        if (FPid == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            std::vector<char*> argv;
            for (std::string& a : args) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        // "cloakline-server listening on http://127.0.0.1:PORT"
        std::string line;
        pollfd p{out[0], POLLIN, 0};
        char c = 0;
        while (line.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0 && read(out[0], &c, 1) == 1) {
            line += c;
        }
        close(out[0]);
        const std::size_t colon = line.rfind(':');
        if (line.find("listening on") != std::string::npos && colon != std::string::npos) {
            FPort = std::stoi(line.substr(colon + 1));
        }
    }
    ~TServerProcess() {
        if (FPid > 0 && !FEnded) {
            kill(FPid, SIGKILL);
            waitpid(FPid, nullptr, 0);
        }
    }

    int Port() const { return FPort; }
    void Signal(int signal) const { kill(FPid, signal); }
    // The exit code once it ended within limit; -1 when it did not.
    int WaitExit(std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            int status = 0;
            if (waitpid(FPid, &status, WNOHANG) == FPid) {
                FEnded = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

  private:
    pid_t FPid = -1;
    int FPort = -1;
    bool FEnded = false;
};

// Room for a thousand and more sockets in this process (and the program it starts).
bool RaiseOpenFileLimit(rlim_t wanted) {
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    return setrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur >= wanted;
}

TEST(ServerFaultsTest, ABodyOnAGetIsNeverReadAsTheNextRequest) {
    cloakline::test::TempDir dir;
    {
        TSqliteProxyStore store(dir.Path() + "/server.db");
        store.PutProxy(SuperProxy("10.0.0.7"));
        store.PutProxy(SuperProxy("10.0.0.8"));
    }
    TServerProcess server(dir);
    ASSERT_GT(server.Port(), 0);

    const std::string smuggled = "GET /touch?ip=10.0.0.7 HTTP/1.1\r\nHost: x\r\n\r\n";
    const int fd = ConnectFrom("127.0.0.1", server.Port());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, "GET /health HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                                std::to_string(smuggled.size()) + "\r\n\r\n" + smuggled));
    const TReceived got = ReadToEnd(fd);
    close(fd);
    EXPECT_TRUE(got.Closed) << "the connection stays open after the refusal";
    EXPECT_EQ(got.Bytes.rfind("HTTP/1.1 400 ", 0), 0u) << got.Bytes;
    EXPECT_EQ(Count(got.Bytes, "HTTP/1.1 "), 1u) << got.Bytes;

    // A touch asked for in the open is recorded; touches are written in
    // batches, so the server is ended (which writes the rest) before looking.
    const int direct = ConnectFrom("127.0.0.1", server.Port());
    ASSERT_TRUE(SendAll(direct, "GET /touch?ip=10.0.0.8 HTTP/1.1\r\nHost: x\r\n\r\n"));
    std::string pending;
    EXPECT_EQ(ReadAnswer(direct, pending).rfind("HTTP/1.1 200 ", 0), 0u);
    close(direct);
    server.Signal(SIGTERM);
    ASSERT_EQ(server.WaitExit(std::chrono::seconds(6)), 0);
    const auto proxies = TSqliteProxyStore(dir.Path() + "/server.db").ListProxies();
    ASSERT_EQ(proxies.size(), 2u);
    EXPECT_FALSE(proxies.at(0).LastTouch) << "the smuggled touch ran";
    EXPECT_TRUE(proxies.at(1).LastTouch);
}

TEST(ServerFaultsTest, AThousandTricklingClientsDoNotHoldUpAnother) {
    if (!RaiseOpenFileLimit(1100)) {
        GTEST_SKIP() << "the hard limit of open files is below 1100";
    }
    cloakline::test::TempDir dir;
    TServerProcess server(dir);
    ASSERT_GT(server.Port(), 0);
    // Forty connections from each of 25 addresses: under the cap per client.
    std::vector<int> slow;
    for (int i = 0; i < 1000; ++i) {
        const int fd = ConnectFrom("127.0.7." + std::to_string(1 + i / 40), server.Port());
        ASSERT_GE(fd, 0) << i;
        slow.push_back(fd);
    }
    // Each sends one byte a second, the thousand spread over the second as
    // independent clients would be; another client asks in the middle of it.
    const std::string head = "GET /health HTTP/1.1\r\nHost: x\r\n\r\n";
    for (std::size_t second = 0; second < 4; ++second) {
        const auto secondStart = Clock::now();
        for (std::size_t slice = 0; slice < 10; ++slice) {
            std::this_thread::sleep_until(secondStart + slice * 100ms);
            for (std::size_t i = slice; i < slow.size(); i += 10) {
                ASSERT_TRUE(SendAll(slow[i], head.substr(second, 1)));
            }
            if (slice != 5) {
                continue;
            }
            const auto asked = Clock::now();
            const int fd = ConnectFrom("127.0.0.1", server.Port());
            ASSERT_GE(fd, 0);
            ASSERT_TRUE(SendAll(fd, "GET /health?detail=1 HTTP/1.1\r\nHost: x\r\n\r\n"));
            std::string pending;
            const std::string answer = ReadAnswer(fd, pending);
            const auto took = Clock::now() - asked;
            close(fd);
            EXPECT_EQ(answer.rfind("HTTP/1.1 200 ", 0), 0u) << answer;
            EXPECT_LT(took, 100ms) << "second " << second;
            // The slow ones are all still there, waiting.
            const std::size_t at = answer.find("connections=");
            ASSERT_NE(at, std::string::npos) << answer;
            EXPECT_GE(std::stoul(answer.substr(at + 12)), 1000u) << answer;
        }
    }
    for (const int fd : slow) {
        close(fd);
    }
}

TEST(ServerFaultsTest, SigtermFinishesTheAnswerUnderWayClosesTheRestAndEndsWithZero) {
    if (!RaiseOpenFileLimit(1100)) {
        GTEST_SKIP() << "the hard limit of open files is below 1100";
    }
    cloakline::test::TempDir dir;
    // A picture far larger than the socket buffers, so its answer is still
    // being sent while the client holds back.
    const std::string picture(24u << 20, 'p');
    dir.WriteFile("flags/DE.PNG", picture);
    TServerProcess server(dir);
    ASSERT_GT(server.Port(), 0);

    const int big = ConnectFrom("127.0.0.1", server.Port(), 4096);
    ASSERT_GE(big, 0);
    ASSERT_TRUE(SendAll(big, "GET /flags/DE.PNG HTTP/1.1\r\nHost: x\r\n\r\n"));
    std::string received(4096, '\0');
    const ssize_t first = recv(big, received.data(), received.size(), 0);
    ASSERT_GT(first, 0);
    received.resize(static_cast<std::size_t>(first));
    ASSERT_EQ(received.rfind("HTTP/1.1 200 ", 0), 0u);

    std::vector<int> slow;
    for (int i = 0; i < 1000; ++i) {
        const int fd = ConnectFrom("127.0.8." + std::to_string(1 + i / 40), server.Port());
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(SendAll(fd, i % 2 == 0 ? "GET /hea" : "GET /health HTTP/1.1\r\nHost: x\r\n\r\n"));
        slow.push_back(fd);
    }
    // The kept-alive ones have their answer before the stop.
    for (std::size_t i = 1; i < slow.size(); i += 2) {
        std::string pending;
        ASSERT_EQ(ReadAnswer(slow[i], pending).rfind("HTTP/1.1 200 ", 0), 0u);
    }

    const auto signalled = Clock::now();
    server.Signal(SIGTERM);
    // The slow and the idle are closed while the big answer is still held
    // back by this client, so not by the end of the process.
    for (const int fd : slow) {
        const TReceived rest = ReadToEnd(fd);
        EXPECT_TRUE(rest.Closed);
        EXPECT_EQ(rest.Bytes, "");
        close(fd);
    }
    const TReceived rest = ReadToEnd(big);
    close(big);
    received += rest.Bytes;
    EXPECT_TRUE(rest.Closed);
    const std::size_t body = received.find("\r\n\r\n");
    ASSERT_NE(body, std::string::npos);
    EXPECT_EQ(received.size() - body - 4, picture.size()) << "the answer under way is delivered whole";

    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(6s - (Clock::now() - signalled));
    EXPECT_EQ(server.WaitExit(std::max(left, 0ms)), 0) << "ends with 0 within 6 s of SIGTERM";
}

// The service in this process, with limits small enough to reach in a test.
class ServiceLimitsTest : public ::testing::Test {
  protected:
    void Start(THttpServiceSettings settings) {
        Store = std::make_unique<TSqliteProxyStore>(Dir.Path() + "/server.db");
        Log = std::make_unique<TServerLog>(Dir.Path() + "/server.log");
        Locator = std::make_unique<TAddressLocator>(TAddressRanges{}, nullptr);
        Service = std::make_unique<THttpService>(*Store, *Locator, *Log);
        Port = Service->Bind("127.0.0.1", 0);
        ASSERT_GT(Port, 0);
        settings.FlagsDir = Dir.Path();
        Service->Configure(std::move(settings));
        Serving = std::thread([this] { Service->Run(); });
        ASSERT_TRUE(Service->WaitRunning(5s));
    }
    ~ServiceLimitsTest() override {
        if (Service) {
            Service->Stop();
        }
        if (Serving.joinable()) {
            Serving.join();
        }
    }

    cloakline::test::TempDir Dir;
    std::unique_ptr<TSqliteProxyStore> Store;
    std::unique_ptr<TServerLog> Log;
    std::unique_ptr<TAddressLocator> Locator;
    std::unique_ptr<THttpService> Service;
    std::thread Serving;
    int Port = -1;
};

TEST_F(ServiceLimitsTest, ConnectionsPerClientRequestsPerConnectionAndTheHeadDeadline) {
    THttpServiceSettings settings;
    settings.MaxConnectionsPerClient = 3;
    settings.MaxRequestsPerConnection = 5;
    settings.Deadlines.Head = 300ms;
    Start(settings);
    const std::string request = "GET /health HTTP/1.1\r\nHost: x\r\n\r\n";

    std::vector<int> held;
    for (int i = 0; i < 3; ++i) {
        held.push_back(ConnectFrom("127.0.0.5", Port));
        ASSERT_TRUE(SendAll(held.back(), request));
        std::string pending;
        ASSERT_EQ(ReadAnswer(held.back(), pending).rfind("HTTP/1.1 200 ", 0), 0u);
    }
    const int over = ConnectFrom("127.0.0.5", Port);
    SendAll(over, request);
    const TReceived refused = ReadToEnd(over);
    close(over);
    EXPECT_TRUE(refused.Closed);
    EXPECT_EQ(refused.Bytes, "") << "the fourth of one client is closed unanswered";
    const int other = ConnectFrom("127.0.0.6", Port);
    ASSERT_TRUE(SendAll(other, request));
    std::string pending;
    EXPECT_EQ(ReadAnswer(other, pending).rfind("HTTP/1.1 200 ", 0), 0u) << "another client is served";
    close(other);
    close(held.back());
    held.pop_back();
    // Once a connection of the client has ended, its place is free again.
    std::string again;
    for (int attempt = 0; attempt < 50 && again.empty(); ++attempt) {
        const int fd = ConnectFrom("127.0.0.5", Port);
        SendAll(fd, request);
        pending.clear();
        again = ReadAnswer(fd, pending);
        close(fd);
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(again.rfind("HTTP/1.1 200 ", 0), 0u);
    EXPECT_NE(Dir.ReadFile("server.log").find("connection from 127.0.0.5 closed: over 3 open connections"),
              std::string::npos)
        << Dir.ReadFile("server.log");

    // Five requests at once on one connection: five answers, the last one closing.
    const int kept = ConnectFrom("127.0.0.6", Port);
    ASSERT_TRUE(SendAll(kept, request + request + request + request + request + request));
    const TReceived answers = ReadToEnd(kept);
    close(kept);
    EXPECT_TRUE(answers.Closed);
    EXPECT_EQ(Count(answers.Bytes, "HTTP/1.1 200 "), 5u) << answers.Bytes;
    EXPECT_EQ(Count(answers.Bytes, "Connection: close"), 1u) << answers.Bytes;
    EXPECT_GT(answers.Bytes.rfind("Connection: close"), answers.Bytes.rfind("HTTP/1.1 200 "));

    // A head that never ends is closed at its deadline, unanswered.
    const int trickle = ConnectFrom("127.0.0.7", Port);
    ASSERT_TRUE(SendAll(trickle, "GET /hea"));
    const TReceived cut = ReadToEnd(trickle);
    close(trickle);
    EXPECT_TRUE(cut.Closed);
    EXPECT_EQ(cut.Bytes, "");
    for (const int fd : held) {
        close(fd);
    }
}

// A store whose reads fail, as a locked or lost database does.
class TFailingStore final : public TSqliteProxyStore {
  public:
    using TSqliteProxyStore::TSqliteProxyStore;
    std::vector<TProxyEntry> HealthyProxies() override { throw TStoreError("database is locked"); }
};

TEST_F(ServiceLimitsTest, ABalancersWordOnTheClientIsTakenOnlyFromATrustedPeer) {
    THttpServiceSettings settings;
    settings.TrustedProxies = {"127.0.0.1"};
    settings.MaxConnectionsPerClient = 2;
    Start(settings);
    const auto ask = [this](const std::string& from, const std::string& bytes) {
        const int fd = ConnectFrom(from, Port);
        SendAll(fd, bytes);
        const TReceived got = ReadToEnd(fd);
        close(fd);
        return got.Bytes;
    };
    const std::string checkIp = "GET /checkip HTTP/1.1\r\nHost: x\r\nConnection: close\r\n";
    EXPECT_NE(ask("127.0.0.1", "PROXY TCP4 203.0.113.9 127.0.0.1 5555 80\r\n" + checkIp + "\r\n")
                  .find("<span id=\"ip\">203.0.113.9</span>"),
              std::string::npos);
    EXPECT_NE(ask("127.0.0.1", checkIp + "X-Forwarded-For: 198.51.100.4\r\n\r\n")
                  .find("<span id=\"ip\">198.51.100.4</span>"),
              std::string::npos);
    EXPECT_NE(ask("127.0.0.2", checkIp + "X-Forwarded-For: 198.51.100.4\r\n\r\n")
                  .find("<span id=\"ip\">127.0.0.2</span>"),
              std::string::npos);
    EXPECT_EQ(ask("127.0.0.2", "PROXY TCP4 203.0.113.9 127.0.0.1 5555 80\r\n" + checkIp + "\r\n")
                  .rfind("HTTP/1.1 400 ", 0),
              0u);
    // The balancer's own connections are not capped (two per client here).
    std::vector<int> balancer;
    for (int i = 0; i < 3; ++i) {
        balancer.push_back(ConnectFrom("127.0.0.1", Port));
        ASSERT_TRUE(SendAll(balancer.back(), "GET /health HTTP/1.1\r\nHost: x\r\n\r\n"));
    }
    for (const int fd : balancer) {
        std::string pending;
        EXPECT_EQ(ReadAnswer(fd, pending).rfind("HTTP/1.1 200 ", 0), 0u);
        close(fd);
    }
}

TEST(ServiceStoreTest, AFailingStoreGives503AndIsCountedOnTheHealthDetail) {
    cloakline::test::TempDir dir;
    TFailingStore store(dir.Path() + "/server.db");
    TServerLog log(dir.Path() + "/server.log");
    const TAddressLocator locator(TAddressRanges{}, nullptr);
    THttpService service(store, locator, log);
    const int port = service.Bind("127.0.0.1", 0);
    ASSERT_GT(port, 0);
    service.Configure({});
    std::thread serving([&service] { service.Run(); });
    ASSERT_TRUE(service.WaitRunning(5s));

    const int fd = ConnectFrom("127.0.0.1", port);
    ASSERT_TRUE(SendAll(fd, "GET /update?ACTION=Update&PID=CLK&VER=01000001 HTTP/1.1\r\nHost: x\r\n\r\n"));
    const TReceived failed = ReadToEnd(fd);
    close(fd);
    EXPECT_EQ(failed.Bytes.rfind("HTTP/1.1 503 ", 0), 0u) << failed.Bytes;
    EXPECT_NE(dir.ReadFile("server.log").find("503 GET /update from 127.0.0.1: store: database is locked"),
              std::string::npos)
        << dir.ReadFile("server.log");

    const int health = ConnectFrom("127.0.0.1", port);
    ASSERT_TRUE(SendAll(health, "GET /health?detail=1 HTTP/1.1\r\nHost: x\r\n\r\n"));
    std::string pending;
    const std::string detail = ReadAnswer(health, pending);
    close(health);
    // The refused connection may still be closing, so the count of open
    // connections is not pinned down here.
    EXPECT_NE(detail.find("\r\n\r\nstatus=ok\nconnections="), std::string::npos) << detail;
    EXPECT_NE(detail.find("\nlog_write_failures=0\nstore_failures=1\n"), std::string::npos) << detail;
    service.Stop();
    serving.join();
}

}  // namespace
}  // namespace cloakline::server
