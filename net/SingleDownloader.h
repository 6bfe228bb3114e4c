#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/framework/DownloaderDef.h"
#include "core/framework/MainThreadDispatcher.h"
#include "core/framework/MessagePump.h"
#include "core/support/StringList.h"
#include "net/WorkerTracker.h"
#include "platform/api/Platform.h"

namespace cloakline {

class TSingleDownloader;
class TSingleDownloaderThread;

using TOnProgressEvent =
    std::function<void(TSingleDownloaderThread& sender, std::int32_t iTotalSize, std::int32_t iReaded)>;
using TOnDoneFileEvent =
    std::function<void(TSingleDownloader& sender, const std::string& strFileName, std::int32_t iFileSize)>;
using TOnDoneStringEvent = std::function<void(TSingleDownloader& sender, const std::string& strResult)>;
using TNotifyEvent = std::function<void(TSingleDownloader& sender)>;
// Called on the worker thread.
using TOnLog = std::function<void(const std::string& aLog)>;

// Limits of a transfer; the defaults are the program's.
struct TDownloaderOptions {
    std::chrono::milliseconds ConnectTimeout{10'000};
    // A transfer that receives nothing for this long has failed.
    std::chrono::milliseconds StallTimeout{30'000};
    // A longer text answer is a failed transfer.
    std::size_t MaxTextBytes = 16u << 20;
    // Certificates to trust instead of the system's; empty for the system's.
    std::string CaFile;
};

// What a downloader works with. Platform gives the temporary folder and the
// desktop's proxy; a file transfer fails without it.
struct TDownloaderContext {
    std::shared_ptr<IMainThreadDispatcher> Dispatcher;
    Platform* System = nullptr;
    // For WaitThread; without one the start calls never wait.
    IMessagePump* Pump = nullptr;
    std::shared_ptr<TWorkerTracker> Tracker = TWorkerTracker::Global();
    TDownloaderOptions Options;
};

// One HTTP or HTTPS request at a time on a worker thread, through the proxy
// that the desktop is set to, with its outcome delivered on the main thread:
// a file written to FileName, or the answer as text. libcurl must be set up
// (TCurlGlobal) while requests run. Main thread only.
class TSingleDownloader {
  public:
    explicit TSingleDownloader(TDownloaderContext context);
    // Aborts: no event reaches the component once it is gone.
    ~TSingleDownloader();
    TSingleDownloader(const TSingleDownloader&) = delete;
    TSingleDownloader& operator=(const TSingleDownloader&) = delete;

    // Start a transfer of URL; dropped while another one runs.
    void GetFile();
    void GetString();
    // The running request ends without any event; the component is idle at once.
    void Abort();

    // PostQuery becomes the form-encoded values; an empty list makes it a GET.
    void SetPostValues(const TStringList& slValues);
    // A multipart body of values and files (name = local path). False, and
    // nothing changed, when a file cannot be read.
    bool SetUploadFiles(const TStringList& slValues, const TStringList& slFiles);

    bool Busy() const { return FThread != nullptr; }
    // Outcome of the last delivered completion.
    bool Result() const { return FResult; }

    std::string AcceptTypes = "*/*";
    std::string Agent;
    bool BinaryData = false;
    std::string URL;
    bool UseCache = false;
    std::string FileName;
    std::string UserName;
    std::string Password;
    // A whole extra header text sent with a body; empty for the form-encoded type.
    std::string ContentType;
    // The body's bytes as they go out; non-empty makes the request a POST.
    std::string PostQuery;
    std::string Referer;
    bool WaitThread = false;
    TOnProgressEvent OnProgress;
    TOnDoneFileEvent OnDoneFile;
    TOnDoneStringEvent OnDoneString;
    TNotifyEvent OnError;
    TOnLog OnLog;
    THttpCharset HttpCharset = THttpCharset::KAnsi;

  private:
    friend class TSingleDownloaderThread;

    void Start(bool toFile);
    // Main thread, from the worker's completion.
    void DoneThread(TSingleDownloaderThread& thread);

    const TDownloaderContext FContext;
    std::shared_ptr<TSingleDownloaderThread> FThread;
    bool FResult = false;
    bool FAbort = false;
};

// The worker of one request. It keeps copies of everything it needs, so the
// component's later changes do not reach it, and it disposes of itself once
// it has ended.
class TSingleDownloaderThread {
  public:
    struct TRequest {
        std::string AcceptTypes, Agent, URL, FileName, UserName, Password, ContentType, PostQuery, Referer;
        bool BinaryData = false;
        bool UseCache = false;
        bool ToFile = false;
        THttpCharset Charset = THttpCharset::KAnsi;
        // host:port, or empty for a direct connection.
        std::string Proxy;
    };

    TSingleDownloaderThread(TRequest request,
                            TOnProgressEvent progress,
                            TOnLog onLog,
                            std::shared_ptr<IMainThreadDispatcher> dispatcher,
                            std::shared_ptr<TWorkerTracker> tracker,
                            TDownloaderOptions options);
    ~TSingleDownloaderThread();
    TSingleDownloaderThread(const TSingleDownloaderThread&) = delete;
    TSingleDownloaderThread& operator=(const TSingleDownloaderThread&) = delete;

    // Runs the worker on a detached thread that holds it until its end. False
    // when no thread could be started.
    static bool Start(const std::shared_ptr<TSingleDownloaderThread>& worker);

    void Terminate() { FTerminated.store(true); }
    bool Terminated() const;
    // The worker's work and its completion's hand-over are over.
    bool Finished() const { return FFinished.load(); }

    const std::string& FileName() const { return FRequest.FileName; }
    bool ToFile() const { return FRequest.ToFile; }

  private:
    friend class TSingleDownloader;

    // What the worker counts of an answer, whatever carries it.
    struct TBody {
        // The answer of a text request.
        std::string Text;
        std::int64_t Received = 0;
        // The announced length; -1 when none came.
        std::int64_t Length = -1;
        std::chrono::steady_clock::time_point LastProgress;
    };
    // The transport's own state of one request.
    struct TTransfer;

    // The proxy the transport must be told of, or empty when it follows the
    // system's settings by itself.
    static std::string TransportProxy(Platform& system);

    void Execute();
    // The transport's whole request to a usable address; its temporary file
    // is gone on return.
    bool Perform(const TURLParts& parts);
    bool WriteBlock(TTransfer& transfer, const char* data, std::size_t size);
    bool CommitFile(const std::string& tempPath);

    // The steps every transport shares.
    // Logs the address and the method; nullopt, the request over, when the
    // address is unusable or the worker was told to stop.
    std::optional<TURLParts> ParseRequest() const;
    bool Post() const { return !FRequest.PostQuery.empty(); }
    // Tries fresh names beside the target ("." + name + "." + random + ".tmp")
    // until create makes one of them exclusively; false without a target
    // folder and name, or when none worked.
    bool CreateTempFile(const std::function<bool(const std::string& path)>& create) const;
    // False, and nothing kept, when the text would grow past its limit.
    bool KeepText(TBody& body, const char* data, std::size_t size) const;
    // Counts a block that was kept and hands progress over when it is due;
    // false when the worker was told to stop.
    bool BlockKept(TBody& body, std::size_t size);
    // The decoded answer of a text request; false when nothing arrived.
    bool TakeText(const TBody& body);
    // Without an announced length only a normal end with data counts.
    static bool Whole(const TBody& body) {
        return body.Length >= 0 ? body.Received == body.Length : body.Received > 0;
    }
    void Log(const std::string& line) const;

    const TRequest FRequest;
    const TOnLog FOnLog;
    const std::shared_ptr<IMainThreadDispatcher> FDispatcher;
    const std::shared_ptr<TWorkerTracker> FTracker;
    const TDownloaderOptions FOptions;

    // Touched on the main thread only; cleared by Abort.
    TOnProgressEvent FTProgress;
    TSingleDownloader* FOwner = nullptr;

    std::atomic<bool> FHasProgress{false};
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};

    // Written by the worker, read on the main thread after the hand-over.
    bool FTResult = false;
    std::int32_t FTFileSize = 0;
    std::string FTStringResult;
};

}  // namespace cloakline
