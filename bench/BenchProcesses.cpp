#include "bench/BenchProcesses.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TinyProxy.h"

extern char** environ;

namespace cloakline::bench {

namespace {

constexpr std::chrono::seconds kStartLimit{10};

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string TinyProxyConfig(const std::string& folder, std::uint16_t port) {
    std::string text = "Port " + std::to_string(port) +
                       "\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 600\nLogLevel Error\nMaxClients 4000\n";
    if (geteuid() == 0) {
        text += "User nobody\nGroup nogroup\n";
    }
    const std::string path = folder + "/tinyproxy-" + std::to_string(port) + ".conf";
    WriteFile(path, text);
    return path;
}

// TCP mode: HAProxy relays the bytes of the CONNECT exchange and the tunnel
// alike, as a load balancer in front of proxies would.
std::string HaProxyConfig(const std::string& folder, std::uint16_t port, std::uint16_t target) {
    const std::string text =
        "global\n    maxconn 8192\n"
        "defaults\n    mode tcp\n    timeout connect 5s\n    timeout client 120s\n    timeout server 120s\n"
        "frontend relay\n    bind 127.0.0.1:" +
        std::to_string(port) +
        "\n    default_backend upstream\n"
        "backend upstream\n    server tinyproxy 127.0.0.1:" +
        std::to_string(target) + "\n";
    const std::string path = folder + "/haproxy-" + std::to_string(port) + ".cfg";
    WriteFile(path, text);
    return path;
}

}  // namespace

unsigned long RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 0;
    }
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    return static_cast<unsigned long>(limit.rlim_cur);
}

long StatusKb(pid_t pid, const char* field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    const std::string name = field;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(name, 0) == 0) {
            return std::atol(line.c_str() + name.size());
        }
    }
    return -1;
}

TBenchProcess::TBenchProcess(const std::vector<std::string>& arguments,
                             const std::string& logFile,
                             bool pipeOutput) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    int fds[2] = {-1, -1};
    if (pipeOutput && pipe2(fds, O_CLOEXEC) != 0) {
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (pipeOutput) {
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    } else {
        posix_spawn_file_actions_adddup2(&actions, 2, 1);
    }
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        FPid = pid;
    }
    posix_spawn_file_actions_destroy(&actions);
    if (pipeOutput) {
        close(fds[1]);
        FOutput = fds[0];
    }
}

TBenchProcess::~TBenchProcess() {
    Terminate();
    if (FOutput >= 0) {
        close(FOutput);
    }
}

std::string TBenchProcess::FirstLine(std::chrono::milliseconds timeout) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (FOutput >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{FOutput, POLLIN, 0};
        if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
            return {};
        }
        char c = 0;
        if (read(FOutput, &c, 1) != 1) {
            return {};
        }
        if (c == '\n') {
            return line;
        }
        line += c;
    }
    return {};
}

void TBenchProcess::Kill() {
    if (FPid > 0) {
        kill(FPid, SIGKILL);
        waitpid(FPid, nullptr, 0);
        FPid = -1;
    }
}

void TBenchProcess::Terminate() {
    if (FPid <= 0) {
        return;
    }
    kill(FPid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(FPid, nullptr, WNOHANG) == FPid) {
            FPid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Kill();
}

TBenchTinyProxy::TBenchTinyProxy(const std::string& folder)
    : FPort(test::UnusedLoopbackPort()),
      FProcess({"tinyproxy", "-d", "-c", TinyProxyConfig(folder, FPort)},
               folder + "/tinyproxy-" + std::to_string(FPort) + ".log") {
    FUp = FProcess.Started() && test::WaitLoopbackPort(FPort, kStartLimit);
}

TBenchHaProxy::TBenchHaProxy(const std::string& folder, std::uint16_t target)
    : FPort(test::UnusedLoopbackPort()),
      FProcess({"haproxy", "-db", "-f", HaProxyConfig(folder, FPort, target)},
               folder + "/haproxy-" + std::to_string(FPort) + ".log") {
    FUp = FProcess.Started() && test::WaitLoopbackPort(FPort, kStartLimit);
}

TBenchGateway::TBenchGateway(const std::string& hostProgram,
                             const std::string& folder,
                             const std::string& upstream,
                             const std::string& standby)
    : FProcess(
          [&] {
              std::vector<std::string> arguments = {
                  hostProgram, "--port", std::to_string(test::UnusedLoopbackPort()), "--upstream", upstream};
              if (!standby.empty()) {
                  arguments.insert(arguments.end(), {"--standby", standby});
              }
              return arguments;
          }(),
          folder + "/gateway.log",
          true) {
    const std::string line = FProcess.FirstLine(kStartLimit);
    if (line.rfind("port ", 0) == 0) {
        FPort = static_cast<std::uint16_t>(std::atoi(line.c_str() + 5));
    }
    if (FPort != 0 && !test::WaitLoopbackPort(FPort, kStartLimit)) {
        FPort = 0;
    }
}

}  // namespace cloakline::bench
