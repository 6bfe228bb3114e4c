#include "server/HttpService.h"

#include <httplib.h>

#include <atomic>
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

}  // namespace

struct THttpService::TImpl {
    IProxyStore& Store;
    const TAddressLocator& Locator;
    TServerLog& Log;
    THttpServiceSettings Settings;
    httplib::Server Http;
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
        Http.set_payload_max_length(kMaxBodyBytes);
        Http.set_read_timeout(5, 0);
        Http.set_write_timeout(5, 0);
        Http.set_keep_alive_max_count(1000);
        Http.set_keep_alive_timeout(5);
        // An idle kept-alive connection looks up this often whether the server is stopping.
        Http.set_idle_interval(0, 100'000);
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
