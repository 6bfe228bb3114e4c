#include "server/HttpService.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "core/support/TextEncoding.h"
#include "server/core/Requests.h"

namespace cloakline::server {

namespace {

constexpr std::string_view kText = "text/plain; charset=utf-8";
constexpr std::string_view kHtml = "text/html; charset=utf-8";

// Why the current request was refused, for the log line written after it.
thread_local std::string tRefusal;

void Refuse(httplib::Response& res, int status, std::string reason) {
    res.status = status;
    res.body.clear();
    tRefusal = std::move(reason);
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return std::move(bytes).str();
}

// A connection's socket that yields at most a budget of bytes per request:
// the library reads header lines without a limit of its own.
class TBoundedStream final : public httplib::Stream {
  public:
    TBoundedStream(int fd, int readTimeoutMs, int writeTimeoutMs)
        : FFd(fd), FReadTimeoutMs(readTimeoutMs), FWriteTimeoutMs(writeTimeoutMs) {}

    void Refill(std::size_t budget) { FBudget = budget; }
    // A read found the budget spent: the request was cut off, and what follows
    // on the connection is no request.
    bool Exhausted() const { return FExhausted; }
    bool HasBuffered() const { return FStart < FEnd; }

    bool is_readable() const override { return HasBuffered() || Wait(POLLIN, FReadTimeoutMs); }
    bool is_writable() const override { return Wait(POLLOUT, FWriteTimeoutMs); }

    ssize_t read(char* ptr, size_t size) override {
        if (!HasBuffered()) {
            if (FBudget == 0) {
                FExhausted = true;
                return -1;
            }
            if (!Wait(POLLIN, FReadTimeoutMs)) {
                return -1;
            }
            ssize_t n = 0;
            do {
                n = ::recv(FFd, FBuffer, std::min(sizeof FBuffer, FBudget), 0);
            } while (n < 0 && errno == EINTR);
            if (n <= 0) {
                return n;
            }
            FBudget -= static_cast<std::size_t>(n);
            FStart = 0;
            FEnd = static_cast<std::size_t>(n);
        }
        const std::size_t taken = std::min(size, FEnd - FStart);
        std::memcpy(ptr, FBuffer + FStart, taken);
        FStart += taken;
        return static_cast<ssize_t>(taken);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!Wait(POLLOUT, FWriteTimeoutMs)) {
            return -1;
        }
        ssize_t n = 0;
        do {
            n = ::send(FFd, ptr, size, MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        return n;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { Name(::getpeername, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { Name(::getsockname, ip, port); }
    socket_t socket() const override { return FFd; }

  private:
    bool Wait(short events, int timeoutMs) const {
        pollfd p{FFd, events, 0};
        int rc = 0;
        do {
            rc = ::poll(&p, 1, timeoutMs);
        } while (rc < 0 && errno == EINTR);
        return rc > 0;
    }
    template <class F>
    void Name(F get, std::string& ip, int& port) const {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (get(FFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        char text[INET6_ADDRSTRLEN] = {};
        if (address.ss_family == AF_INET) {
            const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
            inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
            port = ntohs(v4->sin_port);
        } else if (address.ss_family == AF_INET6) {
            const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
            inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
            port = ntohs(v6->sin6_port);
        }
        ip = text;
    }

    const int FFd;
    const int FReadTimeoutMs;
    const int FWriteTimeoutMs;
    std::size_t FBudget = 0;
    bool FExhausted = false;
    char FBuffer[4096];
    std::size_t FStart = 0;
    std::size_t FEnd = 0;
};

// The library's server with each request read through a bounded stream.
class TBoundedServer final : public httplib::Server {
  public:
    static constexpr int kReadTimeoutMs = 5000;
    static constexpr int kWriteTimeoutMs = 5000;
    static constexpr int kKeepAliveMs = 5000;
    static constexpr std::size_t kKeepAliveRequests = 1000;

  private:
    bool process_and_close_socket(socket_t sock) override {
        const int on = 1;
        setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        bool ok = false;
        {
            TBoundedStream stream(sock, kReadTimeoutMs, kWriteTimeoutMs);
            for (std::size_t left = kKeepAliveRequests; left > 0 && NextRequestArrives(stream); --left) {
                stream.Refill(kMaxHeadBytes + kMaxBodyBytes);
                bool closed = false;
                ok = process_request(stream, left == 1, closed, [](httplib::Request&) {});
                if (!ok || closed || stream.Exhausted()) {
                    break;
                }
            }
        }
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        return ok;
    }

    // Waits for the next request of a kept-alive connection, looking up
    // whether the server is stopping every tenth of a second.
    bool NextRequestArrives(const TBoundedStream& stream) const {
        if (stream.HasBuffered()) {
            return true;
        }
        for (int waited = 0; waited < kKeepAliveMs && is_running(); waited += 100) {
            pollfd p{stream.socket(), POLLIN, 0};
            const int rc = ::poll(&p, 1, 100);
            if (rc > 0) {
                return true;
            }
            if (rc < 0 && errno != EINTR) {
                return false;
            }
        }
        return false;
    }
};

}  // namespace

struct THttpService::TImpl {
    IProxyStore& Store;
    const TAddressLocator& Locator;
    TServerLog& Log;
    THttpServiceSettings Settings;
    TBoundedServer Http;
    std::atomic<bool> Started{false};
    std::atomic<bool> Finished{false};

    TImpl(IProxyStore& store, const TAddressLocator& locator, TServerLog& log)
        : Store(store), Locator(locator), Log(log) {}

    // The decoded parameters; nullopt (and the answer set) for a broken target.
    static std::optional<TQuery> QueryOf(const httplib::Request& req, httplib::Response& res) {
        auto query = TQuery::Parse(req.target);
        if (!query) {
            Refuse(res, 400, "broken percent-encoding or a line break in the parameters");
        }
        return query;
    }

    void AnswerUpdate(const TQuery& query, httplib::Response& res) {
        std::string reason;
        const auto request = ReadUpdateRequest(query, reason);
        if (!request) {
            Refuse(res, 400, "update: " + reason);
            return;
        }
        TUpdateAnswerInput input;
        input.MagicWord = Settings.MagicWord;
        input.Release = Store.Release();
        input.ClientVersion = request->ClientVersion;
        input.Proxies = Store.HealthyProxies();
        input.Pages = Settings.Pages;
        res.set_content(BuildUpdateAnswer(input), std::string(kText));
    }

    void AnswerSitePage(const std::string& page, httplib::Response& res) {
        res.set_content(BuildSitePage(page), std::string(kHtml));
    }

    void Routes() {
        Http.Get("/getinfo", [this](const httplib::Request& req, httplib::Response& res) {
            const auto query = QueryOf(req, res);
            if (!query) {
                return;
            }
            const auto word = query->Get("MagicWord");
            if (!word || !SameTextAscii(*word, Settings.MagicWord)) {
                // An empty refusal is what the program takes for no answer.
                Refuse(res, 403, word ? "getinfo: wrong MagicWord" : "getinfo: no MagicWord");
                return;
            }
            res.set_content(BuildLocalInfoAnswer(req.remote_addr, Locator.Find(req.remote_addr)),
                            std::string(kText));
        });
        Http.Get("/update", [this](const httplib::Request& req, httplib::Response& res) {
            if (const auto query = QueryOf(req, res)) {
                AnswerUpdate(*query, res);
            }
        });
        Http.Get("/redirect", [this](const httplib::Request& req, httplib::Response& res) {
            const auto query = QueryOf(req, res);
            if (!query) {
                return;
            }
            const std::string action = query->Get("ACTION").value_or("");
            if (SameTextAscii(action, "Update")) {
                AnswerUpdate(*query, res);
                return;
            }
            const std::string page = SitePageOfAction(action);
            if (page.empty()) {
                Refuse(res, 404, "redirect: no page for ACTION " + action);
                return;
            }
            AnswerSitePage(page, res);
        });
        for (const std::string page : {"home", "help", "support", "eula", "privacy"}) {
            Http.Get("/" + page, [this, page](const httplib::Request& req, httplib::Response& res) {
                if (QueryOf(req, res)) {
                    AnswerSitePage(SitePageOfAction(page), res);
                }
            });
        }
        Http.Get("/checkip", [this](const httplib::Request& req, httplib::Response& res) {
            res.set_content(BuildCheckIpPage(req.remote_addr, Locator.Find(req.remote_addr)),
                            std::string(kHtml));
        });
        Http.Get("/health", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("ok", std::string(kText));
        });
        Http.Get("/touch", [this](const httplib::Request& req, httplib::Response& res) {
            const auto query = QueryOf(req, res);
            if (!query) {
                return;
            }
            const auto target = ReadTouchTarget(query->Get("ip").value_or(""));
            if (!target) {
                Refuse(res, 400, "touch: ip is not a proxy address");
                return;
            }
            if (Store.RecordTouch(target->Host, target->Port,
                                  static_cast<std::int64_t>(std::time(nullptr))) == 0) {
                Refuse(res, 404, "touch: no super proxy " + *query->Get("ip"));
                return;
            }
            res.set_content("ok", std::string(kText));
        });
        Http.Get(R"(/flags/([^/]*))", [this](const httplib::Request& req, httplib::Response& res) {
            const std::string code = FlagCodeOfFileName(req.matches[1].str());
            if (code.empty()) {
                Refuse(res, 400, "flags: not a flag name");
                return;
            }
            const auto bytes = ReadWholeFile(Settings.FlagsDir + "/" + code + ".PNG");
            if (!bytes) {
                Refuse(res, 404, "flags: no picture for " + code);
                return;
            }
            res.set_content(*bytes, "image/png");
        });
    }

    void Guards() {
        Http.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
            if (req.target.size() > kMaxTargetBytes) {
                Refuse(res, 414, "target longer than " + std::to_string(kMaxTargetBytes) + " bytes");
                return httplib::Server::HandlerResponse::Handled;
            }
            if (req.method != "GET" && req.method != "HEAD") {
                Refuse(res, 405, "method " + req.method);
                res.set_header("Connection", "close");
                return httplib::Server::HandlerResponse::Handled;
            }
            // A body on a GET is not read, so its bytes would pose as the next
            // request on the connection: refuse it and close.
            if (req.has_header("Transfer-Encoding") ||
                req.get_header_value<std::uint64_t>("Content-Length") > 0) {
                const bool large = req.get_header_value<std::uint64_t>("Content-Length") > kMaxBodyBytes;
                Refuse(res, large ? 413 : 400, large ? "body too large" : "a body on a GET");
                res.set_header("Connection", "close");
                return httplib::Server::HandlerResponse::Handled;
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });
        Http.set_exception_handler(
            [](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
                std::string what = "unknown failure";
                try {
                    std::rethrow_exception(ep);
                } catch (const std::exception& e) {
                    what = e.what();
                } catch (...) {
                }
                Refuse(res, 500, "failure: " + what);
            });
        Http.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
            if (res.status < 400) {
                tRefusal.clear();
                return;
            }
            // Requests refused before they were read (a request line too long) have no method yet.
            const std::string what = req.method.empty()
                                         ? "(unread request)"
                                         : req.method.substr(0, 16) + " " + req.path.substr(0, 200);
            Log.Line(std::to_string(res.status) + " " + what + " from " +
                     (req.remote_addr.empty() ? "?" : req.remote_addr) +
                     (tRefusal.empty() ? std::string() : ": " + tRefusal));
            tRefusal.clear();
        });
        // Headers and body go out in separate writes; without this the second
        // waits for the client's delayed acknowledgement (some 40 ms).
        Http.set_tcp_nodelay(true);
        Http.set_payload_max_length(kMaxBodyBytes);
    }
};

THttpService::THttpService(IProxyStore& store, const TAddressLocator& locator, TServerLog& log)
    : FImpl(std::make_unique<TImpl>(store, locator, log)) {
    FImpl->Guards();
    FImpl->Routes();
}

THttpService::~THttpService() {
    Stop();
}

int THttpService::Bind(const std::string& address, int port) {
    if (port == 0) {
        return FImpl->Http.bind_to_any_port(address);
    }
    return FImpl->Http.bind_to_port(address, port) ? port : -1;
}

void THttpService::Configure(THttpServiceSettings settings) {
    const int threads = settings.Threads;
    FImpl->Settings = std::move(settings);
    FImpl->Http.new_task_queue = [threads] {
        return new httplib::ThreadPool(static_cast<std::size_t>(threads));
    };
}

void THttpService::Run() {
    FImpl->Started = true;
    FImpl->Http.listen_after_bind();
    FImpl->Finished = true;
}

bool THttpService::WaitRunning(std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!FImpl->Http.is_running()) {
        if (FImpl->Finished.load() || std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void THttpService::Stop() {
    if (FImpl->Started.load()) {
        WaitRunning(std::chrono::seconds(5));
    }
    FImpl->Http.stop();
}

}  // namespace cloakline::server
