// The local gateway against its bars, on loopback, in one run:
//  - a bulk download through a CONNECT tunnel: client -> gateway -> tinyproxy
//    -> source, against client -> tinyproxy -> source and against
//    client -> HAProxy (mode tcp) -> tinyproxy -> source;
//  - the latency that the gateway adds to small keep-alive GETs;
//  - the gateway's resident memory with many open tunnels, all still carrying;
//  - the time from killing the current upstream to the first page through
//    the standby.
// Prints the figures and PASS or FAIL per bar. It is a report: the exit code
// is 0 whatever the figures; 2 when the measurement itself could not run.
// Usage: gateway_bench [--megabytes N] [--rounds N] [--requests N]
//                      [--tunnels N] [--host PATH] [--keep]
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "bench/BenchProcesses.h"
#include "bench/GatewayTraffic.h"

namespace cloakline::bench {
namespace {

using Clock = std::chrono::steady_clock;

struct TOptions {
    std::uint64_t Megabytes = 1024;
    int Rounds = 3;
    std::size_t Requests = 10000;
    std::size_t Tunnels = 1000;
    std::string Host;
    bool Keep = false;
};

struct TBars {
    int Passed = 0;
    int Failed = 0;

    void Check(bool met, const char* what) {
        std::printf("  %-58s %s\n", what, met ? "PASS" : "FAIL");
        (met ? Passed : Failed)++;
    }
};

bool OnPath(const char* program) {
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

std::string BesideThisProgram(const char* name) {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string(name) : (self.parent_path() / name).string();
}

bool ParseOptions(int argc, char** argv, TOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--keep") {
            options.Keep = true;
            continue;
        }
        if (i + 1 >= argc) {
            return false;
        }
        const std::string value = argv[++i];
        const long number = std::atol(value.c_str());
        if (option == "--host") {
            options.Host = value;
        } else if (number <= 0) {
            return false;
        } else if (option == "--megabytes") {
            options.Megabytes = static_cast<std::uint64_t>(number);
        } else if (option == "--rounds") {
            options.Rounds = static_cast<int>(number);
        } else if (option == "--requests") {
            options.Requests = static_cast<std::size_t>(number);
        } else if (option == "--tunnels") {
            options.Tunnels = static_cast<std::size_t>(number);
        } else {
            return false;
        }
    }
    return true;
}

double Best(const std::vector<TBulkResult>& runs) {
    double best = 0;
    for (const TBulkResult& run : runs) {
        best = std::max(best, run.MegabytesPerSecond());
    }
    return best;
}

std::string List(const std::vector<TBulkResult>& runs) {
    std::string text;
    for (const TBulkResult& run : runs) {
        char figure[32];
        std::snprintf(figure, sizeof figure, "%s%.0f", text.empty() ? "" : " ", run.MegabytesPerSecond());
        text += figure;
    }
    return text;
}

// Returns false when a transfer failed (the figures would mean nothing).
bool MeasureBulk(const TOptions& options, TSources& sources, const std::string& folder, TBars& bars) {
    const std::uint64_t bytes = options.Megabytes * 1024 * 1024;
    TBenchTinyProxy tinyproxy(folder);
    TBenchHaProxy haproxy(folder, tinyproxy.Port());
    TBenchGateway gateway(options.Host, folder, tinyproxy.Address());
    if (!tinyproxy.Up() || !haproxy.Up() || !gateway.Up()) {
        std::printf("bulk: cannot start tinyproxy (%d), HAProxy (%d) or the gateway (%d); logs in %s\n",
                    tinyproxy.Up(), haproxy.Up(), gateway.Up(), folder.c_str());
        return false;
    }
    struct TPath {
        const char* Name;
        std::uint16_t Port;
        std::vector<TBulkResult> Runs;
    };
    std::vector<TPath> paths = {{"straight through tinyproxy", tinyproxy.Port(), {}},
                                {"HAProxy (mode tcp) -> tinyproxy", haproxy.Port(), {}},
                                {"gateway -> tinyproxy", gateway.Port(), {}}};
    // Interleaved rounds, so that a burst of other load on the machine does
    // not fall on one path only.
    for (int round = 0; round < options.Rounds; ++round) {
        for (TPath& path : paths) {
            TBulkResult run =
                DownloadThroughTunnel(path.Port, sources.BulkPort(), bytes, std::chrono::seconds(300));
            if (!run.Ok) {
                std::printf("bulk: %s failed: %s\n", path.Name, run.Failure.c_str());
                return false;
            }
            path.Runs.push_back(run);
        }
    }
    std::printf(
        "\nBulk download of %llu MiB through a CONNECT tunnel (MB/s, 10^6 bytes a second, per round; best "
        "counts)\n",
        static_cast<unsigned long long>(options.Megabytes));
    for (const TPath& path : paths) {
        std::printf("  %-34s best %7.0f MB/s   rounds: %s\n", path.Name, Best(path.Runs),
                    List(path.Runs).c_str());
    }
    const double straight = Best(paths[0].Runs);
    const double relayed = Best(paths[1].Runs);
    const double throughGateway = Best(paths[2].Runs);
    char line[96];
    std::snprintf(line, sizeof line, "gateway / straight through = %.3f (bar >= 0.9)",
                  throughGateway / straight);
    bars.Check(throughGateway >= 0.9 * straight, line);
    std::snprintf(line, sizeof line, "gateway / HAProxy = %.3f (bar >= 0.8)", throughGateway / relayed);
    bars.Check(throughGateway >= 0.8 * relayed, line);
    return true;
}

bool MeasureLatency(const TOptions& options, TSources& sources, const std::string& folder, TBars& bars) {
    TBenchTinyProxy tinyproxy(folder);
    TBenchGateway gateway(options.Host, folder, tinyproxy.Address());
    if (!tinyproxy.Up() || !gateway.Up()) {
        std::printf("latency: cannot start tinyproxy or the gateway; logs in %s\n", folder.c_str());
        return false;
    }
    constexpr std::size_t kConnections = 10;
    constexpr std::size_t kBlocks = 4;
    constexpr std::size_t kWarmup = 100;
    std::vector<double> straight;
    std::vector<double> through;
    std::size_t straightConnections = 0;
    std::size_t throughConnections = 0;
    std::size_t straightRetries = 0;
    std::size_t throughRetries = 0;
    // Alternating blocks, for the same reason as the interleaved rounds above.
    for (std::size_t block = 0; block < kBlocks; ++block) {
        const std::size_t count = options.Requests / kBlocks + (block < options.Requests % kBlocks ? 1 : 0);
        for (const bool viaGateway : {false, true}) {
            const TLatencyResult run = TimeSmallGets(viaGateway ? gateway.Port() : tinyproxy.Port(),
                                                     sources.PagePort(), count, kWarmup, kConnections);
            if (!run.Ok) {
                std::printf("latency: %s failed: %s\n", viaGateway ? "the gateway" : "tinyproxy",
                            run.Failure.c_str());
                return false;
            }
            auto& into = viaGateway ? through : straight;
            into.insert(into.end(), run.Milliseconds.begin(), run.Milliseconds.end());
            (viaGateway ? throughConnections : straightConnections) += run.ConnectionsOpened;
            (viaGateway ? throughRetries : straightRetries) += run.StaleRetries;
        }
    }
    const double p50s = Percentile(straight, 50);
    const double p99s = Percentile(straight, 99);
    const double p50g = Percentile(through, 50);
    const double p99g = Percentile(through, 99);
    std::printf("\n%zu small GETs each way over %zu keep-alive client connections (ms)\n", straight.size(),
                kConnections);
    std::printf("  %-34s p50 %.3f  p99 %.3f  (%zu connections opened, %zu requests sent again)\n",
                "straight through tinyproxy", p50s, p99s, straightConnections, straightRetries);
    std::printf("  %-34s p50 %.3f  p99 %.3f  (%zu connections opened, %zu requests sent again)\n",
                "gateway -> tinyproxy", p50g, p99g, throughConnections, throughRetries);
    std::printf("  %-34s p50 %+.3f  p99 %+.3f\n", "added by the gateway", p50g - p50s, p99g - p99s);
    char line[96];
    std::snprintf(line, sizeof line, "p50 added = %.3f ms (bar < 0.3 ms)", p50g - p50s);
    bars.Check(p50g - p50s < 0.3, line);
    return true;
}

bool MeasureTunnels(const TOptions& options, TSources& sources, const std::string& folder, TBars& bars) {
    TBenchTinyProxy tinyproxy(folder);
    TBenchGateway gateway(options.Host, folder, tinyproxy.Address());
    if (!tinyproxy.Up() || !gateway.Up()) {
        std::printf("tunnels: cannot start tinyproxy or the gateway; logs in %s\n", folder.c_str());
        return false;
    }
    const long idle = StatusKb(gateway.Pid(), "VmRSS:");
    std::vector<long> held;
    const TTunnelResult result = HoldTunnels(gateway.Port(), sources.EchoPort(), options.Tunnels,
                                             [&] { held.push_back(StatusKb(gateway.Pid(), "VmRSS:")); });
    const long peak = StatusKb(gateway.Pid(), "VmHWM:");
    std::printf("\n%zu concurrent CONNECT tunnels through the gateway to an echo server\n", options.Tunnels);
    std::printf("  opened %zu, carried an echo %zu%s%s\n", result.Opened, result.Carried,
                result.Failure.empty() ? "" : "; first failure: ", result.Failure.c_str());
    std::printf(
        "  gateway VmRSS: idle %.1f MB, all open %.1f MB, after the echoes %.1f MB, peak (VmHWM) %.1f MB\n",
        idle / 1024.0, held.empty() ? -1 : held.front() / 1024.0, held.size() < 2 ? -1 : held.back() / 1024.0,
        peak / 1024.0);
    char line[96];
    std::snprintf(line, sizeof line, "peak VmRSS = %.1f MB (bar < 64 MB)", peak / 1024.0);
    bars.Check(peak > 0 && peak < 64 * 1024, line);
    std::snprintf(line, sizeof line, "tunnels carrying data = %zu of %zu", result.Carried, options.Tunnels);
    bars.Check(result.Carried == options.Tunnels, line);
    return true;
}

bool MeasureFailover(const TOptions& options, TSources& sources, const std::string& folder, TBars& bars) {
    std::vector<double> times;
    for (int round = 0; round < options.Rounds; ++round) {
        TBenchTinyProxy current(folder);
        TBenchTinyProxy standby(folder);
        TBenchGateway gateway(options.Host, folder, current.Address(), standby.Address());
        if (!current.Up() || !standby.Up() || !gateway.Up()) {
            std::printf("failover: cannot start the tinyproxies or the gateway; logs in %s\n",
                        folder.c_str());
            return false;
        }
        if (!LoadPage(gateway.Port(), sources.PagePort(), std::chrono::seconds(5))) {
            std::printf("failover: no page through the gateway before the kill\n");
            return false;
        }
        const auto killed = Clock::now();
        current.Kill();
        double ms = -1;
        while (Clock::now() - killed < std::chrono::seconds(15)) {
            if (LoadPage(gateway.Port(), sources.PagePort(), std::chrono::seconds(5))) {
                ms = std::chrono::duration<double, std::milli>(Clock::now() - killed).count();
                break;
            }
            usleep(5000);
        }
        times.push_back(ms);
    }
    std::printf("\nFailover: kill -9 of the current tinyproxy to the first page through the standby (ms)\n ");
    bool allLoaded = true;
    for (const double ms : times) {
        if (ms < 0) {
            std::printf(" none within 15 s");
            allLoaded = false;
        } else {
            std::printf(" %.1f", ms);
        }
    }
    const double worst = times.empty() ? -1 : *std::max_element(times.begin(), times.end());
    std::printf("\n");
    char line[96];
    std::snprintf(line, sizeof line, "worst of %zu = %.1f ms (bar < 2000 ms)", times.size(), worst);
    bars.Check(allLoaded && worst < 2000, line);
    return true;
}

int Run(int argc, char** argv) {
    TOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: gateway_bench [--megabytes N] [--rounds N] [--requests N] [--tunnels N] "
                     "[--host PATH] [--keep]\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    if (options.Host.empty()) {
        options.Host = BesideThisProgram("gateway_host");
    }
    if (access(options.Host.c_str(), X_OK) != 0 || !OnPath("tinyproxy") || !OnPath("haproxy")) {
        std::fprintf(stderr,
                     "gateway_bench needs %s, tinyproxy and haproxy (scripts/setup.sh installs them)\n",
                     options.Host.c_str());
        return 2;
    }
    // Both ends of every tunnel live in this process, and tinyproxy inherits the limit.
    const unsigned long descriptors = RaiseDescriptorLimit();
    if (descriptors < 2 * options.Tunnels + 256) {
        std::fprintf(stderr, "gateway_bench: %lu open files allowed, %zu tunnels need %zu\n", descriptors,
                     options.Tunnels, 2 * options.Tunnels + 256);
        return 2;
    }
    std::string folder = "/tmp/gateway_bench.XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) {
        std::perror("gateway_bench: mkdtemp");
        return 2;
    }
    std::printf("gateway_bench on loopback: %d rounds, %d CPUs online, open-file limit %lu\n", options.Rounds,
                static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)), descriptors);
    std::fflush(stdout);

    TBars bars;
    bool complete = true;
    {
        TSources sources(options.Megabytes * 1024 * 1024);
        complete = MeasureBulk(options, sources, folder, bars) && complete;
        std::fflush(stdout);
        complete = MeasureLatency(options, sources, folder, bars) && complete;
        std::fflush(stdout);
        complete = MeasureTunnels(options, sources, folder, bars) && complete;
        std::fflush(stdout);
        complete = MeasureFailover(options, sources, folder, bars) && complete;
    }
    std::printf("\n%d bars passed, %d failed%s. The exit code is 0 either way: this is a report.\n",
                bars.Passed, bars.Failed, complete ? "" : ", some measurements could not run");
    if (options.Keep || !complete) {
        std::printf("logs: %s\n", folder.c_str());
    } else {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    return complete ? 0 : 2;
}

}  // namespace
}  // namespace cloakline::bench

int main(int argc, char** argv) {
    return cloakline::bench::Run(argc, argv);
}
