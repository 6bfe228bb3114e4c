// TSingleDownloader over the system's WinInet: the system's Internet settings
// (the proxy that Hide switched on included), its certificate checks and its
// cache rules.

#include <charconv>
#include <chrono>
#include <limits>
#include <string>
#include <system_error>

#include "net/SingleDownloader.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32Handle.h"
#include "platform/win32/Win32InetApi.h"
#include "platform/win32/Win32Text.h"

namespace cloakline {

namespace {

constexpr DWORD kBlockSize = 16384;
constexpr DWORD kLengthBufferBytes = 1024;
constexpr DWORD kFirstErrorStatus = 400;

class TInternetHandle {
  public:
    TInternetHandle() = default;
    explicit TInternetHandle(HINTERNET handle) : FHandle(handle) {}
    ~TInternetHandle() { Close(); }
    TInternetHandle(const TInternetHandle&) = delete;
    TInternetHandle& operator=(const TInternetHandle&) = delete;
    HINTERNET Get() const { return FHandle; }
    bool Valid() const { return FHandle != nullptr; }
    void Close() {
        if (FHandle != nullptr) {
            ::InternetCloseHandle(FHandle);
            FHandle = nullptr;
        }
    }

  private:
    HINTERNET FHandle = nullptr;
};

DWORD TimeoutMs(std::chrono::milliseconds value) {
    const auto count = value.count();
    if (count < 1) {
        return 1;
    }
    return count > std::numeric_limits<DWORD>::max() ? std::numeric_limits<DWORD>::max()
                                                     : static_cast<DWORD>(count);
}

void SetTimeout(HINTERNET handle, DWORD option, DWORD ms) {
    ::InternetSetOptionW(handle, option, &ms, sizeof ms);
}

// The announced length: -1 when none came, -2 when it is no whole number
// or too large for the events' 32-bit sizes.
std::int64_t ContentLength(HINTERNET request) {
    wchar_t text[kLengthBufferBytes / sizeof(wchar_t)] = {};
    DWORD size = sizeof text;
    DWORD index = 0;
    if (!::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, &index)) {
        return -1;
    }
    const std::string digits = Narrow(std::wstring_view(text, size / sizeof(wchar_t)));
    std::int64_t length = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), length);
    if (error != std::errc() || end != digits.data() + digits.size() || length < 0 ||
        length > std::numeric_limits<std::int32_t>::max()) {
        return -2;
    }
    return length;
}

DWORD StatusCode(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    DWORD index = 0;
    if (!::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, &index)) {
        return 0;
    }
    return status;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

struct TSingleDownloaderThread::TTransfer : TBody {
    TWin32Handle File;
    std::wstring TempPath;

    ~TTransfer() {
        File.Close();
        if (!TempPath.empty()) {
            ::DeleteFileW(TempPath.c_str());
        }
    }
};

std::string TSingleDownloaderThread::TransportProxy(Platform&) {
    // WinInet reads the proxy from the system's settings by itself.
    return std::string();
}

bool TSingleDownloaderThread::Perform(const TURLParts& parts) {
    TTransfer transfer;
    const bool post = Post();

    const std::wstring agent = Widen(FRequest.Agent);
    TInternetHandle root(::InternetOpenW(agent.empty() ? nullptr : agent.c_str(),
                                         INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!root.Valid()) {
        Log(std::string(kLogOpenRequestFailed));
        return false;
    }
    SetTimeout(root.Get(), INTERNET_OPTION_CONNECT_TIMEOUT, TimeoutMs(FOptions.ConnectTimeout));
    // A transfer that receives nothing for this long has failed.
    SetTimeout(root.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, TimeoutMs(FOptions.StallTimeout));
    SetTimeout(root.Get(), INTERNET_OPTION_SEND_TIMEOUT, TimeoutMs(FOptions.StallTimeout));

    const std::wstring host = Widen(parts.Host);
    const std::wstring user = Widen(FRequest.UserName);
    const std::wstring password = Widen(FRequest.Password);
    TInternetHandle connection(
        ::InternetConnectW(root.Get(), host.c_str(), parts.Port, user.empty() ? nullptr : user.c_str(),
                           password.empty() ? nullptr : password.c_str(), INTERNET_SERVICE_HTTP, 0, 0));

    // The update answer can rewrite settings: over HTTPS only the real
    // server's certificate, its name included, is accepted.
    DWORD flags = 0;
    if (parts.Ssl) {
        flags = INTERNET_FLAG_SECURE;
    } else if (!FRequest.UseCache) {
        flags = INTERNET_FLAG_RELOAD;
    }
    const std::wstring accept =
        Widen(AcceptHeader(FRequest.AcceptTypes).substr(std::string_view("Accept: ").size()));
    const wchar_t* acceptTypes[] = {accept.c_str(), nullptr};
    const std::wstring object = Widen(parts.Object);
    const std::wstring referer = Widen(FRequest.Referer);
    TInternetHandle request(
        connection.Valid()
            ? ::HttpOpenRequestW(connection.Get(), post ? L"POST" : L"GET", object.c_str(), L"HTTP/1.0",
                                 referer.empty() ? nullptr : referer.c_str(), acceptTypes, flags, 0)
            : nullptr);
    Log(std::string(request.Valid() ? kLogOpenRequestOk : kLogOpenRequestFailed));
    if (!request.Valid()) {
        return false;
    }

    BOOL sent = FALSE;
    if (post) {
        const std::wstring headers =
            Widen(FRequest.ContentType.empty() ? kFormContentType : FRequest.ContentType);
        std::string body = FRequest.PostQuery;
        sent = ::HttpSendRequestW(request.Get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                                  body.data(), static_cast<DWORD>(body.size()));
    } else {
        sent = ::HttpSendRequestW(request.Get(), nullptr, 0, nullptr, 0);
    }
    if (!sent || Terminated()) {
        return false;
    }

    transfer.Length = ContentLength(request.Get());
    if (transfer.Length == -2 || (FRequest.BinaryData && transfer.Length < 0)) {
        return false;
    }
    FTFileSize = transfer.Length > 0 ? static_cast<std::int32_t>(transfer.Length) : 0;
    // An error page is not the file that was asked for (a flag saved as HTML).
    if (FRequest.ToFile && StatusCode(request.Get()) >= kFirstErrorStatus) {
        return false;
    }
    if (Terminated()) {
        return false;
    }

    if (FRequest.ToFile && !CreateTempFile([&transfer](const std::string& name) {
            const std::string folder = FolderOf(name);
            if (!folder.empty() && !Win32FileSystem().ForceDirectories(folder)) {
                return false;
            }
            const std::wstring path = Widen(name);
            transfer.File = TWin32Handle(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                                       FILE_ATTRIBUTE_TEMPORARY, nullptr));
            if (!transfer.File.Valid()) {
                return false;
            }
            transfer.TempPath = path;
            return true;
        })) {
        return false;
    }

    char block[kBlockSize];
    for (;;) {
        if (Terminated()) {
            return false;
        }
        DWORD got = 0;
        if (!::InternetReadFile(request.Get(), block, sizeof block, &got)) {
            // A broken connection is no end of the data.
            return false;
        }
        if (got == 0) {
            break;
        }
        if (!WriteBlock(transfer, block, got)) {
            return false;
        }
    }

    if (!FRequest.ToFile) {
        return TakeText(transfer);
    }
    const bool complete = ::FlushFileBuffers(transfer.File.Get()) != FALSE;
    transfer.File.Close();
    if (!complete || !Whole(transfer) || !CommitFile(Narrow(transfer.TempPath))) {
        return false;
    }
    transfer.TempPath.clear();
    return true;
}

bool TSingleDownloaderThread::WriteBlock(TTransfer& transfer, const char* data, std::size_t size) {
    if (transfer.Length >= 0 && transfer.Received + static_cast<std::int64_t>(size) > transfer.Length) {
        // More than announced: not the file that was announced.
        return false;
    }
    if (transfer.File.Valid()) {
        DWORD written = 0;
        if (!::WriteFile(transfer.File.Get(), data, static_cast<DWORD>(size), &written, nullptr) ||
            written != size) {
            return false;
        }
    } else if (!KeepText(transfer, data, size)) {
        return false;
    }
    return BlockKept(transfer, size);
}

bool TSingleDownloaderThread::CommitFile(const std::string& tempPath) {
    // The temporary file lies beside the target, on its volume: one step, and
    // the target is either the old file or the whole new one.
    return ::MoveFileExW(Widen(tempPath).c_str(), Widen(FRequest.FileName).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

}  // namespace cloakline
