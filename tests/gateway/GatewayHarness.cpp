#include "tests/gateway/GatewayHarness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace cloakline::test {

TMainQueue::TMainQueue() : FState(std::make_shared<TState>()) {}

gateway::TGateway::TPoster TMainQueue::Poster() const {
    return [state = FState](std::function<void()> callback) {
        {
            const std::lock_guard lock(state->Mutex);
            state->Callbacks.push_back(std::move(callback));
        }
        state->Posted.notify_all();
    };
}

bool TMainQueue::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        std::function<void()> next;
        {
            std::unique_lock lock(FState->Mutex);
            if (!FState->Posted.wait_until(lock, deadline, [this] { return !FState->Callbacks.empty(); })) {
                return done();
            }
            next = std::move(FState->Callbacks.front());
            FState->Callbacks.pop_front();
        }
        next();
    }
    return true;
}

TScriptedResponse Page(std::string body) {
    TScriptedResponse response;
    response.Body = std::move(body);
    return response;
}

namespace {

std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

}  // namespace

TCurlRun RunCurl(const TempDir& dir, const std::vector<std::string>& arguments) {
    static std::atomic<int> runs{0};
    const std::string name = "curl-" + std::to_string(++runs);
    std::string command = "curl -sS --max-time 15";
    for (const std::string& argument : arguments) {
        command += " " + Quoted(argument);
    }
    command +=
        " >" + Quoted(dir.Path() + "/" + name + ".out") + " 2>" + Quoted(dir.Path() + "/" + name + ".err");
    const int status = std::system(command.c_str());
    TCurlRun run;
    run.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.Out = dir.ReadFile(name + ".out");
    run.Err = dir.ReadFile(name + ".err");
    return run;
}

TRawExchange ExchangeRaw(std::uint16_t port, const std::string& bytes, std::chrono::milliseconds timeout) {
    TRawExchange exchange;
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        exchange.Closed = true;
        return exchange;
    }
    if (!bytes.empty()) {
        (void)send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd poller{fd, POLLIN, 0};
        if (poll(&poller, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        char chunk[4096];
        const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0) {
            exchange.Closed = true;
            break;
        }
        exchange.Reply.append(chunk, static_cast<std::size_t>(got));
    }
    close(fd);
    return exchange;
}

TTunnelClient::TTunnelClient(std::uint16_t port) {
    FSocket = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(FSocket);
        FSocket = -1;
    }
}

TTunnelClient::~TTunnelClient() {
    if (FSocket >= 0) {
        close(FSocket);
    }
}

bool TTunnelClient::Send(const std::string& bytes) {
    return FSocket >= 0 &&
           send(FSocket, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

std::string TTunnelClient::ReceiveUntil(const std::string& marker, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (FSocket >= 0 && FReceived.find(marker) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd poller{FSocket, POLLIN, 0};
        if (left.count() <= 0 || poll(&poller, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        char chunk[4096];
        const ssize_t got = recv(FSocket, chunk, sizeof chunk, 0);
        if (got <= 0) {
            break;
        }
        FReceived.append(chunk, static_cast<std::size_t>(got));
    }
    return FReceived;
}

TGatewayUpstream HttpUpstream(std::uint64_t id,
                              std::uint16_t port,
                              const std::string& user,
                              const std::string& password) {
    TGatewayUpstream upstream;
    upstream.Id = id;
    upstream.Address = TProxyAddress{TProxyScheme::Http, "127.0.0.1", port, user, password};
    return upstream;
}

TGatewayUpstream SocksUpstream(std::uint64_t id,
                               std::uint16_t port,
                               const std::string& user,
                               const std::string& password) {
    TGatewayUpstream upstream = HttpUpstream(id, port, user, password);
    upstream.Address.Scheme = TProxyScheme::Socks5;
    return upstream;
}

}  // namespace cloakline::test
