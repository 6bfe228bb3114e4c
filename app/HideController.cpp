#include "app/HideController.h"

#include <QTimer>

#include "app/SettingsJournal.h"
#include "app/uFlashForm.h"
#include "core/proxy/HideRules.h"
#include "core/support/ShellUtils.h"
#include "core/support/TextUtils.h"
#include "platform/api/Clock.h"
#include "ui/KTEngine.h"

namespace cloakline {

namespace {

void ShowMessage(std::string_view key, std::int32_t showAgainNumber, TMsgDlgType type) {
    if (TKTEngine* engine = GlobalEngine()) {
        engine->ShowMessageEx(key, {}, showAgainNumber, type, MsgDlgButtons({mbOK}), 0, false);
    }
}

std::string AppText(std::string_view key) {
    TKTEngine* engine = GlobalEngine();
    return engine != nullptr ? engine->GetAppString(key) : std::string(key);
}

// The names of the browsers a switch could not reach, for the message's {1}.
void ShowBrowsersMessage(std::string_view key, const std::vector<std::string>& nameKeys) {
    std::string names;
    for (const std::string& nameKey : nameKeys) {
        names += (names.empty() ? "" : ", ") + AppText(nameKey);
    }
    if (TKTEngine* engine = GlobalEngine()) {
        engine->ShowMessageEx(key, {names}, 0, mtWarning, MsgDlgButtons({mbOK}), 0, false);
    }
}

std::string AppText(std::string_view key, const std::vector<std::string>& args) {
    return FillPlaceholders(AppText(key), args);
}

// The colour of the second status line while no proxy carries the browsers.
constexpr std::uint32_t kBlockedTextColor = 0x444499;

}  // namespace

THideController::THideController(THideParts parts) : FParts(std::move(parts)) {
    if (FParts.Gateway == nullptr) {
        UpdateGatewayAvailability();
        return;
    }
    TGatewayHideEvents events;
    events.OnChecking = [this] {
        if (TfrmFlashForm* panel = GlobalFlashForm()) {
            panel->SetTextInfo(AppText("FLSMsg.Checking", {TargetCountryName()}),
                               static_cast<std::int32_t>(
                                   HidingTextColor(FParts.Switches.Settings.GetSettingString("App.PID"))));
        }
    };
    events.OnUpstream = [this](const TProxyRec& upstream, TGatewayUpstreamChange why) {
        GatewayUpstream(upstream, why);
    };
    events.OnNoUpstream = [this](const TGatewayRejection& last, bool wasHide, bool quiet) {
        GatewayNoUpstream(last, wasHide, quiet);
    };
    events.OnFailClosed = [this] { GatewayFailClosed(); };
    FGatewayHide = std::make_unique<TGatewayHide>(*FParts.Gateway, FParts.Manager, FParts.Switches.Settings,
                                                  FParts.Clock, std::move(events));
    UpdateGatewayAvailability();
    LanguageChanged();
}

void THideController::UpdateGatewayAvailability() {
    // Records that only the gateway can dial are handed out, and their
    // countries offered, only while Hide goes through it.
    FParts.Manager.SetGatewayAvailable(GatewayWanted());
}

THideController::~THideController() = default;

void THideController::MarkActionTime() {
    FLastActionTime = FParts.Clock.Now();
}

bool THideController::PaceRule() {
    const TDateTime now = FParts.Clock.Now();
    if (ActionTooFast(now, FLastActionTime)) {
        ShowMessage("MSGBox_ACTIONFAST", 6, mtInformation);
        return false;
    }
    FLastActionTime = now;
    return true;
}

std::string THideController::BrowsersProxy() const {
    if (!FHiding) {
        return {};
    }
    if (FBrowsersOnGateway && FGatewayHide) {
        return "127.0.0.1:" + std::to_string(FGatewayHide->Port());
    }
    return FParts.Manager.TargetProxy().ProxyText();
}

void THideController::SetHiding(bool hiding) {
    FHiding = hiding;
    if (FParts.OnHidingChanged) {
        FParts.OnHidingChanged(hiding);
    }
}

std::string THideController::TargetFlag(const TProxyRec& proxy) const {
    TKTSettings& settings = FParts.Switches.Settings;
    const IFileSystem& files = *FParts.Switches.System.Files;
    return TargetFlagReference(GetAppPath(FParts.Switches.System),
                               settings.GetSettingString("URL.LocalFlagPath"), settings.UserDataPath(),
                               settings.GetSettingString("URL.FlagPath"), proxy.Country_Short,
                               [&files](const std::string& path) { return files.FileExists(path); });
}

void THideController::actShroudExecute() {
    if (!PaceRule()) {
        return;
    }
    TKTEngine* engine = GlobalEngine();
    // The update check is asked first: it may push the proxy lists.
    if (engine == nullptr || !engine->AppWaitFirstUpdate() || !FLocalInfoGot) {
        ShowMessage("MSGBox.CHKNET", 0, mtError);
        FParts.Manager.GetCurrentLocalInfo();
        return;
    }
    UpdateGatewayAvailability();
    if (GatewayWanted()) {
        GatewayShroud();
        return;
    }
    TProxyManager& manager = FParts.Manager;
    const TProxyRec choice = manager.GetIdleProxy(manager.TargetCountry(), false, TProxyRange::KAll, true);
    // An empty or malformed choice would point every browser at nothing usable.
    if (!IsUsableProxyChoice(choice)) {
        ShowMessage("MSGBox.NoProxy", 0, mtInformation);
        return;
    }
    manager.SetTargetProxy(choice);
    const TProxyRec& target = manager.TargetProxy();
    const std::string proxy = target.ProxyText();
    const bool wasHiding = IsHiding();
    if (FParts.Journal != nullptr && !FParts.Journal->BeforeHide()) {
        return;
    }
    const TSwitchReport report = SwitchAllBrowsers(FParts.Switches, proxy);
    if (!report.AnySwitched && !report.Failed.empty()) {
        // Not one browser took the proxy: the user is not hidden anywhere,
        // so undo what may have been half written and say so.
        StopSteps();
        ShowBrowsersMessage("MSGBox.SwitchNone", report.Failed);
        return;
    }
    if (FGatewayHide) {
        // The gateway was switched off while hiding through it: the browsers
        // now go to the proxy itself.
        FGatewayHide->Stop();
        FBrowsersOnGateway = false;
        SetText2("", 0);
    }
    ApplyTarget(target, report.Failed, wasHiding);
}

void THideController::ApplyTarget(const TProxyRec& target,
                                  const std::vector<std::string>& failed,
                                  bool wasHiding) {
    TProxyManager& manager = FParts.Manager;
    TKTSettings& settings = FParts.Switches.Settings;
    // Through the gateway the timer also looks for missing upstreams.
    const bool ticks = settings.GetSettingBool("ChangeIP") || FBrowsersOnGateway;
    if (ticks && !FParts.ChangeTimer.isActive()) {
        FParts.ChangeTimer.start();
    }
    if (target.IsSuper) {
        manager.Touch(target);
        FLastTouchTime = FParts.Clock.Now();
        if (!FParts.TouchTimer.isActive()) {
            FParts.TouchTimer.start();
        }
    } else {
        FParts.TouchTimer.stop();
    }

    const std::string flag = TargetFlag(target);
    TfrmFlashForm* panel = GlobalFlashForm();
    if (panel != nullptr) {
        panel->SetIPInfo("Target", "True", flag, target.IP, target.Country_Long, "", "0", "100");
        panel->Fade("Target", true, 100);
        panel->SetIPInfoA("Local", "50", "100");
        panel->TurnTarget();
    }
    SetHiding(true);
    FLastChangeIPTime = FParts.Clock.Now();
    if ((panel = GlobalFlashForm()) != nullptr) {
        panel->SetTextInfo(AppText(failed.empty() ? "FLSMsg.Hiding" : "FLSMsg.HidingPartly"),
                           static_cast<std::int32_t>(HidingTextColor(settings.GetSettingString("App.PID"))));
    }
    // A move to another proxy (the timer, the chooser) tells only of a change
    // in what failed, so that a lasting failure is not repeated every few minutes.
    if (!failed.empty() && (!wasHiding || failed != FLastFailed)) {
        ShowBrowsersMessage("MSGBox.SwitchPartly", failed);
    }
    FLastFailed = failed;
}

bool THideController::GatewayWanted() const {
    return FGatewayHide != nullptr && FParts.Switches.Settings.GetSettingBool("Gateway.Enabled");
}

std::string THideController::TargetCountryName() const {
    const std::string code = FParts.Manager.TargetCountry();
    std::string name = FParts.Manager.GetCountryLong(code);
    if (name.empty() && code == "UN") {
        name = AppText("Gateway.AnyCountry");
    } else if (name.empty() && code.empty()) {
        name = AppText("Gateway.ChosenLocation");
    }
    // The panel's commands are split at commas ("Korea, Republic of").
    return ReplaceAll(name.empty() ? code : name, ",", " ");
}

void THideController::LanguageChanged() {
    if (FParts.Gateway != nullptr) {
        const std::string country = TargetCountryName();
        FParts.Gateway->SetFailClosedPage(
            FailClosedPage(AppText("Gateway.PageTitle"), AppText("Gateway.PageText", {country})));
    }
}

void THideController::GatewayShroud() {
    // The page names the location that is now chosen.
    LanguageChanged();
    if (FGatewayHide->Active()) {
        FGatewayHide->Change(FTimedChange);
        return;
    }
    std::string error;
    if (!FGatewayHide->Hide(error)) {
        if (TKTEngine* engine = GlobalEngine()) {
            engine->ShowMessageEx("MSGBox.GatewayFailed", {error}, 0, mtError, MsgDlgButtons({mbOK}), 0,
                                  false);
        }
    }
}

void THideController::GatewayUpstream(const TProxyRec& upstream, TGatewayUpstreamChange why) {
    TProxyManager& manager = FParts.Manager;
    manager.SetTargetProxy(upstream);
    const bool wasHiding = IsHiding();
    std::vector<std::string> failed = FLastFailed;
    if (why == TGatewayUpstreamChange::Hide && !FBrowsersOnGateway) {
        if (FParts.Journal != nullptr && !FParts.Journal->BeforeHide()) {
            StopSteps();
            return;
        }
        const TSwitchReport report =
            SwitchAllBrowsers(FParts.Switches, "127.0.0.1:" + std::to_string(FGatewayHide->Port()));
        if (!report.AnySwitched && !report.Failed.empty()) {
            StopSteps();
            ShowBrowsersMessage("MSGBox.SwitchNone", report.Failed);
            return;
        }
        FBrowsersOnGateway = true;
        failed = report.Failed;
    }
    if (why == TGatewayUpstreamChange::Failover) {
        SetText2(AppText("FLSMsg.Failover", {TargetCountryName()}), 0);
    } else if (why == TGatewayUpstreamChange::Recovered) {
        SetText2(AppText("FLSMsg.Recovered", {TargetCountryName()}), 0);
    } else {
        SetText2("", 0);
    }
    const TDateTime lastChange = FLastChangeIPTime;
    ApplyTarget(manager.TargetProxy(), failed, wasHiding);
    // Only Hide and a chosen or timed move restart the change clock.
    if (why == TGatewayUpstreamChange::Failover || why == TGatewayUpstreamChange::Recovered) {
        FLastChangeIPTime = lastChange;
    }
}

void THideController::GatewayNoUpstream(const TGatewayRejection& last, bool wasHide, bool quiet) {
    if (wasHide) {
        if (TfrmFlashForm* panel = GlobalFlashForm()) {
            if (IsHiding()) {
                panel->SetTextInfo(AppText(FLastFailed.empty() ? "FLSMsg.Hiding" : "FLSMsg.HidingPartly"),
                                   static_cast<std::int32_t>(HidingTextColor(
                                       FParts.Switches.Settings.GetSettingString("App.PID"))));
            } else {
                panel->SetTextInfo(AppText("FLSMsg.Ready"), static_cast<std::int32_t>(kReadyTextColor));
            }
        }
    }
    if (quiet) {
        return;
    }
    TKTEngine* engine = GlobalEngine();
    if (engine == nullptr) {
        return;
    }
    if (last.Key.empty()) {
        engine->ShowMessageEx("MSGBox.NoProxy", {}, 0, mtInformation, MsgDlgButtons({mbOK}), 0, false);
        return;
    }
    engine->ShowMessageEx("MSGBox.NoCheckedProxy", {TargetCountryName(), AppText(last.Key, last.Args)}, 0,
                          mtInformation, MsgDlgButtons({mbOK}), 0, false);
}

void THideController::GatewayFailClosed() {
    if (TfrmFlashForm* panel = GlobalFlashForm()) {
        panel->SetTextInfo(AppText("FLSMsg.Blocked"), static_cast<std::int32_t>(kBlockedTextColor));
    }
    SetText2(AppText("FLSMsg.FailClosed", {TargetCountryName()}), kBlockedTextColor);
}

void THideController::SetText2(const std::string& text, std::uint32_t color) {
    if (text.empty() && !FText2Shown) {
        return;
    }
    FText2Shown = !text.empty();
    if (TfrmFlashForm* panel = GlobalFlashForm()) {
        panel->SetTextInfo2(text, static_cast<std::int32_t>(color));
    }
}

void THideController::actStopHideExecute() {
    if (!PaceRule()) {
        return;
    }
    const TSwitchReport report = StopSteps();
    if (FParts.Journal != nullptr && FParts.Journal->RestoreFailed()) {
        ShowMessage("MSGBox.RestoreFailed", 0, mtError);
    }
    if (!report.Failed.empty()) {
        ShowBrowsersMessage("MSGBox.StopFailed", report.Failed);
    }
}

void THideController::StopAtEnd() {
    FLastActionTime = FParts.Clock.Now();
    StopSteps();
}

TSwitchReport THideController::StopSteps() {
    if (TfrmFlashForm* panel = GlobalFlashForm()) {
        panel->SetIPInfoA("Local", "100", "100");
        panel->SetIPInfoA("Target", "100", "100");
        panel->Fade("Target", false, 0);
        panel->TurnLocal();
    }
    const bool wasHiding = FHiding;
    SetHiding(false);
    TSwitchReport report = FParts.Journal != nullptr ? FParts.Journal->Stop(FParts.Switches, wasHiding)
                                                     : SwitchAllBrowsers(FParts.Switches, "");
    if (FGatewayHide) {
        // Late answers of checks still under way are dropped from here on.
        FGatewayHide->Stop();
    }
    FBrowsersOnGateway = false;
    FParts.ChangeTimer.stop();
    FParts.TouchTimer.stop();
    if (TfrmFlashForm* panel = GlobalFlashForm()) {
        panel->SetTextInfo(AppText("FLSMsg.Ready"), static_cast<std::int32_t>(kReadyTextColor));
    }
    SetText2("", 0);
    return report;
}

void THideController::ResetChangeIPTime() {
    FLastChangeIPTime = FParts.Clock.Now();
    if (FParts.Switches.Settings.GetSettingBool("ChangeIP") || FBrowsersOnGateway) {
        if (!FParts.ChangeTimer.isActive()) {
            FParts.ChangeTimer.start();
        }
    } else {
        FParts.ChangeTimer.stop();
    }
}

void THideController::tmrChangeIPTimer() {
    if (!IsHiding()) {
        return;
    }
    TKTSettings& settings = FParts.Switches.Settings;
    if (FBrowsersOnGateway && FGatewayHide) {
        FGatewayHide->Tick();
        // Failing closed, the retries above look for a proxy already.
        if (!settings.GetSettingBool("ChangeIP") || FGatewayHide->FailingClosed()) {
            return;
        }
    }
    if (ChangeIPDue(FParts.Clock.Now(), FLastChangeIPTime, settings.GetSettingInteger("ChangeIPTime"))) {
        FTimedChange = true;
        actShroudExecute();
        FTimedChange = false;
    }
}

void THideController::tmrTouchTimer() {
    const TProxyRec& target = FParts.Manager.TargetProxy();
    if (TouchDue(FParts.Clock.Now(), FLastTouchTime, target.IsSuper)) {
        FParts.Manager.Touch(target);
        FLastTouchTime = FParts.Clock.Now();
    }
}

}  // namespace cloakline
