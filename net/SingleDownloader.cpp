// The part of TSingleDownloader that is the same whatever carries the
// request: one transfer at a time, Abort, the events' hand-over to the main
// thread, WaitThread, and the worker's counting of what arrives. The
// transport (libcurl, WinInet) is in a file of its own.

#include "net/SingleDownloader.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "core/support/PathUtils.h"
#include "core/support/ShellUtils.h"

namespace cloakline {

namespace {

// Tries at a free temporary name before the transfer gives up.
constexpr int kNameTries = 16;

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
    if (FContext.System != nullptr) {
        request.Proxy = TSingleDownloaderThread::TransportProxy(*FContext.System);
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
    try {
        const std::optional<TURLParts> parts = ParseRequest();
        ok = parts && Perform(*parts);
    } catch (...) {
        ok = false;
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

std::optional<TURLParts> TSingleDownloaderThread::ParseRequest() const {
    TURLParts parts = ParseURL(FRequest.URL);
    Log(std::string(kLogParseURL) + FRequest.URL);
    Log(std::string(kLogParseURL) + parts.Authority);
    Log(std::string(kLogParseURL) + parts.Object);
    if (Terminated()) {
        return std::nullopt;
    }
    Log(Post() ? "POST" : "GET");
    if (!parts.Usable()) {
        Log(std::string(kLogOpenRequestFailed));
        return std::nullopt;
    }
    return parts;
}

bool TSingleDownloaderThread::CreateTempFile(
    const std::function<bool(const std::string& path)>& create) const {
    // Beside the target, never in a shared temporary folder: nobody else can
    // take the name first or watch the file, and the final rename never
    // crosses file systems.
    const std::string folder = ExtractFilePath(FRequest.FileName);
    const std::string name = ExtractFileName(FRequest.FileName);
    if (folder.empty() || name.empty()) {
        return false;
    }
    const Platform noSystem;  // names only: the exclusive create finds clashes
    for (int i = 0; i < kNameTries; ++i) {
        if (create(GetUniqueFileName(noSystem, folder, "." + name + ".", "tmp"))) {
            return true;
        }
    }
    return false;
}

bool TSingleDownloaderThread::KeepText(TBody& body, const char* data, std::size_t size) const {
    if (size > FOptions.MaxTextBytes - body.Text.size()) {
        return false;
    }
    body.Text.append(data, size);
    return true;
}

bool TSingleDownloaderThread::BlockKept(TBody& body, std::size_t size) {
    body.Received += static_cast<std::int64_t>(size);
    if (Terminated()) {
        return false;
    }
    // Every hand-over makes the worker wait for the main thread, so between
    // the first and the last block progress goes over at most every 10 ms.
    const auto now = std::chrono::steady_clock::now();
    const bool lastBlock = body.Length >= 0 && body.Received >= body.Length;
    const bool due = body.Received == static_cast<std::int64_t>(size) || lastBlock ||
                     now - body.LastProgress >= std::chrono::milliseconds(10);
    if (due && FHasProgress.load() && FDispatcher) {
        body.LastProgress = now;
        const auto readed = static_cast<std::int32_t>(
            std::min<std::int64_t>(body.Received, std::numeric_limits<std::int32_t>::max()));
        FDispatcher->RunSync([this, readed] {
            if (FTProgress) {
                const TOnProgressEvent handler = FTProgress;
                handler(*this, FTFileSize, readed);
            }
        });
    }
    return !Terminated();
}

bool TSingleDownloaderThread::TakeText(const TBody& body) {
    if (body.Received == 0) {
        return false;
    }
    FTStringResult = DecodeHttpText(body.Text, FRequest.Charset);
    return true;
}

}  // namespace cloakline
