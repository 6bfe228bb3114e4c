// TSingleDownloader over libcurl: the desktop's proxy and nothing else, the
// server's certificate checked, files written beside their target and put in
// place with one rename.

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <system_error>
#include <utility>

#include "net/SingleDownloader.h"

namespace cloakline {

namespace {

constexpr long kMaxRedirects = 5;
// Larger blocks mean fewer writes and fewer progress hand-overs per megabyte.
constexpr long kBlockSize = 131072;

std::string NativePath(std::string_view programPath) {
    std::string path(programPath);
#ifndef _WIN32
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
#endif
    return path;
}

long WholeSeconds(std::chrono::milliseconds value) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(value).count();
    return seconds < 1 ? 1L : static_cast<long>(seconds);
}

long Milliseconds(std::chrono::milliseconds value) {
    return value.count() < 1 ? 1L : static_cast<long>(value.count());
}

struct TSlist {
    curl_slist* List = nullptr;
    ~TSlist() { curl_slist_free_all(List); }
    void Add(const std::string& line) {
        if (curl_slist* grown = curl_slist_append(List, line.c_str())) {
            List = grown;
        }
    }
};

struct TEasy {
    CURL* Handle = curl_easy_init();
    ~TEasy() {
        if (Handle != nullptr) {
            curl_easy_cleanup(Handle);
        }
    }
};

// The extra header text of a body, one header a line; line breaks inside it
// never reach the request as such.
void AddHeaderLines(TSlist& headers, std::string_view text) {
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        const std::string_view line = text.substr(start, end == std::string_view::npos ? end : end - start);
        if (!line.empty()) {
            headers.Add(std::string(line));
        }
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
}

}  // namespace

struct TSingleDownloaderThread::TTransfer : TBody {
    std::FILE* File = nullptr;
    std::string TempPath;
    bool HeadersSeen = false;
    bool Refused = false;
    CURL* Handle = nullptr;

    ~TTransfer() {
        if (File != nullptr) {
            std::fclose(File);
        }
        if (!TempPath.empty()) {
            std::remove(TempPath.c_str());
        }
    }

    // The length the headers announced; -1 when they gave none.
    void ReadLength() {
        curl_off_t length = -1;
        curl_easy_getinfo(Handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        Length = length;
    }
};

std::string TSingleDownloaderThread::TransportProxy(Platform& system) {
    // Read afresh for every request: while hiding, it is the chosen proxy.
    return system.SystemProxy ? system.SystemProxy->CurrentProxy() : std::string();
}

bool TSingleDownloaderThread::Perform(const TURLParts& parts) {
    TTransfer transfer;
    TEasy easy;
    CURL* const h = easy.Handle;
    if (h == nullptr) {
        Log(std::string(kLogOpenRequestFailed));
        return false;
    }
    Log(std::string(kLogOpenRequestOk));
    transfer.Handle = h;

    const std::string address = std::string(parts.Ssl ? "https://" : "http://") + parts.Host + ":" +
                                std::to_string(parts.Port) + parts.Object;
    curl_easy_setopt(h, CURLOPT_URL, address.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    // The desktop's proxy and nothing else: not the environment's, no exceptions.
    const std::string proxy = FRequest.Proxy.empty() ? std::string() : "http://" + FRequest.Proxy;
    curl_easy_setopt(h, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(h, CURLOPT_NOPROXY, "");
    // The update answer can rewrite settings: only the real server may give it.
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!FOptions.CaFile.empty()) {
        curl_easy_setopt(h, CURLOPT_CAINFO, FOptions.CaFile.c_str());
    }
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, Milliseconds(FOptions.ConnectTimeout));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, WholeSeconds(FOptions.StallTimeout));
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kBlockSize);
    if (!FRequest.Agent.empty()) {
        curl_easy_setopt(h, CURLOPT_USERAGENT, FRequest.Agent.c_str());
    }
    if (!FRequest.Referer.empty()) {
        curl_easy_setopt(h, CURLOPT_REFERER, FRequest.Referer.c_str());
    }
    if (!FRequest.UserName.empty() || !FRequest.Password.empty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, FRequest.UserName.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, FRequest.Password.c_str());
    }

    TSlist headers;
    headers.Add(AcceptHeader(FRequest.AcceptTypes));
    if (!parts.Ssl && !FRequest.UseCache) {
        // Caches on the way, a proxy's included, must ask the server.
        headers.Add("Pragma: no-cache");
        headers.Add("Cache-Control: no-cache");
    }
    if (Post()) {
        AddHeaderLines(headers, FRequest.ContentType.empty() ? kFormContentType : FRequest.ContentType);
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, FRequest.PostQuery.data());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(FRequest.PostQuery.size()));
    }
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.List);

    using TWrite = std::size_t (*)(char*, std::size_t, std::size_t, void*);
    const TWrite write = [](char* data, std::size_t size, std::size_t count, void* user) -> std::size_t {
        auto& t = *static_cast<TTransfer*>(user);
        auto* self = static_cast<TSingleDownloaderThread*>(nullptr);
        curl_easy_getinfo(t.Handle, CURLINFO_PRIVATE, &self);
        try {
            return self->WriteBlock(t, data, size * count) ? size * count : 0;
        } catch (...) {
            return 0;
        }
    };
    using TProgress = int (*)(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    const TProgress poll = [](void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) -> int {
        return static_cast<const TSingleDownloaderThread*>(user)->Terminated() ? 1 : 0;
    };
    curl_easy_setopt(h, CURLOPT_PRIVATE, this);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, write);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, poll);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);

    if (FRequest.ToFile && !CreateTempFile([&transfer](const std::string& name) {
            const std::filesystem::path path(NativePath(name));
            std::error_code error;
            std::filesystem::create_directories(path.parent_path(), error);
            // Exclusive, never through a planted link, and ours alone until
            // it takes the target's place.
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd < 0) {
                return false;
            }
            transfer.File = ::fdopen(fd, "wb");
            if (transfer.File == nullptr) {
                ::close(fd);
                ::unlink(path.c_str());
                return false;
            }
            transfer.TempPath = path.string();
            return true;
        })) {
        return false;
    }

    const CURLcode code = curl_easy_perform(h);
    if (code != CURLE_OK || transfer.Refused || Terminated()) {
        return false;
    }
    if (!transfer.HeadersSeen) {
        // No body arrived; the length is still known from the headers.
        transfer.ReadLength();
        if (FRequest.BinaryData && transfer.Length < 0) {
            return false;
        }
        FTFileSize = transfer.Length > 0 ? static_cast<std::int32_t>(transfer.Length) : 0;
    }
    if (!FRequest.ToFile) {
        return TakeText(transfer);
    }
    // An error page is not the file that was asked for (a flag saved as HTML).
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 400) {
        return false;
    }
    const bool complete = std::fclose(transfer.File) == 0;
    transfer.File = nullptr;
    return complete && Whole(transfer) && CommitFile(transfer.TempPath);
}

bool TSingleDownloaderThread::WriteBlock(TTransfer& transfer, const char* data, std::size_t size) {
    if (!transfer.HeadersSeen) {
        transfer.HeadersSeen = true;
        transfer.ReadLength();
        if ((FRequest.BinaryData && transfer.Length < 0) ||
            transfer.Length > std::numeric_limits<std::int32_t>::max()) {
            transfer.Refused = true;
            return false;
        }
        FTFileSize = transfer.Length > 0 ? static_cast<std::int32_t>(transfer.Length) : 0;
    }
    if (Terminated()) {
        return false;
    }
    if (transfer.File != nullptr) {
        if (std::fwrite(data, 1, size, transfer.File) != size) {
            return false;
        }
    } else if (!KeepText(transfer, data, size)) {
        transfer.Refused = true;
        return false;
    }
    return BlockKept(transfer, size);
}

bool TSingleDownloaderThread::CommitFile(const std::string& tempPath) {
    // The temporary file lies beside the target: one atomic rename, so the
    // target is either the old file or the whole new one.
    std::error_code error;
    std::filesystem::rename(tempPath, std::filesystem::path(NativePath(FRequest.FileName)), error);
    return !error;
}

}  // namespace cloakline
