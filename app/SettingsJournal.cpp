#include "app/SettingsJournal.h"

#include "ui/KTEngine.h"

namespace cloakline {

namespace {

void ShowError(std::string_view key) {
    if (TKTEngine* engine = GlobalEngine()) {
        engine->ShowMessageEx(key, {}, 0, mtError, MsgDlgButtons({mbOK}), 0, false);
    }
}

}  // namespace

TSettingsJournal::TSettingsJournal(Platform& system, std::string path) {
    if (system.Files && system.ProxyRecorder) {
        FJournal = std::make_unique<TRestoreJournal>(*system.Files, *system.ProxyRecorder, std::move(path));
    }
}

bool TSettingsJournal::BeforeHide() {
    if (!FJournal || FJournal->RecordBeforeChange()) {
        return true;
    }
    ShowError("MSGBox.JournalFailed");
    return false;
}

TSwitchReport TSettingsJournal::Stop(const TSwitchServices& with, bool wasHiding) {
    FRestoreFailed = false;
    if (!FJournal) {
        return SwitchAllBrowsers(with, "");
    }
    if (!FJournal->Exists()) {
        return wasHiding ? SwitchAllBrowsers(with, "") : TidyOwnLeftovers(with);
    }
    if (FJournal->RestoreAndRemove()) {
        return TSwitchReport{{}, true};
    }
    FRestoreFailed = true;
    return SwitchAllBrowsers(with, "");
}

}  // namespace cloakline
