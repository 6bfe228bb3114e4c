#include "server/HttpService.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "server/AsioBeast.h"
#include "server/HttpRoutes.h"
#include "server/core/ClientAddress.h"
#include "server/core/RequestHead.h"

namespace cloakline::server {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;

namespace {

constexpr std::size_t kReadChunk = 4096;
// After the last answer the client's leftovers are read and dropped for a
// while: closing with unread bytes would reset the connection and could take
// the answer with it.
constexpr std::chrono::milliseconds kLinger{2000};
constexpr std::size_t kMaxLingerBytes = 256 * 1024;
// How long stopping waits, after closing what is left, before it cuts the I/O off.
constexpr std::chrono::milliseconds kCutOff{500};
// Connections taken from the kernel's queue at one wake-up of the accept loop.
constexpr int kAcceptBurst = 64;

auto Redirect(error_code& ec) {
    return asio::redirect_error(asio::use_awaitable, ec);
}

std::string_view BufferText(const beast::flat_buffer& buffer) {
    return {static_cast<const char*>(buffer.data().data()), buffer.size()};
}

std::string AddressText(asio::ip::address address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    }
    return address.to_string();
}

// Errors of the parser about what the client sent, as against the
// connection ending, timing out or being closed.
bool IsMalformed(const error_code& ec) {
    return ec.category() == http::make_error_code(http::error::header_limit).category() &&
           ec != http::error::end_of_stream && ec != http::error::partial_message;
}

// Every X-Forwarded-For line of a request, joined as one list.
std::optional<std::string> ForwardedFor(const http::request_header<>& head) {
    std::optional<std::string> joined;
    const auto [first, last] = head.equal_range("X-Forwarded-For");
    for (auto it = first; it != last; ++it) {
        joined = joined ? *joined + ", " + std::string(it->value()) : std::string(it->value());
    }
    return joined;
}

http::response<http::string_body> ResponseOf(THttpAnswer answer, bool head, bool last, unsigned version) {
    http::response<http::string_body> response{static_cast<http::status>(answer.Status), 11};
    if (!answer.ContentType.empty()) {
        response.set(http::field::content_type, answer.ContentType);
    }
    // A HEAD answer announces the length the GET's body would have.
    response.content_length(answer.Body.size());
    if (!head) {
        response.body() = std::move(answer.Body);
    }
    response.keep_alive(!last);
    if (!last && version == 10) {
        response.set(http::field::connection, "keep-alive");
    }
    return response;
}

struct TConnection {
    explicit TConnection(tcp::socket socket) : Stream(std::move(socket)) {}

    beast::tcp_stream Stream;
    // On the connection's strand only.
    bool Busy = false;    // from a whole request head to its answer sent
    bool Ending = false;  // the service stops: no further request
};

enum class TStart { KPlain, KProxyHeader, KBroken, KEnded };

}  // namespace

struct THttpService::TImpl {
    IProxyStore& Store;
    const TAddressLocator& Locator;
    TServerLog& Log;
    THttpServiceSettings Settings;
    TTrustedProxies Trusted;
    std::unique_ptr<THttpRoutes> Routes;

    // Shared by the I/O threads and whoever stops the service.
    mutable std::mutex Mutex;
    std::condition_variable Changed;
    std::unordered_set<std::shared_ptr<TConnection>> Live;
    std::unordered_map<std::string, int> PerClient;
    bool Running = false;
    bool Finished = false;
    bool Stopping = false;
    std::atomic<bool> Started{false};

    asio::io_context Io;
    asio::strand<asio::io_context::executor_type> AcceptStrand{asio::make_strand(Io)};
    tcp::acceptor Acceptor{AcceptStrand};
    std::optional<asio::thread_pool> Workers;

    TImpl(IProxyStore& store, const TAddressLocator& locator, TServerLog& log)
        : Store(store), Locator(locator), Log(log) {}

    // Leaves the set of live connections (and the client's count) when the
    // connection's coroutine ends, however it ends.
    struct TMembership {
        TImpl& Impl;
        std::shared_ptr<TConnection> Connection;
        std::optional<std::string> Slot;

        ~TMembership() {
            const std::lock_guard lock(Impl.Mutex);
            if (Slot) {
                const auto it = Impl.PerClient.find(*Slot);
                if (it != Impl.PerClient.end() && --it->second <= 0) {
                    Impl.PerClient.erase(it);
                }
            }
            Impl.Live.erase(Connection);
            Impl.Changed.notify_all();
        }

        bool TakeSlot(const std::string& client) {
            const std::lock_guard lock(Impl.Mutex);
            int& open = Impl.PerClient[client];
            if (open >= Impl.Settings.MaxConnectionsPerClient) {
                return false;
            }
            ++open;
            Slot = client;
            return true;
        }
    };

    void Refusal(const std::string& client, int status, std::string_view what, const std::string& reason) {
        Log.Refusal(client, std::to_string(status) + " " + std::string(what) + " from " + client +
                                (reason.empty() ? std::string() : ": " + reason));
    }

    THttpAnswer Health(std::string_view target) const {
        THttpAnswer answer;
        answer.ContentType = "text/plain; charset=utf-8";
        const auto query = TQuery::Parse(target);
        if (!query || query->Get("detail") != "1") {
            answer.Body = "ok";
            return answer;
        }
        std::size_t connections = 0;
        {
            const std::lock_guard lock(Mutex);
            connections = Live.size();
        }
        answer.Body = "status=ok\nconnections=" + std::to_string(connections) +
                      "\nlog_write_failures=" + std::to_string(Log.WriteFailures()) +
                      "\nstore_failures=" + std::to_string(Routes->StoreFailures()) + "\n";
        return answer;
    }

    // The answer of one request, made on the store's workers.
    asio::awaitable<THttpAnswer> AnswerOnWorker(std::string target, std::string client) {
        co_return Routes->Answer(target, client);
    }

    // A trusted balancer's connection may start with a PROXY protocol header.
    static asio::awaitable<TStart> ReadProxyHeader(beast::tcp_stream& stream,
                                                   beast::flat_buffer& buffer,
                                                   TProxyProtocolHeader& header) {
        for (;;) {
            const std::string_view bytes = BufferText(buffer);
            if (!bytes.empty()) {
                if (!MayStartProxyProtocolHeader(bytes)) {
                    co_return TStart::KPlain;
                }
                switch (ParseProxyProtocolHeader(bytes, header)) {
                    case TProxyProtocolStatus::KComplete:
                        buffer.consume(header.Length);
                        co_return TStart::KProxyHeader;
                    case TProxyProtocolStatus::KInvalid:
                        co_return TStart::KBroken;
                    case TProxyProtocolStatus::KIncomplete:
                        break;
                }
                if (bytes.size() >= kMaxHeadBytes) {
                    co_return TStart::KBroken;
                }
            }
            error_code ec;
            const std::size_t got = co_await stream.async_read_some(buffer.prepare(kReadChunk), Redirect(ec));
            if (ec) {
                co_return TStart::KEnded;
            }
            buffer.commit(got);
        }
    }

    // Ends a connection: no more answers, the client's leftovers dropped
    // unread for a while (not when stopping), then closed.
    static asio::awaitable<void> Close(TConnection& connection) {
        auto& stream = connection.Stream;
        error_code ec;
        stream.socket().shutdown(tcp::socket::shutdown_send, ec);
        if (!ec && !connection.Ending) {
            stream.expires_after(kLinger);
            std::array<char, kReadChunk> sink{};
            for (std::size_t dropped = 0; dropped < kMaxLingerBytes;) {
                const std::size_t got = co_await stream.async_read_some(asio::buffer(sink), Redirect(ec));
                if (ec) {
                    break;
                }
                dropped += got;
            }
        }
        stream.close();
    }

    asio::awaitable<void> Serve(std::shared_ptr<TConnection> connection) {
        TMembership membership{*this, connection, std::nullopt};
        auto& stream = connection->Stream;
        const THttpDeadlines& deadlines = Settings.Deadlines;
        error_code ec;
        const tcp::endpoint remote = stream.socket().remote_endpoint(ec);
        if (ec) {
            stream.close();
            co_return;
        }
        // The address whose word counts: the TCP peer, or the client that a
        // trusted balancer's PROXY header names.
        std::string peer = AddressText(remote.address());
        beast::flat_buffer buffer;
        stream.expires_after(deadlines.Head);
        bool counted = true;
        if (!Trusted.Empty() && Trusted.Contains(peer)) {
            TProxyProtocolHeader header;
            const TStart start = co_await ReadProxyHeader(stream, buffer, header);
            if (start == TStart::KEnded) {
                stream.close();
                co_return;
            }
            if (start == TStart::KBroken) {
                Refusal(peer, 400, "(unread request)", "broken PROXY protocol header");
                co_await Answer(*connection, THttpAnswer{400, "", "", ""}, false, true, 11);
                co_await Close(*connection);
                co_return;
            }
            if (start == TStart::KProxyHeader && !header.SourceAddress.empty()) {
                peer = header.SourceAddress;
            } else {
                // The balancer's own connection carries many clients.
                counted = false;
            }
        }
        if (counted && !membership.TakeSlot(peer)) {
            Log.Refusal(peer, "connection from " + peer + " closed: over " +
                                  std::to_string(Settings.MaxConnectionsPerClient) + " open connections");
            stream.close();
            co_return;
        }

        for (int served = 0;;) {
            if (connection->Ending) {
                break;
            }
            if (served > 0) {
                stream.expires_after(deadlines.Idle);
            }
            if (buffer.size() == 0) {
                const std::size_t got =
                    co_await stream.async_read_some(buffer.prepare(kReadChunk), Redirect(ec));
                if (ec || connection->Ending) {
                    break;
                }
                buffer.commit(got);
            }
            // The whole head within its time from its first byte.
            if (served > 0) {
                stream.expires_after(deadlines.Head);
            }
            TRequestHeadParser parser;
            PrepareRequestHeadParser(parser);
            co_await http::async_read_header(stream, buffer, parser, Redirect(ec));
            if (ec && !IsMalformed(ec)) {
                break;
            }
            connection->Busy = true;
            ++served;
            const bool unread = static_cast<bool>(ec);
            const THeadVerdict verdict =
                unread ? JudgeUnreadHead(ec, BufferText(buffer)) : JudgeRequestHead(parser);
            const auto& head = parser.get();
            std::string client = peer;
            if (!unread && !Trusted.Empty()) {
                const auto forwarded = ForwardedFor(head);
                client = ClientAddressOf(
                    peer, forwarded ? std::optional<std::string_view>(*forwarded) : std::nullopt, Trusted);
            }
            const std::string target(head.target());
            THttpAnswer answer;
            if (verdict.Refused()) {
                answer.Status = verdict.Status;
                answer.Refusal = verdict.Reason;
            } else if (PathOfTarget(target) == "/health") {
                answer = Health(target);
            } else if (THttpRoutes::Blocks(target)) {
                // (A coroutine of its own rather than a lambda: GCC 12 frees a
                // coroutine lambda's captures twice.)
                answer = co_await asio::co_spawn(Workers->get_executor(), AnswerOnWorker(target, client),
                                                 asio::use_awaitable);
            } else {
                answer = Routes->Answer(target, client);
            }
            const bool refused = answer.Status >= 400;
            if (refused) {
                const std::string what = unread ? std::string("(unread request)")
                                                : std::string(head.method_string().substr(0, 16)) + " " +
                                                      std::string(PathOfTarget(target).substr(0, 200));
                Refusal(client, answer.Status, what, answer.Refusal);
            }
            // Every refusal ends the connection: whatever follows the refused
            // head (a body, say) must not pass for a request.
            const bool last = refused || served >= Settings.MaxRequestsPerConnection || connection->Ending ||
                              !head.keep_alive();
            const bool ok =
                co_await Answer(*connection, std::move(answer), !unread && head.method() == http::verb::head,
                                last, unread ? 11 : head.version());
            connection->Busy = false;
            if (!ok || last) {
                break;
            }
        }
        co_await Close(*connection);
    }

    asio::awaitable<bool> Answer(TConnection& connection,
                                 THttpAnswer answer,
                                 bool head,
                                 bool last,
                                 unsigned version) {
        auto response = ResponseOf(std::move(answer), head, last, version);
        connection.Stream.expires_after(Settings.Deadlines.Write);
        error_code ec;
        co_await http::async_write(connection.Stream, response, Redirect(ec));
        co_return !ec;
    }

    asio::awaitable<void> AcceptLoop() {
        asio::steady_timer pause(AcceptStrand);
        for (;;) {
            tcp::socket socket(asio::make_strand(Io));
            error_code ec;
            co_await Acceptor.async_accept(socket, Redirect(ec));
            if (!Acceptor.is_open()) {
                break;
            }
            if (ec) {
                // Out of descriptors and the like: breathe, then go on.
                pause.expires_after(std::chrono::milliseconds(50));
                co_await pause.async_wait(Redirect(ec));
                continue;
            }
            Admit(std::move(socket));
            // One accept per wake-up would leave a burst of connections in
            // the kernel's queue for as long as the busy threads take to
            // come round again: take what is already there.
            for (int more = 0; more < kAcceptBurst && Acceptor.is_open(); ++more) {
                tcp::socket next(asio::make_strand(Io));
                Acceptor.accept(next, ec);
                if (ec) {
                    break;
                }
                Admit(std::move(next));
            }
        }
    }

    void Admit(tcp::socket socket) {
        error_code ec;
        socket.set_option(tcp::no_delay(true), ec);
        const auto executor = socket.get_executor();
        auto connection = std::make_shared<TConnection>(std::move(socket));
        {
            const std::lock_guard lock(Mutex);
            if (Stopping) {
                return;
            }
            Live.insert(connection);
        }
        asio::co_spawn(executor, Serve(std::move(connection)), asio::detached);
    }

    std::vector<std::shared_ptr<TConnection>> Snapshot() const {
        const std::lock_guard lock(Mutex);
        return {Live.begin(), Live.end()};
    }

    // Nothing new is taken; connections waiting for a request are closed now.
    void BeginStop() {
        asio::post(AcceptStrand, [this] {
            error_code ignored;
            Acceptor.close(ignored);
        });
        for (const auto& connection : Snapshot()) {
            asio::post(connection->Stream.get_executor(), [connection] {
                connection->Ending = true;
                if (!connection->Busy) {
                    connection->Stream.close();
                }
            });
        }
    }

    void CloseAll() {
        for (const auto& connection : Snapshot()) {
            asio::post(connection->Stream.get_executor(), [connection] {
                connection->Ending = true;
                connection->Stream.close();
            });
        }
    }
};

THttpService::THttpService(IProxyStore& store, const TAddressLocator& locator, TServerLog& log)
    : FImpl(std::make_unique<TImpl>(store, locator, log)) {}

THttpService::~THttpService() {
    Stop();
}

int THttpService::Bind(const std::string& address, int port) {
    auto& acceptor = FImpl->Acceptor;
    error_code ec;
    asio::ip::address ip = asio::ip::make_address(address, ec);
    if (ec) {
        tcp::resolver resolver(FImpl->Io);
        const auto found = resolver.resolve(address, "", ec);
        if (ec || found.empty()) {
            return -1;
        }
        ip = found.begin()->endpoint().address();
    }
    const tcp::endpoint endpoint(ip, static_cast<std::uint16_t>(port));
    acceptor.open(endpoint.protocol(), ec);
    if (!ec) {
        acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    }
    if (!ec) {
        acceptor.bind(endpoint, ec);
    }
    if (!ec) {
        // The kernel's whole queue: a burst of connecting clients waits there
        // instead of having its SYNs dropped.
        acceptor.listen(asio::socket_base::max_listen_connections, ec);
    }
    if (!ec) {
        // The accept loop drains the queue without waiting.
        acceptor.non_blocking(true, ec);
    }
    if (ec) {
        error_code ignored;
        acceptor.close(ignored);
        return -1;
    }
    return acceptor.local_endpoint().port();
}

void THttpService::Configure(THttpServiceSettings settings) {
    std::string error;
    auto trusted = TTrustedProxies::Parse(settings.TrustedProxies, error);
    if (!trusted) {
        throw std::invalid_argument("--trusted-proxy: " + error);
    }
    FImpl->Trusted = std::move(*trusted);
    FImpl->Settings = std::move(settings);
    FImpl->Routes = std::make_unique<THttpRoutes>(
        FImpl->Store, FImpl->Locator,
        TRouteSettings{FImpl->Settings.MagicWord, FImpl->Settings.Pages, FImpl->Settings.FlagsDir});
    FImpl->Workers.emplace(static_cast<std::size_t>(std::max(1, FImpl->Settings.Threads)));
}

void THttpService::Run() {
    auto& d = *FImpl;
    d.Started = true;
    {
        const std::lock_guard lock(d.Mutex);
        if (d.Stopping || !d.Acceptor.is_open() || !d.Workers) {
            d.Finished = true;
            d.Changed.notify_all();
            return;
        }
        d.Running = true;
    }
    d.Changed.notify_all();
    asio::co_spawn(d.AcceptStrand, d.AcceptLoop(), asio::detached);
    std::vector<std::thread> threads;
    for (int i = 1; i < d.Settings.IoThreads; ++i) {
        threads.emplace_back([&d] { d.Io.run(); });
    }
    d.Io.run();
    for (std::thread& t : threads) {
        t.join();
    }
    d.Workers->stop();
    d.Workers->join();
    {
        const std::lock_guard lock(d.Mutex);
        d.Finished = true;
    }
    d.Changed.notify_all();
}

bool THttpService::WaitRunning(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(FImpl->Mutex);
    FImpl->Changed.wait_for(lock, timeout, [this] { return FImpl->Running || FImpl->Finished; });
    return FImpl->Running && !FImpl->Finished;
}

void THttpService::Stop() {
    auto& d = *FImpl;
    if (d.Started.load()) {
        WaitRunning(std::chrono::seconds(5));
    }
    std::unique_lock lock(d.Mutex);
    const bool first = !d.Stopping;
    d.Stopping = true;
    if (!d.Running || d.Finished) {
        return;
    }
    if (first) {
        lock.unlock();
        d.BeginStop();
        lock.lock();
    }
    if (d.Changed.wait_for(lock, d.Settings.Deadlines.StopGrace, [&d] { return d.Finished; })) {
        return;
    }
    lock.unlock();
    d.CloseAll();
    lock.lock();
    if (!d.Changed.wait_for(lock, kCutOff, [&d] { return d.Finished; })) {
        d.Io.stop();
    }
    d.Changed.wait(lock, [&d] { return d.Finished; });
}

std::size_t THttpService::Connections() const {
    const std::lock_guard lock(FImpl->Mutex);
    return FImpl->Live.size();
}

}  // namespace cloakline::server
