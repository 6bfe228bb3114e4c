#include "app/SettingsKeeper.h"

#include <QAbstractEventDispatcher>

#include "app/uFlashForm.h"
#include "ui/KTEngine.h"

namespace cloakline {

namespace {

constexpr int kPumpMs = 250;
constexpr std::uint32_t kPutBackColor = 0;
// As the panel's warnings elsewhere: the browsers may not be hidden.
constexpr std::uint32_t kWarningColor = 0x444499;

std::string AppText(std::string_view key) {
    TKTEngine* engine = GlobalEngine();
    return engine != nullptr ? engine->GetAppString(key) : std::string(key);
}

// Qt built with GLib runs GLib's default context in its own loop.
bool LoopRunsGLib() {
    const QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    return dispatcher != nullptr && dispatcher->inherits("QEventDispatcherGlib");
}

}  // namespace

TSettingsKeeper::TSettingsKeeper(TSettingsKeeperParts parts, QObject* parent)
    : QObject(parent), FParts(std::move(parts)) {
    FSettle.setSingleShot(true);
    FSettle.setInterval(kSettleMs);
    connect(&FSettle, &QTimer::timeout, this, [this] { Check(); });
    FPump.setInterval(kPumpMs);
    connect(&FPump, &QTimer::timeout, this, [this] {
        if (IProxySettingsWatch* watch = FParts.Switches.System.SettingsWatch.get()) {
            watch->Pump();
        }
    });
}

TSettingsKeeper::~TSettingsKeeper() {
    StopWatch();
}

void TSettingsKeeper::HidingChanged(bool hiding) {
    if (!hiding) {
        StopWatch();
        FGaveUp = false;
        FPutBacks.clear();
        if (FNoticeShown) {
            FNoticeShown = false;
            if (TfrmFlashForm* panel = GlobalFlashForm()) {
                panel->SetTextInfo2("", 0);
            }
        }
        return;
    }
    IProxySettingsWatch* watch = FParts.Switches.System.SettingsWatch.get();
    const std::string proxy = FParts.BrowsersProxy ? FParts.BrowsersProxy() : std::string();
    if (watch == nullptr || FGaveUp || proxy.empty()) {
        return;
    }
    FKeepSystem = SystemHolds(proxy);
    FKeepOpera = OperaHolds(proxy);
    if (FWatching || (!FKeepSystem && !FKeepOpera)) {
        return;
    }
    // Called from GLib's dispatch: only a timer is started here, so the
    // watch is never stopped from inside its own callback.
    FWatching = watch->Start([this] {
        if (!FSettle.isActive()) {
            FSettle.start();
        }
    });
    if (FWatching && !LoopRunsGLib()) {
        FPump.start();
    }
}

void TSettingsKeeper::StopWatch() {
    FSettle.stop();
    FPump.stop();
    if (FWatching) {
        FWatching = false;
        if (IProxySettingsWatch* watch = FParts.Switches.System.SettingsWatch.get()) {
            watch->Stop();
        }
    }
}

bool TSettingsKeeper::SystemHolds(const std::string& proxy) const {
    const ISystemProxy* system = FParts.Switches.System.SystemProxy.get();
    return FParts.Switches.Settings.GetSettingBool("SWITCH.IE") && system != nullptr &&
           system->HoldsProxy(proxy);
}

bool TSettingsKeeper::OperaHolds(const std::string& proxy) const {
    if (!FParts.Switches.Settings.GetSettingBool("SWITCH.OPERA")) {
        return false;
    }
    return OperaHoldsProxy(FParts.Switches, proxy);
}

bool TSettingsKeeper::StillHeld(const std::string& proxy) const {
    return (!FKeepSystem || SystemHolds(proxy)) && (!FKeepOpera || OperaHolds(proxy));
}

void TSettingsKeeper::Check() {
    const std::string proxy = FParts.BrowsersProxy ? FParts.BrowsersProxy() : std::string();
    // The echoes of the program's own writes find its proxy in place.
    if (!FWatching || proxy.empty() || StillHeld(proxy)) {
        return;
    }
    if (!FParts.Switches.Settings.GetSettingBool("Guard.KeepProxy")) {
        Notice("FLSMsg.ProxyLeft", kWarningColor);
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    while (!FPutBacks.empty() && now - FPutBacks.front() > kPutBackWindow) {
        FPutBacks.pop_front();
    }
    if (FPutBacks.size() >= static_cast<std::size_t>(kMaxPutBacks)) {
        // The other program puts its settings back as fast as this one does.
        StopWatch();
        FGaveUp = true;
        Notice("FLSMsg.ProxyGaveUp", kWarningColor);
        return;
    }
    FPutBacks.push_back(now);
    SwitchAllBrowsers(FParts.Switches, proxy);
    if (StillHeld(proxy)) {
        Notice("FLSMsg.ProxyPutBack", kPutBackColor);
    } else {
        Notice("FLSMsg.ProxyNotPutBack", kWarningColor);
    }
}

void TSettingsKeeper::Notice(std::string_view key, std::uint32_t color) {
    FNoticeShown = true;
    if (TfrmFlashForm* panel = GlobalFlashForm()) {
        panel->SetTextInfo2(AppText(key), static_cast<std::int32_t>(color));
    }
}

}  // namespace cloakline
