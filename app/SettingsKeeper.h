#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "core/proxy/SHRUtils.h"

namespace cloakline {

// What the keeper works on; everything must outlive it.
struct TSettingsKeeperParts {
    TSwitchServices Switches;
    // The proxy text the browsers were pointed at; empty when none.
    std::function<std::string()> BrowsersProxy;
};

// Keeps the browsers on the proxy while hiding: when another program changes
// the desktop's proxy settings (or Opera's file) so that they no longer name
// the proxy the browsers were pointed at, it points them there again (setting
// "Guard.KeepProxy") or leaves them, and says which on the status panel's
// second line. It never fights for long: after kMaxPutBacks put-backs within
// kPutBackWindow it stops until the next Hide. Main thread only.
class TSettingsKeeper : public QObject {
  public:
    static constexpr int kMaxPutBacks = 3;
    static constexpr std::chrono::seconds kPutBackWindow{60};
    // A burst of changes (several keys, a file written in parts) is looked at once, this long after it began.
    static constexpr int kSettleMs = 200;

    explicit TSettingsKeeper(TSettingsKeeperParts parts, QObject* parent = nullptr);
    ~TSettingsKeeper() override;
    TSettingsKeeper(const TSettingsKeeper&) = delete;
    TSettingsKeeper& operator=(const TSettingsKeeper&) = delete;

    // Hide (also a move to another proxy) starts the watch, Stop ends it.
    void HidingChanged(bool hiding);
    bool Watching() const { return FWatching; }
    bool GaveUp() const { return FGaveUp; }

  private:
    void Check();
    // Whether the stores that held the proxy when hiding began still hold it.
    bool StillHeld(const std::string& proxy) const;
    bool SystemHolds(const std::string& proxy) const;
    bool OperaHolds(const std::string& proxy) const;
    void StopWatch();
    void Notice(std::string_view key, std::uint32_t color);

    TSettingsKeeperParts FParts;
    QTimer FSettle;
    // Runs the watch's event source where Qt's loop does not.
    QTimer FPump;
    bool FWatching = false;
    bool FGaveUp = false;
    bool FNoticeShown = false;
    // The stores that named the proxy when hiding began or moved; a store the
    // switch could not reach, or whose switch is off, is not kept.
    bool FKeepSystem = false;
    bool FKeepOpera = false;
    std::deque<std::chrono::steady_clock::time_point> FPutBacks;
};

}  // namespace cloakline
