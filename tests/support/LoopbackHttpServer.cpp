#include "tests/support/LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <stdexcept>

#include "core/support/TextEncoding.h"

namespace cloakline::test {

namespace {

constexpr std::size_t kMaxConnections = 256;
constexpr std::size_t kMaxHead = 64 * 1024;
constexpr std::chrono::milliseconds kHeadTimeout{5'000};
// A chunked request body is read whole, up to this size.
constexpr std::size_t kMaxChunkedBody = 4 * 1024 * 1024;

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int BoundLoopbackSocket() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("socket failed");
    }
    const sockaddr_in address = Loopback(0);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        throw std::runtime_error("bind failed");
    }
    return fd;
}

std::uint16_t PortOf(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

std::string ReasonOf(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 204:
            return "No Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

// The path of a target, also of the absolute form that proxies are sent.
std::string PathOf(const std::string& target) {
    std::string_view path = target;
    if (const auto scheme = path.find("://"); scheme != std::string_view::npos) {
        const auto slash = path.find('/', scheme + 3);
        path = slash == std::string_view::npos ? std::string_view("/") : path.substr(slash);
    }
    return std::string(path.substr(0, path.find('?')));
}

bool ParseHead(const std::string& head, TRecordedRequest& request) {
    const auto lineEnd = head.find("\r\n");
    const std::string_view line = std::string_view(head).substr(0, lineEnd);
    const auto first = line.find(' ');
    const auto second = line.find(' ', first + 1);
    if (first == std::string_view::npos || second == std::string_view::npos) {
        return false;
    }
    request.Method = std::string(line.substr(0, first));
    request.Target = std::string(line.substr(first + 1, second - first - 1));
    request.Version = std::string(line.substr(second + 1));
    std::size_t at = lineEnd + 2;
    while (at < head.size()) {
        const auto end = head.find("\r\n", at);
        if (end == std::string::npos || end == at) {
            break;
        }
        const std::string_view field = std::string_view(head).substr(at, end - at);
        if (const auto colon = field.find(':'); colon != std::string_view::npos) {
            std::string_view value = field.substr(colon + 1);
            while (!value.empty() && value.front() == ' ') {
                value.remove_prefix(1);
            }
            request.Headers.emplace_back(std::string(field.substr(0, colon)), std::string(value));
        }
        at = end + 2;
    }
    return true;
}

bool ContainsChunked(std::string value) {
    for (char& c : value) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return value.find("chunked") != std::string::npos;
}

// The decoded bytes of a chunked body once all of it is there.
std::optional<std::string> WalkChunked(std::string_view raw) {
    std::string out;
    for (;;) {
        const std::size_t end = raw.find("\r\n");
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        const std::size_t size = std::strtoul(std::string(raw.substr(0, end)).c_str(), nullptr, 16);
        raw.remove_prefix(end + 2);
        if (size == 0) {
            // Trailers, if any, end with an empty line.
            if (raw.starts_with("\r\n") || raw.find("\r\n\r\n") != std::string_view::npos) {
                return out;
            }
            return std::nullopt;
        }
        if (raw.size() < size + 2) {
            return std::nullopt;
        }
        out.append(raw.substr(0, size));
        raw.remove_prefix(size + 2);
    }
}

bool ChunkedBodyComplete(const std::string& raw) {
    return WalkChunked(raw).has_value();
}

// What arrived of it, undecoded when it never completed.
std::string DecodeChunked(const std::string& raw) {
    return WalkChunked(raw).value_or(raw);
}

}  // namespace

void TGate::Open() {
    const std::lock_guard lock(FMutex);
    FOpen = true;
    FOpened.notify_all();
}

bool TGate::WaitOpen(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(FMutex);
    return FOpened.wait_for(lock, timeout, [this] { return FOpen; });
}

std::string TRecordedRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : Headers) {
        if (SameTextAscii(key, name)) {
            return value;
        }
    }
    return {};
}

TLoopbackHttpServer::TLoopbackHttpServer() {
    FListen = BoundLoopbackSocket();
    if (listen(FListen, 64) != 0) {
        close(FListen);
        throw std::runtime_error("listen failed");
    }
    FPort = PortOf(FListen);
    FWake = eventfd(0, EFD_CLOEXEC);
    FAcceptor = std::thread([this] { AcceptLoop(); });
}

TLoopbackHttpServer::~TLoopbackHttpServer() {
    {
        const std::lock_guard lock(FMutex);
        FStopping = true;
        for (auto& [path, route] : FRoutes) {
            for (const TScriptedResponse& response : route.Responses) {
                if (response.HoldBeforeHeaders) {
                    response.HoldBeforeHeaders->Open();
                }
            }
        }
        for (const int fd : FOpenConnections) {
            shutdown(fd, SHUT_RDWR);
        }
    }
    FChanged.notify_all();
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(FWake, &one, sizeof(one));
    FAcceptor.join();
    for (std::thread& t : FConnectionThreads) {
        t.join();
    }
    close(FWake);
    close(FListen);
}

std::string TLoopbackHttpServer::Url(std::string_view target) const {
    return "http://127.0.0.1:" + std::to_string(FPort) + std::string(target);
}

void TLoopbackHttpServer::Script(const std::string& path, std::vector<TScriptedResponse> responses) {
    const std::lock_guard lock(FMutex);
    FRoutes[path] = TRoute{std::move(responses), 0};
}

void TLoopbackHttpServer::Script(const std::string& path, TScriptedResponse response) {
    std::vector<TScriptedResponse> one;
    one.push_back(std::move(response));
    Script(path, std::move(one));
}

std::vector<TRecordedRequest> TLoopbackHttpServer::Requests() const {
    const std::lock_guard lock(FMutex);
    return FRequests;
}

bool TLoopbackHttpServer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(FMutex);
    return FChanged.wait_for(lock, timeout, [&] { return FRequests.size() >= count; });
}

std::size_t TLoopbackHttpServer::Finished() const {
    const std::lock_guard lock(FMutex);
    return FFinished;
}

bool TLoopbackHttpServer::WaitForFinished(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(FMutex);
    return FChanged.wait_for(lock, timeout, [&] { return FFinished >= count; });
}

void TLoopbackHttpServer::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{FListen, POLLIN, 0}, {FWake, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        sockaddr_in peer{};
        socklen_t peerLength = sizeof(peer);
        const int fd = accept4(FListen, reinterpret_cast<sockaddr*>(&peer), &peerLength, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        char peerText[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &peer.sin_addr, peerText, sizeof(peerText));
        const std::lock_guard lock(FMutex);
        if (FStopping || FConnectionThreads.size() >= kMaxConnections) {
            close(fd);
            continue;
        }
        FOpenConnections.push_back(fd);
        FConnectionThreads.emplace_back([this, fd, from = std::string(peerText)] { Serve(fd, from); });
    }
}

bool TLoopbackHttpServer::Pause(std::chrono::milliseconds delay) {
    std::unique_lock lock(FMutex);
    return !FChanged.wait_for(lock, std::min(delay, kLongestHold), [this] { return FStopping; });
}

TScriptedResponse TLoopbackHttpServer::Take(const std::string& path) {
    const std::lock_guard lock(FMutex);
    const auto it = FRoutes.find(path);
    if (it == FRoutes.end() || it->second.Responses.empty()) {
        TScriptedResponse missing;
        missing.Status = 404;
        return missing;
    }
    TRoute& route = it->second;
    const std::size_t index = std::min(route.Next, route.Responses.size() - 1);
    ++route.Next;
    return route.Responses[index];
}

bool TLoopbackHttpServer::SendAll(int fd, std::string_view bytes) const {
    while (!bytes.empty()) {
        const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

void TLoopbackHttpServer::Serve(int fd, const std::string& peer) {
    std::string head;
    const auto deadline = std::chrono::steady_clock::now() + kHeadTimeout;
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxHead) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd fds[2] = {{fd, POLLIN, 0}, {FWake, POLLIN, 0}};
        const int ready = poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0 || fds[1].revents != 0) {
            break;
        }
        char buffer[4096];
        const ssize_t got = recv(fd, buffer, sizeof(buffer), 0);
        if (got <= 0) {
            break;
        }
        head.append(buffer, static_cast<std::size_t>(got));
    }

    TRecordedRequest request;
    request.Peer = peer;
    if (head.find("\r\n\r\n") != std::string::npos && ParseHead(head, request)) {
        const std::string path = PathOf(request.Target);
        request.Body = head.substr(head.find("\r\n\r\n") + 4);
        const bool chunked = ContainsChunked(request.Header("Transfer-Encoding"));
        const std::size_t announced = std::strtoul(request.Header("Content-Length").c_str(), nullptr, 10);
        while (chunked ? !ChunkedBodyComplete(request.Body) && request.Body.size() < kMaxChunkedBody
                       : request.Body.size() < std::min(announced, kMaxHead)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd fds[2] = {{fd, POLLIN, 0}, {FWake, POLLIN, 0}};
            if (left.count() <= 0 || poll(fds, 2, static_cast<int>(left.count())) <= 0 ||
                fds[1].revents != 0) {
                break;
            }
            char buffer[4096];
            const ssize_t got = recv(fd, buffer, sizeof(buffer), 0);
            if (got <= 0) {
                break;
            }
            request.Body.append(buffer, static_cast<std::size_t>(got));
        }
        if (chunked) {
            request.Body = DecodeChunked(request.Body);
        }
        {
            const std::lock_guard lock(FMutex);
            FRequests.push_back(request);
        }
        FChanged.notify_all();

        const TScriptedResponse response = Take(path);
        bool goOn = true;
        if (response.HoldBeforeHeaders) {
            goOn = response.HoldBeforeHeaders->WaitOpen(kLongestHold);
        }
        if (goOn && response.DelayBeforeHeaders.count() > 0) {
            goOn = Pause(response.DelayBeforeHeaders);
        }
        {
            const std::lock_guard lock(FMutex);
            goOn = goOn && !FStopping;
        }
        if (goOn) {
            std::string out =
                "HTTP/1.1 " + std::to_string(response.Status) + " " + ReasonOf(response.Status) + "\r\n";
            for (const auto& [name, value] : response.Headers) {
                out += name + ": " + value + "\r\n";
            }
            if (response.AnnounceLength) {
                out += "Content-Length: " + std::to_string(response.Body.size()) + "\r\n";
            }
            out += "Connection: close\r\n\r\n";
            const std::string_view body = response.Body;
            const std::size_t split = std::min(response.SplitAt, body.size());
            goOn = SendAll(fd, out) && SendAll(fd, body.substr(0, split));
            if (goOn && response.SplitAt != std::string::npos) {
                if (response.DelayMidBody.count() > 0) {
                    goOn = Pause(response.DelayMidBody);
                }
                goOn = goOn && !response.CloseMidBody;
            }
            if (goOn) {
                SendAll(fd, body.substr(split));
            }
        }
    }

    {
        const std::lock_guard lock(FMutex);
        ++FFinished;
        FOpenConnections.erase(std::remove(FOpenConnections.begin(), FOpenConnections.end(), fd),
                               FOpenConnections.end());
        close(fd);
    }
    FChanged.notify_all();
}

TStalledListener::TStalledListener() {
    FListen = BoundLoopbackSocket();
    // The smallest queue: one completed connection fills it, later handshakes
    // get no answer.
    if (listen(FListen, 0) != 0) {
        close(FListen);
        throw std::runtime_error("listen failed");
    }
    FPort = PortOf(FListen);
    const sockaddr_in address = Loopback(FPort);
    for (int attempt = 0; attempt < 8 && !FStalled; ++attempt) {
        const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (probe < 0) {
            break;
        }
        const int rc = connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
        bool connected = rc == 0;
        if (!connected && errno == EINPROGRESS) {
            pollfd fds{probe, POLLOUT, 0};
            int error = 0;
            socklen_t length = sizeof(error);
            connected = poll(&fds, 1, 200) == 1 &&
                        getsockopt(probe, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
        }
        if (connected) {
            FFillers.push_back(probe);
        } else {
            FStalled = true;
            close(probe);
        }
    }
}

TStalledListener::~TStalledListener() {
    for (const int fd : FFillers) {
        close(fd);
    }
    close(FListen);
}

std::uint16_t UnusedLoopbackPort() {
    const int fd = BoundLoopbackSocket();
    const std::uint16_t port = PortOf(fd);
    close(fd);
    return port;
}

}  // namespace cloakline::test
