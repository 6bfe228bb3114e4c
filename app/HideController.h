#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/proxy/GatewayHide.h"
#include "core/proxy/ProxyManager.h"
#include "core/proxy/SHRUtils.h"
#include "core/support/Types.h"

class QTimer;

namespace cloakline {

class IClock;
class TSettingsJournal;

// What the hiding logic works on; everything must outlive the controller.
struct THideParts {
    IClock& Clock;
    TSwitchServices Switches;
    TProxyManager& Manager;
    // The timed change (10 s) and the touch of super proxies (5 min).
    QTimer& ChangeTimer;
    QTimer& TouchTimer;
    // The Hide button and the tray item now carry Stop (true) or Hide.
    std::function<void(bool hiding)> OnHidingChanged;
    // The local gateway; without one every Hide points the browsers at the
    // proxy itself, whatever "Gateway.Enabled" says.
    IUpstreamGateway* Gateway = nullptr;
    // Records the user's settings before Hide and gives them back at Stop;
    // without one, Stop points every browser at a direct connection.
    TSettingsJournal* Journal = nullptr;
};

// Hide, Stop, the timed proxy change and the touch of super proxies of the
// main window. Messages go through the process-wide engine, the status
// panel commands to the process-wide panel; either may be missing. Main
// thread only.
class THideController {
  public:
    explicit THideController(THideParts parts);
    ~THideController();
    THideController(const THideController&) = delete;
    THideController& operator=(const THideController&) = delete;

    // A browser that could not be switched is named in a message: on Hide,
    // "MSGBox.SwitchPartly" (hiding goes on with the others, the panel says
    // "FLSMsg.HidingPartly"; a move to another proxy repeats it only when
    // other browsers failed) or, when not one took the proxy,
    // "MSGBox.SwitchNone" (the browsers are cleared again and nothing hides);
    // on Stop, "MSGBox.StopFailed", or "MSGBox.RestoreFailed" when the
    // user's own settings recorded before Hide could not be given back.
    // With the gateway on ("Gateway.Enabled"), Hide checks its candidates
    // through the gateway first and points the browsers at the gateway once;
    // later moves, failovers and the timed change only swap the gateway's
    // upstream. The second status line tells of failovers and of failing closed.
    void actShroudExecute();
    void actStopHideExecute();
    // The stop of the window's end: never refused by the pace rule, since a
    // refusal would leave every browser pointed at a proxy no one looks after;
    // it shows no message, the window being on its way out.
    void StopAtEnd();
    bool IsHiding() const { return FHiding; }
    // Hiding with the browsers pointed at the gateway.
    bool HidingThroughGateway() const { return FBrowsersOnGateway; }
    // The proxy text the browsers were pointed at (the gateway's address
    // through the gateway); empty when not hiding.
    std::string BrowsersProxy() const;
    // The gateway's page for failing closed follows the language.
    void LanguageChanged();
    // After "Gateway.Enabled" may have changed: whether the proxy manager
    // may hand out proxies that only the gateway can use.
    void UpdateGatewayAvailability();
    void ResetChangeIPTime();
    void tmrChangeIPTimer();
    void tmrTouchTimer();

    bool LocalInfoGot() const { return FLocalInfoGot; }
    void SetLocalInfoGot(bool value) { FLocalInfoGot = value; }
    // The pace rule counts from now.
    void MarkActionTime();

  private:
    // False, with a message, when the previous action was less than a second ago.
    bool PaceRule();
    std::string TargetFlag(const TProxyRec& proxy) const;
    // The panel, the state and the browsers back to a direct connection.
    TSwitchReport StopSteps();
    void SetHiding(bool hiding);
    // Timers, touch, panel and state for a proxy that now carries the browsers.
    void ApplyTarget(const TProxyRec& target, const std::vector<std::string>& failed, bool wasHiding);
    bool GatewayWanted() const;
    void GatewayShroud();
    void GatewayUpstream(const TProxyRec& upstream, TGatewayUpstreamChange why);
    void GatewayNoUpstream(const TGatewayRejection& last, bool wasHide, bool quiet);
    void GatewayFailClosed();
    void SetText2(const std::string& text, std::uint32_t color);
    std::string TargetCountryName() const;

    THideParts FParts;
    std::unique_ptr<TGatewayHide> FGatewayHide;
    bool FHiding = false;
    bool FBrowsersOnGateway = false;
    // The timer's change asks nothing of the user when it finds no proxy.
    bool FTimedChange = false;
    bool FText2Shown = false;
    // The browsers the last Hide could not switch (language keys of their names).
    std::vector<std::string> FLastFailed;
    bool FLocalInfoGot = false;
    TDateTime FLastActionTime = 0;
    TDateTime FLastTouchTime = 0;
    TDateTime FLastChangeIPTime = 0;
};

}  // namespace cloakline
