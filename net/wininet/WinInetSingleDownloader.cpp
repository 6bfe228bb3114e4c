// TSingleDownloader over the system's WinInet: the system's Internet settings
// (the proxy that Hide switched on included), its certificate checks and its
// cache rules.

#include <charconv>
#include <chrono>
#include <limits>
#include <system_error>
#include <thread>
#include <utility>

#include "core/support/ShellUtils.h"
#include "net/SingleDownloader.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32Handle.h"
#include "platform/win32/Win32InetApi.h"
#include "platform/win32/Win32Text.h"

namespace cloakline {

namespace {

constexpr DWORD kBlockSize = 16384;
// Tries at a free temporary name before the transfer gives up.
constexpr int kNameTries = 16;
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

// ---------------------------------------------------------------------------
// The component

TSingleDownloader::TSingleDownloader(TDownloaderContext context) : FContext(std::move(context)) {}

TSingleDownloader::~TSingleDownloader() {
    Abort();
}

void TSingleDownloader::GetFile() {
    Start(true);
}

void TSingleDownloader::GetString() {
    Start(false);
}

void TSingleDownloader::Start(bool toFile) {
    if (FThread) {
        return;
    }
    FAbort = false;
    TSingleDownloaderThread::TRequest request;
    request.AcceptTypes = AcceptTypes;
    request.Agent = Agent;
    request.URL = URL;
    request.FileName = FileName;
    request.UserName = UserName;
    request.Password = Password;
    request.ContentType = ContentType;
    request.PostQuery = PostQuery;
    request.Referer = Referer;
    request.BinaryData = BinaryData;
    request.UseCache = UseCache;
    request.ToFile = toFile;
    request.Charset = HttpCharset;
    // WinInet reads the proxy from the system's settings by itself.
    if (FContext.System != nullptr) {
        request.TempDir = GetTempDir(*FContext.System);
    }
    auto worker = std::make_shared<TSingleDownloaderThread>(
        std::move(request), OnProgress, OnLog, FContext.Dispatcher, FContext.Tracker, FContext.Options);
    worker->FOwner = this;
    FThread = worker;
    if (!TSingleDownloaderThread::Start(worker)) {
        DoneThread(*worker);
        return;
    }
    if (WaitThread && FContext.Pump != nullptr) {
        // Only the worker is looked at: a handler may free this component meanwhile.
        FContext.Pump->ProcessUntil([worker] { return worker->FOwner == nullptr || worker->Finished(); });
    }
}

void TSingleDownloader::Abort() {
    if (!FThread) {
        return;
    }
    FThread->FTProgress = nullptr;
    FThread->FHasProgress.store(false);
    FThread->FOwner = nullptr;
    FThread->Terminate();
    FThread.reset();
    FAbort = true;
}

void TSingleDownloader::SetPostValues(const TStringList& slValues) {
    PostQuery = FormEncodedBody(slValues);
}

bool TSingleDownloader::SetUploadFiles(const TStringList& slValues, const TStringList& slFiles) {
    if (FContext.System == nullptr || !FContext.System->Files) {
        return false;
    }
    TFilePostGen gen;
    if (!gen.Make(*FContext.System->Files, &slValues, &slFiles)) {
        return false;
    }
    ContentType = gen.Headers();
    PostQuery = gen.PostData();
    return true;
}

void TSingleDownloader::DoneThread(TSingleDownloaderThread& thread) {
    if (FThread.get() != &thread) {
        return;
    }
    const std::shared_ptr<TSingleDownloaderThread> done = std::move(FThread);
    thread.FOwner = nullptr;
    thread.FTProgress = nullptr;
    FResult = thread.FTResult;
    // Nothing of this component is touched after a handler: it may free it.
    if (FResult) {
        if (thread.ToFile()) {
            if (OnDoneFile) {
                const TOnDoneFileEvent handler = OnDoneFile;
                handler(*this, thread.FileName(), thread.FTFileSize);
            }
        } else if (OnDoneString) {
            const TOnDoneStringEvent handler = OnDoneString;
            handler(*this, thread.FTStringResult);
        }
    } else if (OnError && !FAbort) {
        const TNotifyEvent handler = OnError;
        handler(*this);
    }
}

// ---------------------------------------------------------------------------
// The worker

struct TSingleDownloaderThread::TTransfer {
    std::string Body;
    TWin32Handle File;
    std::wstring TempPath;
    std::int64_t Received = 0;
    std::int64_t Length = -1;
    std::chrono::steady_clock::time_point LastProgress;

    ~TTransfer() {
        File.Close();
        if (!TempPath.empty()) {
            ::DeleteFileW(TempPath.c_str());
        }
    }
};

TSingleDownloaderThread::TSingleDownloaderThread(TRequest request,
                                                 TOnProgressEvent progress,
                                                 TOnLog onLog,
                                                 std::shared_ptr<IMainThreadDispatcher> dispatcher,
                                                 std::shared_ptr<TWorkerTracker> tracker,
                                                 TDownloaderOptions options)
    : FRequest(std::move(request)),
      FOnLog(std::move(onLog)),
      FDispatcher(std::move(dispatcher)),
      FTracker(std::move(tracker)),
      FOptions(std::move(options)),
      FTProgress(std::move(progress)) {
    FHasProgress.store(static_cast<bool>(FTProgress));
}

TSingleDownloaderThread::~TSingleDownloaderThread() = default;

bool TSingleDownloaderThread::Start(const std::shared_ptr<TSingleDownloaderThread>& worker) {
    TWorkerTracker::TTicket ticket = worker->FTracker->Enter();
    try {
        std::thread([self = worker, ticket = std::move(ticket)]() mutable {
            try {
                self->Execute();
            } catch (...) {
                // Nothing more can be delivered; the component hears nothing.
            }
            self->FFinished.store(true);
            self.reset();
            ticket.Release();
        }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool TSingleDownloaderThread::Terminated() const {
    return FTerminated.load() || FTracker->Aborted();
}

void TSingleDownloaderThread::Log(const std::string& line) const {
    if (FOnLog) {
        FOnLog(line);
    }
}

void TSingleDownloaderThread::Execute() {
    bool ok = false;
    {
        TTransfer transfer;
        try {
            ok = Perform(transfer);
        } catch (...) {
            ok = false;
        }
    }
    if (Terminated()) {
        return;
    }
    FTResult = ok;
    if (FDispatcher) {
        FDispatcher->RunSync([this] {
            if (FOwner != nullptr) {
                FOwner->DoneThread(*this);
            }
        });
    }
}

bool TSingleDownloaderThread::Perform(TTransfer& transfer) {
    const TURLParts parts = ParseURL(FRequest.URL);
    Log(std::string(kLogParseURL) + FRequest.URL);
    Log(std::string(kLogParseURL) + parts.Authority);
    Log(std::string(kLogParseURL) + parts.Object);
    if (Terminated()) {
        return false;
    }
    const bool post = !FRequest.PostQuery.empty();
    Log(post ? "POST" : "GET");
    if (!parts.Usable()) {
        Log(std::string(kLogOpenRequestFailed));
        return false;
    }

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

    if (FRequest.ToFile) {
        if (FRequest.TempDir.empty() || FRequest.FileName.empty()) {
            return false;
        }
        const Platform noSystem;  // names only: the exclusive create below finds clashes
        for (int i = 0; i < kNameTries && !transfer.File.Valid(); ++i) {
            const std::wstring path = Widen(GetUniqueFileName(noSystem, FRequest.TempDir, "sg", "tmp"));
            transfer.File = TWin32Handle(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                                       FILE_ATTRIBUTE_TEMPORARY, nullptr));
            if (transfer.File.Valid()) {
                transfer.TempPath = path;
            }
        }
        if (!transfer.File.Valid()) {
            return false;
        }
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
        if (transfer.Received == 0) {
            return false;
        }
        FTStringResult = DecodeHttpText(transfer.Body, FRequest.Charset);
        return true;
    }
    const bool complete = ::FlushFileBuffers(transfer.File.Get()) != FALSE;
    transfer.File.Close();
    // Without an announced length only a normal end with data counts.
    const bool whole = transfer.Length >= 0 ? transfer.Received == transfer.Length : transfer.Received > 0;
    if (!complete || !whole || !CommitFile(Narrow(transfer.TempPath))) {
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
    } else {
        if (size > FOptions.MaxTextBytes - transfer.Body.size()) {
            return false;
        }
        transfer.Body.append(data, size);
    }
    transfer.Received += static_cast<std::int64_t>(size);
    if (Terminated()) {
        return false;
    }
    // Every hand-over makes the worker wait for the main thread, so between
    // the first and the last block progress goes over at most every 10 ms.
    const auto now = std::chrono::steady_clock::now();
    const bool lastBlock = transfer.Length >= 0 && transfer.Received >= transfer.Length;
    const bool due = transfer.Received == static_cast<std::int64_t>(size) || lastBlock ||
                     now - transfer.LastProgress >= std::chrono::milliseconds(10);
    if (due && FHasProgress.load() && FDispatcher) {
        transfer.LastProgress = now;
        const auto readed = static_cast<std::int32_t>(
            std::min<std::int64_t>(transfer.Received, std::numeric_limits<std::int32_t>::max()));
        FDispatcher->RunSync([this, readed] {
            if (FTProgress) {
                const TOnProgressEvent handler = FTProgress;
                handler(*this, FTFileSize, readed);
            }
        });
    }
    return !Terminated();
}

bool TSingleDownloaderThread::CommitFile(const std::string& tempPath) {
    Win32FileSystem files;
    const std::string folder = FolderOf(FRequest.FileName);
    if (!folder.empty() && !files.ForceDirectories(folder)) {
        return false;
    }
    // One step when both are on one volume, else a copy that the system
    // finishes before the target is replaced; the target is either the old
    // file or the whole new one.
    return ::MoveFileExW(Widen(tempPath).c_str(), Widen(FRequest.FileName).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) != FALSE;
}

}  // namespace cloakline
