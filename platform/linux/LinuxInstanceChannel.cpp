#include "platform/linux/LinuxInstanceChannel.h"

#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/linux/PosixIo.h"

namespace cloakline {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kListenBacklog = 16;
// More connections than this in one call wait for the next one; the
// listening handle stays readable, so the owner's loop comes back at once.
constexpr int kMaxConnectionsPerServe = 64;
constexpr int kMaxListenersPerClass = 99;
constexpr std::string_view kSocketSuffix = ".sock";
// Generous room for the frame's own fields around the name and the data.
constexpr std::size_t kMaxRequestSize =
    kInstanceHeaderSize + kMaxInstanceNameLength + kMaxInstanceData + 4096;

class Deadline {
  public:
    explicit Deadline(int timeoutMs)
        : FEnd(SteadyClock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0))) {}
    // Milliseconds left, rounded up so that a poll never spins on a fraction.
    int RemainingMs() const {
        const auto left = FEnd - SteadyClock::now();
        if (left <= SteadyClock::duration::zero()) {
            return 0;
        }
        return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
    }
    bool Passed() const { return SteadyClock::now() >= FEnd; }

  private:
    SteadyClock::time_point FEnd;
};

// True when the descriptor is ready before the deadline.
bool WaitReady(int fd, short events, const Deadline& deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, deadline.RemainingMs());
        if (n > 0) {
            return true;
        }
        if (n == 0 || errno != EINTR) {
            return false;
        }
    }
}

bool SendAll(int fd, std::string_view bytes, const Deadline& deadline) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        // MSG_NOSIGNAL: a peer that went away must not raise SIGPIPE in this process.
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitReady(fd, POLLOUT, deadline)) {
                return false;
            }
        } else {
            return false;
        }
    }
    return true;
}

bool ReceiveExactly(int fd, char* buffer, std::size_t size, const Deadline& deadline) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::recv(fd, buffer + done, size - done, 0);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0) {
            return false;
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!WaitReady(fd, POLLIN, deadline)) {
                return false;
            }
        } else {
            return false;
        }
    }
    return true;
}

std::optional<sockaddr_un> SocketAddress(const std::string& path) {
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return std::nullopt;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

UniqueFd NewSocket() {
    return UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
}

enum class ConnectResult { Connected, Refused, Gone, Failed };

// Connects before the deadline. A listener whose backlog is full answers
// EAGAIN; that is a busy window, not a dead one, so it is tried again.
ConnectResult ConnectTo(const std::string& path, const Deadline& deadline, UniqueFd& out) {
    const auto address = SocketAddress(path);
    if (!address) {
        return ConnectResult::Failed;
    }
    for (;;) {
        UniqueFd fd = NewSocket();
        if (!fd.Valid()) {
            return ConnectResult::Failed;
        }
        int rc = ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address);
        if (rc != 0 && errno == EINTR) {
            rc = -1;
            errno = EINPROGRESS;
        }
        if (rc == 0) {
            out = std::move(fd);
            return ConnectResult::Connected;
        }
        switch (errno) {
            case ECONNREFUSED:
                return ConnectResult::Refused;
            case ENOENT:
            case ENOTDIR:
                return ConnectResult::Gone;
            case EINPROGRESS: {
                if (!WaitReady(fd.Get(), POLLOUT, deadline)) {
                    return ConnectResult::Failed;
                }
                int error = 0;
                socklen_t length = sizeof error;
                if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
                    return error == ECONNREFUSED ? ConnectResult::Refused : ConnectResult::Failed;
                }
                out = std::move(fd);
                return ConnectResult::Connected;
            }
            case EAGAIN:
                if (deadline.Passed()) {
                    return ConnectResult::Failed;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(std::min(5, deadline.RemainingMs())));
                continue;
            default:
                return ConnectResult::Failed;
        }
    }
}

// A socket file counts as a window unless nothing listens on it any more.
bool ProbeAlive(const std::string& path) {
    UniqueFd fd;
    const ConnectResult result = ConnectTo(path, Deadline(100), fd);
    if (result == ConnectResult::Refused) {
        ::unlink(path.c_str());
    }
    // A busy listener that cannot take even a probe is alive all the same.
    return result == ConnectResult::Connected || result == ConnectResult::Failed;
}

bool IsDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "<pid>.sock" or "<pid>.<n>.sock" after the class prefix.
bool IsListenerSuffix(std::string_view rest) {
    if (rest.size() <= kSocketSuffix.size() ||
        rest.substr(rest.size() - kSocketSuffix.size()) != kSocketSuffix) {
        return false;
    }
    rest.remove_suffix(kSocketSuffix.size());
    const auto dot = rest.find('.');
    if (dot == std::string_view::npos) {
        return IsDigits(rest);
    }
    return IsDigits(rest.substr(0, dot)) && IsDigits(rest.substr(dot + 1));
}

std::string HashedId(std::string_view id) {
    std::uint64_t hash = 1469598103934665603ull;
    for (char c : id) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (int shift = 60; shift >= 0; shift -= 4) {
        text += kHex[(hash >> shift) & 0xF];
    }
    return text;
}

bool IsUsableRuntimeDir(const char* path) {
    struct stat st {};
    return path != nullptr && path[0] == '/' && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid() && ::access(path, W_OK | X_OK) == 0;
}

bool PeerIsTrusted(int fd) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
        return false;
    }
    return peer.uid == ::geteuid() || peer.uid == 0;
}

class LinuxInstanceListener : public IInstanceListener {
  public:
    LinuxInstanceListener(UniqueFd fd, std::string path, dev_t device, ino_t inode)
        : FFd(std::move(fd)), FPath(std::move(path)), FDevice(device), FInode(inode) {}

    ~LinuxInstanceListener() override {
        // Only our own socket file goes; another process may have claimed the name since.
        struct stat st {};
        if (::lstat(FPath.c_str(), &st) == 0 && st.st_dev == FDevice && st.st_ino == FInode) {
            ::unlink(FPath.c_str());
        }
    }

    std::intptr_t NativeHandle() const override { return FFd.Get(); }

    void ServePending(const Handler& handler) override {
        for (int served = 0; served < kMaxConnectionsPerServe; ++served) {
            const int client = ::accept4(FFd.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (client < 0) {
                if (errno == EINTR || errno == ECONNABORTED) {
                    continue;
                }
                return;
            }
            ServeConnection(UniqueFd(client), handler);
        }
    }

    const std::string& Path() const { return FPath; }

  private:
    static void ServeConnection(UniqueFd client, const Handler& handler) {
        if (!PeerIsTrusted(client.Get())) {
            return;
        }
        const Deadline deadline(kInstanceServeTimeoutMs);
        std::string frame(kInstanceHeaderSize, '\0');
        if (!ReceiveExactly(client.Get(), frame.data(), frame.size(), deadline)) {
            return;
        }
        const auto size = InstanceRequestSize(frame);
        if (!size || *size < kInstanceHeaderSize || *size > kMaxRequestSize) {
            return;
        }
        frame.resize(*size);
        if (!ReceiveExactly(client.Get(), frame.data() + kInstanceHeaderSize, *size - kInstanceHeaderSize,
                            deadline)) {
            return;
        }
        const auto message = DecodeInstanceRequest(frame);
        if (!message) {
            return;
        }
        const std::int64_t reply = handler(*message);
        // The sender waits for these few bytes; a sender that left only loses its reply.
        SendAll(client.Get(), EncodeInstanceReply(reply), Deadline(std::max(deadline.RemainingMs(), 200)));
    }

    UniqueFd FFd;
    std::string FPath;
    dev_t FDevice;
    ino_t FInode;
};

}  // namespace

std::string SanitisedFileName(std::string_view text) {
    std::string name(text);
    for (char& c : name) {
        const bool portable = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                              c == '.' || c == '_' || c == '-';
        if (!portable) {
            c = '_';
        }
    }
    return name;
}

bool PreparePrivateFolder(const std::string& path, bool create) {
    if (create && ::mkdir(path.c_str(), 0700) == 0) {
        return true;
    }
    struct stat st {};
    // lstat: a link planted in a shared /tmp must not lead us elsewhere.
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        return false;
    }
    return (st.st_mode & 077) == 0 || ::chmod(path.c_str(), 0700) == 0;
}

LinuxInstanceChannel::LinuxInstanceChannel(std::string installationId, EnvLookup env)
    : FInstallationId(std::move(installationId)), FEnv(std::move(env)) {}

std::string LinuxInstanceChannel::RuntimeFolder(bool create) const {
    const char* runtime = NonEmptyEnv(FEnv, "XDG_RUNTIME_DIR");
    if (IsUsableRuntimeDir(runtime)) {
        std::string folder(runtime);
        while (folder.size() > 1 && folder.back() == '/') {
            folder.pop_back();
        }
        return folder;
    }
    const std::string fallback = "/tmp/cloakline-" + std::to_string(::geteuid());
    return PreparePrivateFolder(fallback, create) ? fallback : std::string();
}

std::string LinuxInstanceChannel::SocketFolder(std::string_view className, bool create) const {
    const std::string runtime = RuntimeFolder(create);
    if (runtime.empty()) {
        return {};
    }
    // Decided from the longest name a listener of the class can take, so that
    // every process picks the same folder whatever its pid.
    const std::size_t longestName = SanitisedFileName(className).size() +
                                    std::string_view(".4294967295.99").size() + kSocketSuffix.size();
    std::string folder = runtime + "/cloakline-" + SanitisedFileName(FInstallationId);
    if (folder.size() + 1 + longestName >= sizeof(sockaddr_un::sun_path)) {
        folder = runtime + "/cloakline-" + HashedId(FInstallationId);
    }
    if (folder.size() + 1 + longestName >= sizeof(sockaddr_un::sun_path)) {
        return {};
    }
    return PreparePrivateFolder(folder, create) ? folder : std::string();
}

std::vector<InstanceEndpoint> LinuxInstanceChannel::FindWindows(std::string_view className) const {
    std::vector<InstanceEndpoint> windows;
    const std::string folder = SocketFolder(className, false);
    if (folder.empty()) {
        return windows;
    }
    const std::string prefix = SanitisedFileName(className) + ".";
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view name = entry->d_name;
            if (name.starts_with(prefix) && IsListenerSuffix(name.substr(prefix.size())) &&
                (entry->d_type == DT_SOCK || entry->d_type == DT_UNKNOWN)) {
                names.emplace_back(name);
            }
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        std::string path = folder + "/" + name;
        if (ProbeAlive(path)) {
            windows.push_back(InstanceEndpoint{std::move(path)});
        }
    }
    return windows;
}

std::optional<std::int64_t> LinuxInstanceChannel::Send(const InstanceEndpoint& window,
                                                       const InstanceMessage& message,
                                                       int timeoutMs) const {
    const Deadline deadline(timeoutMs);
    UniqueFd fd;
    if (ConnectTo(window.Address, deadline, fd) != ConnectResult::Connected) {
        return std::nullopt;
    }
    if (!SendAll(fd.Get(), EncodeInstanceRequest(message), deadline)) {
        return std::nullopt;
    }
    std::string reply(kInstanceReplySize, '\0');
    if (!ReceiveExactly(fd.Get(), reply.data(), reply.size(), deadline)) {
        return std::nullopt;
    }
    return DecodeInstanceReply(reply);
}

std::unique_ptr<IInstanceListener> LinuxInstanceChannel::Listen(std::string_view className) {
    const std::string folder = SocketFolder(className, true);
    if (folder.empty()) {
        return nullptr;
    }
    const std::string pid = std::to_string(::getpid());
    // Bound under a name no one looks for and renamed once listening, so that
    // a FindWindows meanwhile never takes the new socket for a stale one.
    static std::atomic<int> bindCounter{0};
    const std::string bindPath = folder + "/." + pid + "." + std::to_string(++bindCounter) + ".new";
    const auto bindAddress = SocketAddress(bindPath);
    if (!bindAddress) {
        return nullptr;
    }
    UniqueFd fd = NewSocket();
    if (!fd.Valid()) {
        return nullptr;
    }
    ::unlink(bindPath.c_str());
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&*bindAddress), sizeof *bindAddress) != 0) {
        return nullptr;
    }
    struct stat st {};
    if (::listen(fd.Get(), kListenBacklog) != 0 || ::lstat(bindPath.c_str(), &st) != 0) {
        ::unlink(bindPath.c_str());
        return nullptr;
    }
    const std::string stem = folder + "/" + SanitisedFileName(className) + "." + pid;
    for (int n = 1; n <= kMaxListenersPerClass; ++n) {
        const std::string path =
            stem + (n == 1 ? std::string() : "." + std::to_string(n)) + std::string(kSocketSuffix);
        struct stat existing {};
        // A live socket of this name is another listener of ours; a dead one is left over.
        if (::lstat(path.c_str(), &existing) == 0 && ProbeAlive(path)) {
            continue;
        }
        if (::rename(bindPath.c_str(), path.c_str()) != 0) {
            break;
        }
        return std::make_unique<LinuxInstanceListener>(std::move(fd), path, st.st_dev, st.st_ino);
    }
    ::unlink(bindPath.c_str());
    return nullptr;
}

}  // namespace cloakline
