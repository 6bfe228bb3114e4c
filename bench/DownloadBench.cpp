// Throughput and memory of the downloader against the curl command, both
// fetching the same files from one loopback server in the same run.
// Usage: download_bench [megabytes of the large file, 200 by default]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "net/HttpGet.h"
#include "net/SingleDownloader.h"
#include "platform/linux/LinuxFileSystem.h"
#include "tests/net/LoopDispatcher.h"
#include "tests/support/FakeDataFolders.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TempDir.h"

namespace cloakline {
namespace {

using Clock = std::chrono::steady_clock;

long StatusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::atol(line.c_str() + std::string(field).size());
        }
    }
    return -1;
}

void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// The server lives in a child process, so that its copies of the bodies stay
// out of this process's memory figures.
struct TServerProcess {
    pid_t Pid = -1;
    std::uint16_t Port = 0;

    explicit TServerProcess(std::size_t bigBytes) {
        int fds[2];
        if (pipe(fds) != 0) {
            std::exit(1);
        }
        Pid = fork();
        if (Pid == 0) {
            close(fds[0]);
            test::TLoopbackHttpServer server;
            for (const auto& [path, size] : {std::pair<const char*, std::size_t>{"/big", bigBytes},
                                             {"/small", 20u << 20},
                                             {"/text", 1u << 20}}) {
                test::TScriptedResponse r;
                r.Body.assign(size, 'x');
                server.Script(path, r);
            }
            const std::uint16_t port = server.Port();
            (void)!write(fds[1], &port, sizeof port);
            pause();
            _exit(0);
        }
        close(fds[1]);
        (void)!read(fds[0], &Port, sizeof Port);
        close(fds[0]);
    }
    ~TServerProcess() {
        kill(Pid, SIGKILL);
        waitpid(Pid, nullptr, 0);
    }
};

struct TResult {
    double Seconds = 0;
    bool Ok = false;
};

TResult Fetch(TSingleDownloader& d,
              test::TLoopDispatcher& loop,
              const std::string& url,
              bool toFile,
              const std::string& target) {
    bool done = false;
    TResult result;
    d.OnDoneFile = [&](TSingleDownloader&, const std::string&, std::int32_t) { result.Ok = done = true; };
    d.OnDoneString = [&](TSingleDownloader&, const std::string& text) { result.Ok = done = !text.empty(); };
    d.OnError = [&](TSingleDownloader&) { done = true; };
    d.URL = url;
    d.FileName = target;
    const auto start = Clock::now();
    toFile ? d.GetFile() : d.GetString();
    loop.RunUntil([&] { return done; }, std::chrono::minutes(5));
    result.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return result;
}

double Curl(const std::string& url, const std::string& target) {
    const std::string command = "curl -s --noproxy '*' -o '" + target + "' '" + url + "'";
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) {
        return -1;
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace
}  // namespace cloakline

int main(int argc, char** argv) {
    using namespace cloakline;
    const std::size_t bigMb = argc > 1 ? static_cast<std::size_t>(std::atol(argv[1])) : 200;
    TServerProcess server(bigMb << 20);
    const std::string base = "http://127.0.0.1:" + std::to_string(server.Port);

    const TCurlGlobal curl;
    test::TempDir temp;
    Platform system;
    auto folders = std::make_unique<test::FakeDataFolders>();
    folders->TempDir = temp.ProgramPath("") + "\\";
    system.Folders = std::move(folders);
    system.Files = std::make_unique<LinuxFileSystem>();
    const auto loop = test::TLoopDispatcher::Create();
    TDownloaderContext context;
    context.Dispatcher = loop;
    context.System = &system;
    context.Tracker = TWorkerTracker::Create();
    TSingleDownloader d(context);
    // Progress is handed over as the program's callers do.
    d.OnProgress = [](TSingleDownloaderThread&, std::int32_t, std::int32_t) {};

    std::printf("%-22s %10s %10s %8s\n", "transfer", "ours MB/s", "curl MB/s", "ratio");
    for (int round = 0; round < 2; ++round) {
        for (const auto& [name, path, mb, toFile] :
             {std::tuple<const char*, const char*, double, bool>{"file", "/big", double(bigMb), true},
              {"text 1 MB", "/text", 1.0, false}}) {
            const std::string target = temp.Path() + "/out.bin";
            double ours = 0;
            double theirs = 0;
            const int repeats = toFile ? 1 : 20;
            for (int i = 0; i < repeats; ++i) {
                const TResult r = Fetch(d, *loop, base + path, toFile, temp.ProgramPath("out.bin"));
                ours += r.Ok ? r.Seconds : 1e9;
                theirs += Curl(base + path, target);
            }
            if (round == 1) {
                std::printf("%-22s %10.1f %10.1f %8.2f\n", name, mb * repeats / ours, mb * repeats / theirs,
                            theirs / ours);
            }
        }
    }

    // Peak memory growth of a file transfer, small and large.
    for (const auto& [path, mb] : {std::pair<const char*, std::size_t>{"/small", 20}, {"/big", bigMb}}) {
        ResetPeak();
        const long before = StatusKb("VmHWM:");
        Fetch(d, *loop, base + path, true, temp.ProgramPath("out.bin"));
        std::printf("file %4zu MB: peak RSS growth %ld kB\n", mb, StatusKb("VmHWM:") - before);
    }
    return 0;
}
