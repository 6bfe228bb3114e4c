#include "gateway/Gateway.h"

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "gateway/Asio.h"
#include "gateway/Session.h"
#include "gateway/UpstreamCheck.h"
#include "gateway/Watchdog.h"

namespace cloakline::gateway {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using boost::system::error_code;

namespace {

constexpr const char* kDefaultFailClosedPage =
    "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>No working proxy</title></head>\n"
    "<body><h1>No working proxy</h1>\n<p>No proxy of the chosen location answers, so nothing was sent. "
    "Choose another location or try again later.</p>\n</body></html>\n";

// How long stopping waits for the connections to wind down before it cuts them off.
constexpr std::chrono::seconds kStopGrace{3};

}  // namespace

class TGateway::TImpl final : public ISessionHost {
  public:
    TImpl(TPoster postToMain, TGatewayLimits limits)
        : FPost(std::move(postToMain)), FLimits(limits), FWork(asio::make_work_guard(FIo)), FAcceptor(FIo) {
        FThread = std::thread([this] {
            FIo.run();
            {
                const std::lock_guard lock(FMutex);
                FRunEnded = true;
            }
            FRunEndedSignal.notify_all();
        });
    }

    ~TImpl() override {
        asio::post(FIo, [this] {
            FStopping = true;
            error_code ignored;
            FAcceptor.close(ignored);
            FGuards.CloseAll();
        });
        FWork.reset();
        {
            std::unique_lock lock(FMutex);
            if (!FRunEndedSignal.wait_for(lock, kStopGrace, [this] { return FRunEnded; })) {
                // A name lookup or the like that does not end by itself.
                FIo.stop();
            }
        }
        FThread.join();
    }

    std::uint16_t Listen(std::uint16_t wishedPort, std::string& error) {
        std::packaged_task<std::uint16_t()> task(
            [this, wishedPort, &error] { return OpenListener(wishedPort, error); });
        auto result = task.get_future();
        asio::post(FIo, std::move(task));
        return result.get();
    }

    std::uint16_t Port() const { return FPort.load(); }

    void SetUpstreams(std::optional<TGatewayUpstream> current, std::optional<TGatewayUpstream> standby) {
        asio::post(FIo, [this, current = std::move(current), standby = std::move(standby)] {
            FCurrent = current;
            FStandby = standby;
            FConnectErrors = 0;
        });
    }

    void SetStandby(std::optional<TGatewayUpstream> standby) {
        asio::post(FIo, [this, standby = std::move(standby)] { FStandby = standby; });
    }

    void SetFailClosedPage(std::string html) {
        const std::lock_guard lock(FMutex);
        FPage = std::move(html);
    }

    void SetOnUpstreamFailed(TOnUpstreamFailed handler) {
        const std::lock_guard lock(FMutex);
        FOnFailed = std::move(handler);
    }

    void CheckUpstream(const TProxyAddress& upstream,
                       const std::string& checkUrl,
                       std::chrono::milliseconds timeout,
                       std::function<void(TCheckAnswer)> done) {
        asio::post(FIo, [this, upstream, checkUrl, timeout, done = std::move(done)]() mutable {
            if (FStopping) {
                return;
            }
            asio::co_spawn(
                FIo, CheckThrough(upstream, checkUrl, timeout, FGuards),
                [this, done = std::move(done)](std::exception_ptr failed, TCheckAnswer answer) mutable {
                    // Stopping cut it off: nobody waits for the answer any more.
                    if (FStopping || !done) {
                        return;
                    }
                    if (failed) {
                        answer = {};
                        answer.Failure = "the check failed";
                    }
                    FPost([done = std::move(done), answer = std::move(answer)]() mutable {
                        done(std::move(answer));
                    });
                });
        });
    }

    // ISessionHost, on the I/O thread.
    std::optional<TGatewayUpstream> Current() const override { return FCurrent; }

    void UpstreamDown(std::uint64_t id) override {
        if (!FCurrent || FCurrent->Id != id) {
            return;
        }
        FCurrent = FStandby;
        FStandby.reset();
        FConnectErrors = 0;
        const std::optional<std::uint64_t> now =
            FCurrent ? std::optional<std::uint64_t>(FCurrent->Id) : std::nullopt;
        TOnUpstreamFailed handler;
        {
            const std::lock_guard lock(FMutex);
            handler = FOnFailed;
        }
        if (handler) {
            FPost([handler = std::move(handler), id, now] { handler(id, now); });
        }
    }

    void ConnectAnswered(std::uint64_t id, bool opened) override {
        if (!FCurrent || FCurrent->Id != id) {
            return;
        }
        if (opened) {
            FConnectErrors = 0;
        } else if (++FConnectErrors >= 2) {
            UpstreamDown(id);
        }
    }

    std::string FailClosedPage() const override {
        const std::lock_guard lock(FMutex);
        return FPage.empty() ? std::string(kDefaultFailClosedPage) : FPage;
    }

    const TGatewayLimits& Limits() const override { return FLimits; }
    TGuardRegistry& Guards() override { return FGuards; }

  private:
    std::uint16_t OpenListener(std::uint16_t wishedPort, std::string& error) {
        if (FAcceptor.is_open()) {
            return FPort.load();
        }
        if (FStopping) {
            error = "the gateway is stopping";
            return 0;
        }
        const auto loopback = asio::ip::address_v4::loopback();
        for (const std::uint16_t port : {wishedPort, std::uint16_t{0}}) {
            error_code ec;
            FAcceptor.open(tcp::v4(), ec);
            // Not reuse_address: on Windows it would let two programs share the port.
#if !defined(_WIN32)
            if (!ec) {
                FAcceptor.set_option(tcp::acceptor::reuse_address(true), ec);
            }
#endif
            if (!ec) {
                FAcceptor.bind(tcp::endpoint(loopback, port), ec);
            }
            if (!ec) {
                FAcceptor.listen(asio::socket_base::max_listen_connections, ec);
            }
            if (!ec) {
                FPort = FAcceptor.local_endpoint().port();
                asio::co_spawn(FIo, AcceptLoop(), asio::detached);
                return FPort.load();
            }
            error_code ignored;
            FAcceptor.close(ignored);
            error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + ec.message();
            if (port == 0) {
                break;
            }
        }
        return 0;
    }

    asio::awaitable<void> AcceptLoop() {
        asio::steady_timer pause(FIo);
        while (!FStopping) {
            tcp::socket client(FIo);
            error_code ec;
            co_await FAcceptor.async_accept(client, asio::redirect_error(asio::use_awaitable, ec));
            if (FStopping || !FAcceptor.is_open()) {
                break;
            }
            if (ec) {
                // Out of descriptors and the like: breathe, then go on.
                pause.expires_after(std::chrono::milliseconds(50));
                co_await pause.async_wait(asio::redirect_error(asio::use_awaitable, ec));
                continue;
            }
            client.set_option(tcp::no_delay(true), ec);
            asio::co_spawn(FIo, ServeClient(std::move(client), *this), asio::detached);
        }
        FPort = 0;
    }

    TPoster FPost;
    const TGatewayLimits FLimits;
    asio::io_context FIo{1};
    asio::executor_work_guard<asio::io_context::executor_type> FWork;
    tcp::acceptor FAcceptor;
    std::atomic<std::uint16_t> FPort{0};
    std::thread FThread;

    // Shared with the main thread.
    mutable std::mutex FMutex;
    std::condition_variable FRunEndedSignal;
    bool FRunEnded = false;
    std::string FPage;
    TOnUpstreamFailed FOnFailed;

    // The I/O thread's own.
    bool FStopping = false;
    std::optional<TGatewayUpstream> FCurrent;
    std::optional<TGatewayUpstream> FStandby;
    int FConnectErrors = 0;
    TGuardRegistry FGuards;
};

TGateway::TGateway(TPoster postToMain, TGatewayLimits limits)
    : FImpl(std::make_unique<TImpl>(std::move(postToMain), limits)) {}

TGateway::~TGateway() = default;

std::uint16_t TGateway::Listen(std::uint16_t wishedPort, std::string& error) {
    return FImpl->Listen(wishedPort, error);
}

std::uint16_t TGateway::Port() const {
    return FImpl->Port();
}

void TGateway::SetUpstreams(std::optional<TGatewayUpstream> current,
                            std::optional<TGatewayUpstream> standby) {
    FImpl->SetUpstreams(std::move(current), std::move(standby));
}

void TGateway::SetStandby(std::optional<TGatewayUpstream> standby) {
    FImpl->SetStandby(std::move(standby));
}

void TGateway::SetFailClosedPage(std::string html) {
    FImpl->SetFailClosedPage(std::move(html));
}

void TGateway::CheckUpstream(const TProxyAddress& upstream,
                             const std::string& checkUrl,
                             std::chrono::milliseconds timeout,
                             std::function<void(TCheckAnswer)> done) {
    FImpl->CheckUpstream(upstream, checkUrl, timeout, std::move(done));
}

void TGateway::SetOnUpstreamFailed(TOnUpstreamFailed handler) {
    FImpl->SetOnUpstreamFailed(std::move(handler));
}

}  // namespace cloakline::gateway
