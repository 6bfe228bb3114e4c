#include "app/HideController.h"

#include <QTimer>

#include "app/uFlashForm.h"
#include "core/proxy/HideRules.h"
#include "core/support/ShellUtils.h"
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

}  // namespace

THideController::THideController(THideParts parts) : FParts(std::move(parts)) {}

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
    const TSwitchReport report = SwitchAllBrowsers(FParts.Switches, proxy);
    if (!report.AnySwitched && !report.Failed.empty()) {
        // Not one browser took the proxy: the user is not hidden anywhere,
        // so undo what may have been half written and say so.
        StopSteps();
        ShowBrowsersMessage("MSGBox.SwitchNone", report.Failed);
        return;
    }

    TKTSettings& settings = FParts.Switches.Settings;
    if (settings.GetSettingBool("ChangeIP") && !FParts.ChangeTimer.isActive()) {
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
        panel->SetTextInfo(AppText(report.Failed.empty() ? "FLSMsg.Hiding" : "FLSMsg.HidingPartly"),
                           static_cast<std::int32_t>(HidingTextColor(settings.GetSettingString("App.PID"))));
    }
    // A move to another proxy (the timer, the chooser) tells only of a change
    // in what failed, so that a lasting failure is not repeated every few minutes.
    if (!report.Failed.empty() && (!wasHiding || report.Failed != FLastFailed)) {
        ShowBrowsersMessage("MSGBox.SwitchPartly", report.Failed);
    }
    FLastFailed = report.Failed;
}

void THideController::actStopHideExecute() {
    if (!PaceRule()) {
        return;
    }
    const TSwitchReport report = StopSteps();
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
    SetHiding(false);
    TSwitchReport report = SwitchAllBrowsers(FParts.Switches, "");
    FParts.ChangeTimer.stop();
    FParts.TouchTimer.stop();
    if (TfrmFlashForm* panel = GlobalFlashForm()) {
        panel->SetTextInfo(AppText("FLSMsg.Ready"), static_cast<std::int32_t>(kReadyTextColor));
    }
    return report;
}

void THideController::ResetChangeIPTime() {
    FLastChangeIPTime = FParts.Clock.Now();
    if (FParts.Switches.Settings.GetSettingBool("ChangeIP")) {
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
    if (ChangeIPDue(FParts.Clock.Now(), FLastChangeIPTime,
                    FParts.Switches.Settings.GetSettingInteger("ChangeIPTime"))) {
        actShroudExecute();
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
