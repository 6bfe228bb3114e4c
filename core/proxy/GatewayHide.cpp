#include "core/proxy/GatewayHide.h"

#include "core/framework/KTSettings.h"
#include "core/proxy/HideRules.h"
#include "core/support/DateTimeUtils.h"
#include "core/support/TextEncoding.h"
#include "core/support/TextUtils.h"
#include "platform/api/Clock.h"

namespace cloakline {

std::optional<TGatewayRejection> JudgeCheckAnswer(const TCheckAnswer& answer,
                                                  std::string_view localAddress,
                                                  std::string_view country) {
    if (!answer.Answered) {
        return TGatewayRejection{"Gateway.NoAnswer", {answer.Failure}};
    }
    if (answer.ExitAddress.empty()) {
        return TGatewayRejection{"Gateway.NoExitAddress", {}};
    }
    if (SameTextAscii(answer.ExitAddress, localAddress)) {
        return TGatewayRejection{"Gateway.OwnAddress", {}};
    }
    if (country != "UN" && !SameTextAscii(answer.Country, country)) {
        return TGatewayRejection{
            "Gateway.OtherCountry",
            {answer.Country.empty() ? std::string("?") : answer.Country, std::string(country)}};
    }
    return std::nullopt;
}

std::string FailClosedPage(std::string_view title, std::string_view text) {
    const std::string t = HtmlEscape(title);
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + t +
           "</title></head>\n<body style=\"font-family:sans-serif;margin:3em\"><h1>" + t + "</h1>\n<p>" +
           HtmlEscape(text) + "</p></body></html>\n";
}

TGatewayHide::TGatewayHide(IUpstreamGateway& gateway,
                           TProxyManager& manager,
                           TKTSettings& settings,
                           IClock& clock,
                           TGatewayHideEvents events)
    : FGateway(gateway),
      FManager(manager),
      FSettings(settings),
      FClock(clock),
      FEvents(std::move(events)),
      FAlive(std::make_shared<TGatewayHide*>(this)) {
    FGateway.SetOnUpstreamFailed([alive = std::weak_ptr<TGatewayHide*>(FAlive)](
                                     std::uint64_t failedId, std::optional<std::uint64_t> nowCurrent) {
        if (const auto self = alive.lock()) {
            (*self)->UpstreamFailed(failedId, nowCurrent);
        }
    });
}

TGatewayHide::~TGatewayHide() {
    FGateway.SetOnUpstreamFailed({});
}

std::optional<TProxyRec> TGatewayHide::Current() const {
    return FCurrent ? std::optional<TProxyRec>(FCurrent->Rec) : std::nullopt;
}

std::optional<TProxyRec> TGatewayHide::Standby() const {
    return FStandby ? std::optional<TProxyRec>(FStandby->Rec) : std::nullopt;
}

bool TGatewayHide::Hide(std::string& error) {
    const std::int32_t stored = FSettings.GetSettingInteger("Gateway.Port");
    // Out of range: any free port, which is then stored.
    const std::uint16_t wished = stored > 0 && stored <= 65535 ? static_cast<std::uint16_t>(stored) : 0;
    const std::uint16_t port = FGateway.Listen(wished, error);
    if (port == 0) {
        if (error.empty()) {
            error = "no port could be opened";
        }
        return false;
    }
    if (port != wished) {
        FSettings.SetSettingInteger("Gateway.Port", port);
    }
    FState = TState::Starting;
    FCountry = FManager.TargetCountry();
    if (FEvents.OnChecking) {
        FEvents.OnChecking();
    }
    StartSearch(TPurpose::Hide, FCountry);
    return true;
}

void TGatewayHide::Change(bool quiet) {
    if (!Active()) {
        return;
    }
    StartSearch(TPurpose::Move, FManager.TargetCountry(), quiet);
}

void TGatewayHide::Stop() {
    ++FGeneration;
    FSearching = false;
    if (FState == TState::Idle) {
        return;
    }
    FState = TState::Idle;
    FCurrent.reset();
    FStandby.reset();
    FGateway.SetUpstreams(std::nullopt, std::nullopt);
}

void TGatewayHide::Tick() {
    if (FSearching || SecondsBetween(FClock.Now(), FLastRound) < kGatewayRetrySeconds) {
        return;
    }
    if (FState == TState::FailedClosed) {
        StartSearch(TPurpose::Recover, FCountry);
    } else if (FState == TState::Hiding && !FStandby) {
        StartSearch(TPurpose::Standby, FCountry);
    }
}

void TGatewayHide::StartSearch(TPurpose purpose, const std::string& country, bool quiet) {
    TSearch search;
    search.Purpose = purpose;
    // Another location is taken on only once one of its upstreams passed.
    search.Country = country;
    search.Quiet = quiet;
    search.Generation = ++FGeneration;
    FSearching = true;
    Draw(std::move(search));
}

bool TGatewayHide::InUse(const TProxyRec& candidate, const TSearch& search) const {
    const auto same = [&candidate](const std::optional<TSlot>& slot) {
        return slot && SameTextAscii(slot->Rec.ProxyText(), candidate.ProxyText()) &&
               slot->Rec.Scheme == candidate.Scheme;
    };
    // A move to another country replaces both.
    return search.Country == FCountry && (same(FCurrent) || same(FStandby));
}

void TGatewayHide::Draw(TSearch search) {
    while (search.Draws < kGatewayDraws) {
        ++search.Draws;
        const TProxyRec candidate = FManager.GetIdleProxy(search.Country, false, TProxyRange::KAll, true);
        const std::optional<TProxyAddress> address = candidate.UpstreamAddress();
        // With nothing of that country the manager hands back the proxy of
        // before, maybe of another country; drawing again gives the same.
        const bool ofCountry =
            search.Country == "UN" || SameTextAscii(candidate.Country_Short, search.Country);
        if (!IsUsableProxyChoice(candidate) || !address || !ofCountry) {
            break;
        }
        if (InUse(candidate, search)) {
            continue;
        }
        const std::weak_ptr<TGatewayHide*> alive = FAlive;
        FGateway.CheckUpstream(*address, FSettings.GetSettingString("URL.CheckIP"), kGatewayCheckTimeout,
                               [alive, search, candidate](const TCheckAnswer& answer) {
                                   if (const auto self = alive.lock()) {
                                       (*self)->Checked(search, candidate, answer);
                                   }
                               });
        return;
    }
    Finish(search, std::nullopt);
}

void TGatewayHide::Checked(TSearch search, const TProxyRec& candidate, const TCheckAnswer& answer) {
    if (search.Generation != FGeneration) {
        return;
    }
    if (auto rejection = JudgeCheckAnswer(answer, FManager.LocalInfoValue("IP"), search.Country)) {
        search.Last = std::move(*rejection);
        Draw(std::move(search));
        return;
    }
    Finish(search, candidate);
}

TGatewayHide::TSlot TGatewayHide::NewSlot(const TProxyRec& rec) {
    return TSlot{++FNextId, rec};
}

std::optional<TGatewayUpstream> TGatewayHide::Upstream(const std::optional<TSlot>& slot) {
    if (!slot) {
        return std::nullopt;
    }
    const std::optional<TProxyAddress> address = slot->Rec.UpstreamAddress();
    return address ? std::optional<TGatewayUpstream>(TGatewayUpstream{slot->Id, *address}) : std::nullopt;
}

void TGatewayHide::Finish(const TSearch& search, const std::optional<TProxyRec>& found) {
    FSearching = false;
    const std::uint64_t generation = FGeneration;
    if (!found) {
        FLastRound = FClock.Now();
        if (search.Purpose == TPurpose::Hide) {
            FState = TState::Idle;
        }
        if ((search.Purpose == TPurpose::Hide || search.Purpose == TPurpose::Move) && FEvents.OnNoUpstream) {
            FEvents.OnNoUpstream(search.Last, search.Purpose == TPurpose::Hide, search.Quiet);
        }
        return;
    }
    if (search.Purpose == TPurpose::Standby) {
        FStandby = NewSlot(*found);
        FGateway.SetStandby(Upstream(FStandby));
        return;
    }
    if (search.Country != FCountry) {
        FStandby.reset();
        FCountry = search.Country;
    }
    FCurrent = NewSlot(*found);
    FGateway.SetUpstreams(Upstream(FCurrent), Upstream(FStandby));
    const TState before = FState;
    FState = TState::Hiding;
    TGatewayUpstreamChange why = TGatewayUpstreamChange::Move;
    if (search.Purpose == TPurpose::Hide) {
        why = TGatewayUpstreamChange::Hide;
    } else if (before == TState::FailedClosed) {
        why = TGatewayUpstreamChange::Recovered;
    }
    if (FEvents.OnUpstream) {
        FEvents.OnUpstream(*found, why);
    }
    // The handler may have stopped everything.
    if (generation == FGeneration && FState == TState::Hiding && !FStandby) {
        StartSearch(TPurpose::Standby, FCountry);
    }
}

void TGatewayHide::UpstreamFailed(std::uint64_t failedId, std::optional<std::uint64_t> nowCurrent) {
    if (!Active() || !FCurrent) {
        return;
    }
    if (FStandby && failedId == FStandby->Id) {
        // The standby went first: the current one carries on.
        FStandby.reset();
        if (!FSearching) {
            StartSearch(TPurpose::Standby, FCountry);
        }
        return;
    }
    if (failedId != FCurrent->Id) {
        return;
    }
    ++FGeneration;
    FSearching = false;
    const std::uint64_t generation = FGeneration;
    if (nowCurrent && FStandby && *nowCurrent == FStandby->Id) {
        FCurrent = FStandby;
        FStandby.reset();
        if (FEvents.OnUpstream) {
            FEvents.OnUpstream(FCurrent->Rec, TGatewayUpstreamChange::Failover);
        }
        if (generation == FGeneration && FState == TState::Hiding) {
            StartSearch(TPurpose::Standby, FCountry);
        }
        return;
    }
    FCurrent.reset();
    FStandby.reset();
    FState = TState::FailedClosed;
    if (FEvents.OnFailClosed) {
        FEvents.OnFailClosed();
    }
    if (generation == FGeneration && FState == TState::FailedClosed) {
        StartSearch(TPurpose::Recover, FCountry);
    }
}

}  // namespace cloakline
