#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace cloakline {

// Sets libcurl up for the process while at least one of these lives. The
// first one must be made on the main thread before any transfer starts.
class TCurlGlobal {
  public:
    TCurlGlobal();
    // The last one leaves libcurl set up while a transfer is still alive: a
    // worker that did not end in time must not find its library gone.
    ~TCurlGlobal();
    TCurlGlobal(const TCurlGlobal&) = delete;
    TCurlGlobal& operator=(const TCurlGlobal&) = delete;

    bool Ready() const { return FReady; }

  private:
    bool FReady = false;
};

struct THttpGetOptions {
    std::chrono::milliseconds ConnectTimeout{10'000};
    // The whole exchange, redirects included.
    std::chrono::milliseconds TotalTimeout{30'000};
    // A longer body is a failed transfer.
    std::size_t MaxBodyBytes = 64 * 1024;
    // Polled while the transfer runs (at least once a second, also while idle);
    // once set, the transfer gives up.
    const std::atomic<bool>* Abort = nullptr;
};

enum class THttpGetError {
    KNone,
    // Not an http or https address, or not an address at all.
    KBadAddress,
    KConnect,
    KTimeout,
    // A final status other than 2xx.
    KHttpStatus,
    KTooManyRedirects,
    KTooLarge,
    KAborted,
    // Anything else: the connection broke, the answer was not HTTP, ...
    KTransfer,
};

struct THttpGetResult {
    THttpGetError Error = THttpGetError::KTransfer;
    // The last status received, 0 when none was.
    long Status = 0;
    // UTF-8; empty unless the transfer succeeded.
    std::string Body;
    // libcurl's own words about a failure, for the debug log.
    std::string Detail;

    bool Ok() const { return Error == THttpGetError::KNone; }
};

// One blocking GET with a client of its own that never goes through a proxy:
// neither the environment's nor the desktop's. Follows up to three redirects
// within http and https. The body is kept as sent when it is UTF-8 and read as
// Windows-1252 otherwise; a leading byte-order mark is dropped. Any thread.
THttpGetResult HttpGet(std::string_view url, const THttpGetOptions& options = {});

}  // namespace cloakline
