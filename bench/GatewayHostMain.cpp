// The gateway as a process of its own, so that a benchmark can read its
// memory from /proc/PID/status and kill the proxies around it.
// Usage: gateway_host [--port N] [--upstream ADDRESS] [--standby ADDRESS]
// Prints "port N" once it listens, and a line for every failover; ends on
// SIGTERM or SIGINT.
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "core/proxy/ProxyAddress.h"
#include "gateway/Gateway.h"

namespace {

volatile sig_atomic_t GStop = 0;

void OnStopSignal(int) {
    GStop = 1;
}

// The callbacks the gateway hands to its caller's main thread.
class TMainQueue {
  public:
    void Post(std::function<void()> work) {
        {
            std::lock_guard lock(FMutex);
            FWork.push_back(std::move(work));
        }
        FReady.notify_one();
    }

    // Runs what was posted until a stop signal arrives.
    void RunUntilStopped() {
        while (GStop == 0) {
            std::unique_lock lock(FMutex);
            FReady.wait_for(lock, std::chrono::milliseconds(100), [this] { return !FWork.empty(); });
            while (!FWork.empty()) {
                std::function<void()> work = std::move(FWork.front());
                FWork.pop_front();
                lock.unlock();
                work();
                lock.lock();
            }
        }
    }

  private:
    std::mutex FMutex;
    std::condition_variable FReady;
    std::deque<std::function<void()>> FWork;
};

// Each open tunnel costs the gateway two descriptors.
void RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int Usage(const char* why) {
    std::fprintf(
        stderr, "gateway_host: %s\nusage: gateway_host [--port N] [--upstream ADDRESS] [--standby ADDRESS]\n",
        why);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using cloakline::TGatewayUpstream;
    long wishedPort = 0;
    std::optional<TGatewayUpstream> current;
    std::optional<TGatewayUpstream> standby;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (i + 1 >= argc) {
            return Usage("every option takes a value");
        }
        const char* value = argv[++i];
        if (option == "--port") {
            char* end = nullptr;
            wishedPort = std::strtol(value, &end, 10);
            if (*end != '\0' || wishedPort < 0 || wishedPort > 65535) {
                return Usage("--port takes a number up to 65535");
            }
        } else if (option == "--upstream" || option == "--standby") {
            const std::optional<cloakline::TProxyAddress> address = cloakline::ParseProxyAddress(value);
            if (!address) {
                return Usage("not a proxy address");
            }
            (option == "--upstream" ? current : standby) =
                TGatewayUpstream{option == "--upstream" ? 1u : 2u, *address};
        } else {
            return Usage("unknown option");
        }
    }

    RaiseDescriptorLimit();
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    TMainQueue mainQueue;
    cloakline::gateway::TGateway gateway(
        [&mainQueue](std::function<void()> work) { mainQueue.Post(std::move(work)); });
    gateway.SetFailClosedPage("<!DOCTYPE html><html><body><p>No proxy works.</p></body></html>\n");
    gateway.SetOnUpstreamFailed([](std::uint64_t failedId, std::optional<std::uint64_t> nowCurrent) {
        if (nowCurrent) {
            std::printf("failed %llu now %llu\n", static_cast<unsigned long long>(failedId),
                        static_cast<unsigned long long>(*nowCurrent));
        } else {
            std::printf("failed %llu now none\n", static_cast<unsigned long long>(failedId));
        }
        std::fflush(stdout);
    });
    gateway.SetUpstreams(current, standby);
    std::string error;
    const std::uint16_t port = gateway.Listen(static_cast<std::uint16_t>(wishedPort), error);
    if (port == 0) {
        std::fprintf(stderr, "gateway_host: cannot listen: %s\n", error.c_str());
        return 1;
    }
    std::printf("port %u\n", static_cast<unsigned>(port));
    std::fflush(stdout);
    mainQueue.RunUntilStopped();
    return 0;
}
