#include "server/HealthChecker.h"

#include <curl/curl.h>

#include <atomic>
#include <ctime>
#include <vector>

namespace cloakline::server {

namespace {

constexpr std::size_t kMaxHealthBody = 64 * 1024;

std::size_t KeepNothing(char*, std::size_t size, std::size_t count, void* user) {
    auto* total = static_cast<std::size_t*>(user);
    *total += size * count;
    // A body past the limit ends the transfer: the proxy answered, and that is all we need.
    return *total > kMaxHealthBody ? 0 : size * count;
}

void CurlOnce() {
    static const CURLcode init = curl_global_init(CURL_GLOBAL_DEFAULT);
    (void)init;
}

}  // namespace

bool CheckProxy(const TProxyEntry& proxy, const THealthOptions& options, std::string& failure) {
    CurlOnce();
    CURL* curl = curl_easy_init();
    if (!curl) {
        failure = "no transfer handle";
        return false;
    }
    const std::string proxyAddress = proxy.Address();
    std::size_t received = 0;
    curl_easy_setopt(curl, CURLOPT_URL, options.Url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXY, proxyAddress.c_str());
    // As the program's gateway talks to it: names resolved by a SOCKS5 proxy,
    // credentials given apart from the address, so no escaping can bend them.
    curl_easy_setopt(
        curl, CURLOPT_PROXYTYPE,
        static_cast<long>(proxy.Scheme == TProxyScheme::Socks5 ? CURLPROXY_SOCKS5_HOSTNAME : CURLPROXY_HTTP));
    if (!proxy.User.empty()) {
        curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, proxy.User.c_str());
        curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, proxy.Password.c_str());
        curl_easy_setopt(curl, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
    }
    // Even a loopback target goes through the proxy under test.
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.ConnectTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(options.TotalTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, KeepNothing);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &received);
    const CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    if (rc == CURLE_COULDNT_CONNECT || rc == CURLE_COULDNT_RESOLVE_PROXY) {
        failure = "no connection to the proxy";
        return false;
    }
    // tinyproxy's BasicAuth answers a plain request with 401, others with
    // 407; the check page itself never asks for credentials.
    if (status == 407 || (status == 401 && proxy.UpstreamAddress().HasCredentials())) {
        failure = "the proxy refused the credentials";
        return false;
    }
    if (rc == CURLE_WRITE_ERROR && status >= 200 && status < 300) {
        return true;
    }
    if (rc != CURLE_OK) {
        failure = std::string("fetch through it failed: ") + curl_easy_strerror(rc);
        return false;
    }
    if (status < 200 || status >= 300) {
        failure = "fetch through it answered " + std::to_string(status);
        return false;
    }
    return true;
}

THealthChecker::THealthChecker(IProxyStore& store, TServerLog& log, THealthOptions options)
    : FStore(store), FLog(log), FOptions(std::move(options)) {
    CurlOnce();
}

THealthChecker::~THealthChecker() {
    Stop();
}

void THealthChecker::Start() {
    FThread = std::thread([this] { Loop(); });
}

void THealthChecker::Stop() {
    {
        std::lock_guard lock(FMutex);
        FStopping = true;
    }
    FChanged.notify_all();
    if (FThread.joinable()) {
        FThread.join();
    }
}

void THealthChecker::Loop() {
    for (;;) {
        try {
            const auto now = static_cast<std::int64_t>(std::time(nullptr));
            if (FStore.ClaimHealthRound(now, FOptions.Interval.count())) {
                RunRound();
            } else {
                std::lock_guard lock(FMutex);
                ++FSkipped;
            }
        } catch (const std::exception& e) {
            FLog.Line(std::string("health check round failed: ") + e.what());
        }
        std::unique_lock lock(FMutex);
        if (FChanged.wait_for(lock, FOptions.Interval, [this] { return FStopping; })) {
            return;
        }
    }
}

void THealthChecker::RunRound() {
    const std::vector<TProxyEntry> proxies = FStore.ListProxies();
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (;;) {
            {
                std::lock_guard lock(FMutex);
                if (FStopping) {
                    return;
                }
            }
            const std::size_t i = next.fetch_add(1);
            if (i >= proxies.size()) {
                return;
            }
            const TProxyEntry& proxy = proxies[i];
            std::string failure;
            const bool healthy = CheckProxy(proxy, FOptions, failure);
            try {
                FStore.RecordHealth(proxy.Address(), healthy, static_cast<std::int64_t>(std::time(nullptr)));
            } catch (const std::exception& e) {
                FLog.Line("health of " + proxy.Shown() + " not recorded: " + e.what());
            }
            // Only changes are worth a line; a first check always is one.
            if (!proxy.CheckedAt || proxy.Healthy != healthy) {
                FLog.Line("health " + proxy.Shown() + (healthy ? " ok" : " failing: " + failure));
            }
        }
    };
    const std::size_t workers =
        std::min<std::size_t>(proxies.size(), static_cast<std::size_t>(std::max(1, FOptions.Concurrency)));
    std::vector<std::thread> threads;
    threads.reserve(workers);
    for (std::size_t i = 1; i < workers; ++i) {
        threads.emplace_back(work);
    }
    work();
    for (std::thread& t : threads) {
        t.join();
    }
    {
        std::lock_guard lock(FMutex);
        ++FRounds;
    }
    FChanged.notify_all();
}

std::uint64_t THealthChecker::Rounds() const {
    std::lock_guard lock(FMutex);
    return FRounds;
}

std::uint64_t THealthChecker::SkippedRounds() const {
    std::lock_guard lock(FMutex);
    return FSkipped;
}

bool THealthChecker::WaitForRounds(std::uint64_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(FMutex);
    return FChanged.wait_for(lock, timeout, [&] { return FRounds >= count; });
}

}  // namespace cloakline::server
