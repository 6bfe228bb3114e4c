#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/proxy/UpstreamGateway.h"

namespace cloakline::gateway {

struct TGatewayLimits {
    // Connecting to an upstream, its handshake included; a dead upstream is
    // left for the standby once this has passed.
    std::chrono::milliseconds UpstreamConnect{900};
    // A client that has not sent a whole request head by then is refused.
    std::chrono::milliseconds RequestHead{10000};
    // A kept-alive connection with nothing under way is closed after this.
    std::chrono::milliseconds Idle{60000};
    std::size_t MaxHeadBytes = 16 * 1024;
};

// The local HTTP and SOCKS5 proxy on 127.0.0.1, with one I/O thread of its
// own. postToMain hands a callback to the caller's main thread without
// waiting for it to run; every callback of IUpstreamGateway goes through it.
class TGateway final : public IUpstreamGateway {
  public:
    using TPoster = std::function<void(std::function<void()>)>;

    explicit TGateway(TPoster postToMain, TGatewayLimits limits = {});
    // Stops listening, closes every connection and joins the I/O thread.
    ~TGateway() override;
    TGateway(const TGateway&) = delete;
    TGateway& operator=(const TGateway&) = delete;

    std::uint16_t Listen(std::uint16_t wishedPort, std::string& error) override;
    std::uint16_t Port() const override;
    void SetUpstreams(std::optional<TGatewayUpstream> current,
                      std::optional<TGatewayUpstream> standby) override;
    void SetStandby(std::optional<TGatewayUpstream> standby) override;
    void SetFailClosedPage(std::string html) override;
    void CheckUpstream(const TProxyAddress& upstream,
                       const std::string& checkUrl,
                       std::chrono::milliseconds timeout,
                       std::function<void(TCheckAnswer)> done) override;
    void SetOnUpstreamFailed(TOnUpstreamFailed handler) override;

  private:
    class TImpl;
    std::unique_ptr<TImpl> FImpl;
};

}  // namespace cloakline::gateway
