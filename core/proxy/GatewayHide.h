#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/proxy/ProxyManager.h"
#include "core/proxy/UpstreamGateway.h"
#include "core/support/Types.h"

namespace cloakline {

class IClock;
class TKTSettings;

// Why a candidate was not taken, as a language key and the arguments of its
// {1}, {2}. An empty key: there was no candidate at all.
struct TGatewayRejection {
    std::string Key;
    std::vector<std::string> Args;
    friend bool operator==(const TGatewayRejection&, const TGatewayRejection&) = default;
};

// A check page's answer is good for hiding when it came, names an exit
// address other than the user's own, and a country that is the chosen one
// ("UN", exactly, takes any).
std::optional<TGatewayRejection> JudgeCheckAnswer(const TCheckAnswer& answer,
                                                  std::string_view localAddress,
                                                  std::string_view country);

// The 503 page that the browsers get while no upstream is left; every text
// is HTML-escaped here.
std::string FailClosedPage(std::string_view title, std::string_view text);

// Why new connections now go through another upstream.
enum class TGatewayUpstreamChange {
    Hide,       // the first upstream of a Hide
    Move,       // a timed change or another location
    Failover,   // the standby took over from an upstream that stopped carrying
    Recovered,  // found again after failing closed
};

struct TGatewayHideEvents {
    // A Hide has begun checking candidates.
    std::function<void()> OnChecking;
    std::function<void(const TProxyRec& upstream, TGatewayUpstreamChange why)> OnUpstream;
    // No candidate passed within kGatewayDraws; last is the reason of the
    // last one. wasHide: a Hide that now hides nothing; otherwise the current
    // upstream stays. quiet: a timed change, which the user did not ask for.
    std::function<void(const TGatewayRejection& last, bool wasHide, bool quiet)> OnNoUpstream;
    // Neither the current upstream nor a standby is left: the gateway fails
    // closed while new candidates are checked.
    std::function<void()> OnFailClosed;
};

inline constexpr int kGatewayDraws = 5;
inline constexpr std::chrono::milliseconds kGatewayCheckTimeout{3000};
// Between two rounds of draws for an upstream that is missing.
inline constexpr std::int64_t kGatewayRetrySeconds = 30;
inline constexpr std::uint16_t kGatewayDefaultPort = 8899;

// Hiding through the local gateway: every upstream is checked through the
// gateway before new connections use it, a checked standby of the same
// country is kept, and the gateway's failover reports are followed. Answers
// that come after a Stop or a newer Hide are dropped. Main thread only;
// everything given must outlive it.
class TGatewayHide {
  public:
    TGatewayHide(IUpstreamGateway& gateway,
                 TProxyManager& manager,
                 TKTSettings& settings,
                 IClock& clock,
                 TGatewayHideEvents events);
    ~TGatewayHide();
    TGatewayHide(const TGatewayHide&) = delete;
    TGatewayHide& operator=(const TGatewayHide&) = delete;

    // Listens on "Gateway.Port" (a port that had to change is stored there)
    // and begins checking candidates of the target country. False, with the
    // reason, when the gateway cannot listen; nothing else happens then.
    bool Hide(std::string& error);
    // While active: a new checked upstream of the target country; the
    // standby stays when the country did not change.
    void Change(bool quiet);
    // The gateway stops forwarding and every answer still under way is dropped.
    void Stop();
    // Called every few seconds: while an upstream or the standby is missing,
    // a new round of draws once kGatewayRetrySeconds have passed.
    void Tick();

    // From an accepted Hide to Stop, failing closed included.
    bool Active() const { return FState == TState::Hiding || FState == TState::FailedClosed; }
    bool FailingClosed() const { return FState == TState::FailedClosed; }
    // Candidates are being checked.
    bool Checking() const { return FSearching; }
    std::uint16_t Port() const { return FGateway.Port(); }
    std::optional<TProxyRec> Current() const;
    std::optional<TProxyRec> Standby() const;

  private:
    enum class TState { Idle, Starting, Hiding, FailedClosed };
    enum class TPurpose { Hide, Move, Recover, Standby };
    struct TSlot {
        std::uint64_t Id = 0;
        TProxyRec Rec;
    };
    struct TSearch {
        TPurpose Purpose = TPurpose::Hide;
        std::string Country;
        bool Quiet = false;
        int Draws = 0;
        std::uint64_t Generation = 0;
        TGatewayRejection Last;
    };

    void StartSearch(TPurpose purpose, const std::string& country, bool quiet = false);
    void Draw(TSearch search);
    void Checked(TSearch search, const TProxyRec& candidate, const TCheckAnswer& answer);
    void Finish(const TSearch& search, const std::optional<TProxyRec>& found);
    bool InUse(const TProxyRec& candidate, const TSearch& search) const;
    TSlot NewSlot(const TProxyRec& rec);
    static std::optional<TGatewayUpstream> Upstream(const std::optional<TSlot>& slot);
    void UpstreamFailed(std::uint64_t failedId, std::optional<std::uint64_t> nowCurrent);

    IUpstreamGateway& FGateway;
    TProxyManager& FManager;
    TKTSettings& FSettings;
    IClock& FClock;
    TGatewayHideEvents FEvents;

    TState FState = TState::Idle;
    // Raised by every Hide, Change, Stop and failover: answers of an older
    // search find it changed and are dropped.
    std::uint64_t FGeneration = 0;
    bool FSearching = false;
    std::string FCountry;
    std::optional<TSlot> FCurrent;
    std::optional<TSlot> FStandby;
    std::uint64_t FNextId = 0;
    TDateTime FLastRound = 0;
    // Check answers hold a weak reference; once this is gone they are dropped.
    std::shared_ptr<TGatewayHide*> FAlive;
};

}  // namespace cloakline
