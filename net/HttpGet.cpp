#include "net/HttpGet.h"

#include <curl/curl.h>

#include <mutex>

#include "core/support/TextEncoding.h"

namespace cloakline {

namespace {

// Redirects are followed because the service's addresses come from settings
// that the server itself rewrites; an operator who moves the service leaves a
// redirect behind. The limit keeps a loop short.
constexpr long kMaxRedirects = 3;
constexpr char kUserAgent[] = "Cloakline";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::mutex gGlobalMutex;
int gGlobalHolders = 0;
bool gGlobalReady = false;
// Easy handles alive in any thread; the library stays set up while one is.
std::atomic<int> gLiveHandles{0};

struct TBodySink {
    std::string Body;
    std::size_t Cap = 0;
    bool TooLarge = false;
};

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& sink = *static_cast<TBodySink*>(user);
    const std::size_t bytes = size * count;
    if (bytes > sink.Cap - sink.Body.size()) {
        sink.TooLarge = true;
        return 0;  // libcurl ends the transfer with a write error
    }
    sink.Body.append(data, bytes);
    return bytes;
}

int CheckAbort(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* abort = static_cast<const std::atomic<bool>*>(user);
    return abort != nullptr && abort->load() ? 1 : 0;
}

long Milliseconds(std::chrono::milliseconds value) {
    // libcurl reads 0 as "no limit"; a bound is always wanted here.
    return value.count() < 1 ? 1L : static_cast<long>(value.count());
}

THttpGetError ErrorOf(CURLcode code, const TBodySink& sink) {
    switch (code) {
        case CURLE_OK:
            return THttpGetError::KNone;
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            return THttpGetError::KBadAddress;
        case CURLE_COULDNT_CONNECT:
        case CURLE_COULDNT_RESOLVE_HOST:
            return THttpGetError::KConnect;
        case CURLE_OPERATION_TIMEDOUT:
            return THttpGetError::KTimeout;
        case CURLE_HTTP_RETURNED_ERROR:
            return THttpGetError::KHttpStatus;
        case CURLE_TOO_MANY_REDIRECTS:
            return THttpGetError::KTooManyRedirects;
        case CURLE_FILESIZE_EXCEEDED:
            return THttpGetError::KTooLarge;
        case CURLE_WRITE_ERROR:
            return sink.TooLarge ? THttpGetError::KTooLarge : THttpGetError::KTransfer;
        case CURLE_ABORTED_BY_CALLBACK:
            return THttpGetError::KAborted;
        default:
            return THttpGetError::KTransfer;
    }
}

std::string BodyText(std::string bytes) {
    if (bytes.starts_with(kUtf8Bom)) {
        bytes.erase(0, kUtf8Bom.size());
    }
    if (IsValidUtf8(bytes)) {
        return bytes;
    }
    return AnsiToUtf8(bytes);
}

class TEasyHandle {
  public:
    TEasyHandle() : FHandle(curl_easy_init()) {
        if (FHandle != nullptr) {
            ++gLiveHandles;
        }
    }
    ~TEasyHandle() {
        if (FHandle != nullptr) {
            curl_easy_cleanup(FHandle);
            --gLiveHandles;
        }
    }
    TEasyHandle(const TEasyHandle&) = delete;
    TEasyHandle& operator=(const TEasyHandle&) = delete;

    CURL* Get() const { return FHandle; }

  private:
    CURL* FHandle;
};

}  // namespace

TCurlGlobal::TCurlGlobal() {
    const std::lock_guard lock(gGlobalMutex);
    if (!gGlobalReady) {
        gGlobalReady = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    }
    FReady = gGlobalReady;
    if (FReady) {
        ++gGlobalHolders;
    }
}

TCurlGlobal::~TCurlGlobal() {
    if (!FReady) {
        return;
    }
    const std::lock_guard lock(gGlobalMutex);
    --gGlobalHolders;
    if (gGlobalHolders == 0 && gLiveHandles.load() == 0) {
        curl_global_cleanup();
        gGlobalReady = false;
    }
}

THttpGetResult HttpGet(std::string_view url, const THttpGetOptions& options) {
    THttpGetResult result;
    if (options.Abort != nullptr && options.Abort->load()) {
        result.Error = THttpGetError::KAborted;
        return result;
    }
    const TEasyHandle easy;
    CURL* const h = easy.Get();
    if (h == nullptr) {
        result.Detail = "no client";
        return result;
    }
    const std::string address(url);
    TBodySink sink;
    sink.Cap = options.MaxBodyBytes;
    char errors[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errors);
    curl_easy_setopt(h, CURLOPT_URL, address.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // The answer must describe the direct connection, whatever proxy the
    // program or the environment has set: "" overrides http_proxy and friends,
    // "*" exempts every host from any proxy that might still apply.
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
    // Signals belong to the program; time-outs must not rely on them.
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, Milliseconds(options.ConnectTimeout));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, Milliseconds(options.TotalTimeout));
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.MaxBodyBytes));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &WriteBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &CheckAbort);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, options.Abort);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, options.Abort != nullptr ? 0L : 1L);

    const CURLcode code = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.Status);
    result.Error = ErrorOf(code, sink);
    if (result.Ok() && (result.Status < 200 || result.Status > 299)) {
        // A redirect that was not followed, or no HTTP status at all.
        result.Error = THttpGetError::KHttpStatus;
        result.Detail = "HTTP status " + std::to_string(result.Status);
        return result;
    }
    if (!result.Ok()) {
        result.Detail = errors[0] != '\0' ? std::string(errors) : std::string(curl_easy_strerror(code));
        return result;
    }
    result.Body = BodyText(std::move(sink.Body));
    return result;
}

}  // namespace cloakline
