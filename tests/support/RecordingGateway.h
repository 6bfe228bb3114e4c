#pragma once

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/proxy/UpstreamGateway.h"

namespace cloakline::test {

// Forwards nothing: remembers what it was told and keeps every check until
// the test answers it, as the gateway's I/O thread would later on.
class RecordingGateway : public IUpstreamGateway {
  public:
    struct Check {
        TProxyAddress Upstream;
        std::string Url;
        std::chrono::milliseconds Timeout{0};
        std::function<void(TCheckAnswer)> Done;
    };
    using TPair = std::pair<std::optional<TGatewayUpstream>, std::optional<TGatewayUpstream>>;

    // The wished port is taken: this one is answered instead (0: the wished one).
    std::uint16_t FreePort = 0;
    // Nothing can be opened.
    std::string ListenError;
    std::vector<std::uint16_t> Listens;
    std::vector<TPair> UpstreamCalls;
    std::vector<std::optional<TGatewayUpstream>> StandbyCalls;
    std::vector<std::string> Pages;
    std::deque<Check> Checks;
    TOnUpstreamFailed OnFailed;
    // What new connections would go through now.
    std::optional<TGatewayUpstream> Current;
    std::optional<TGatewayUpstream> Standby;
    int Calls = 0;

    std::uint16_t Listen(std::uint16_t wishedPort, std::string& error) override {
        ++Calls;
        Listens.push_back(wishedPort);
        if (FPort == 0 && ListenError.empty()) {
            FPort = FreePort != 0 ? FreePort : wishedPort;
        }
        error = FPort == 0 ? ListenError : std::string();
        return FPort;
    }
    std::uint16_t Port() const override { return FPort; }
    void SetUpstreams(std::optional<TGatewayUpstream> current,
                      std::optional<TGatewayUpstream> standby) override {
        ++Calls;
        UpstreamCalls.emplace_back(current, standby);
        Current = std::move(current);
        Standby = std::move(standby);
    }
    void SetStandby(std::optional<TGatewayUpstream> standby) override {
        ++Calls;
        StandbyCalls.push_back(standby);
        Standby = std::move(standby);
    }
    void SetFailClosedPage(std::string html) override { Pages.push_back(std::move(html)); }
    void CheckUpstream(const TProxyAddress& upstream,
                       const std::string& checkUrl,
                       std::chrono::milliseconds timeout,
                       std::function<void(TCheckAnswer)> done) override {
        ++Calls;
        Checks.push_back({upstream, checkUrl, timeout, std::move(done)});
    }
    void SetOnUpstreamFailed(TOnUpstreamFailed handler) override { OnFailed = std::move(handler); }

    // Answers the oldest check still open; false when none is.
    bool Answer(TCheckAnswer answer) {
        if (Checks.empty()) {
            return false;
        }
        Check check = std::move(Checks.front());
        Checks.pop_front();
        check.Done(std::move(answer));
        return true;
    }
    // The current upstream stopped carrying: the standby takes over, or nothing does.
    void FailCurrent() {
        const std::uint64_t failed = Current ? Current->Id : 0;
        std::optional<std::uint64_t> now;
        if (Standby) {
            now = Standby->Id;
        }
        Current = std::move(Standby);
        Standby.reset();
        if (OnFailed) {
            OnFailed(failed, now);
        }
    }
    std::string CheckedHost(std::size_t fromEnd = 0) const {
        return Checks.size() > fromEnd ? Checks[Checks.size() - 1 - fromEnd].Upstream.Host : std::string();
    }

  private:
    std::uint16_t FPort = 0;
};

// What the check page reports for an exit address and its country.
inline TCheckAnswer CheckPage(std::string exitAddress, std::string country) {
    TCheckAnswer answer;
    answer.Answered = true;
    answer.ExitAddress = std::move(exitAddress);
    answer.Country = std::move(country);
    return answer;
}

inline TCheckAnswer NoAnswer(std::string failure) {
    TCheckAnswer answer;
    answer.Failure = std::move(failure);
    return answer;
}

}  // namespace cloakline::test
