#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "core/framework/KTInstanceReceiver.h"
#include "platform/api/InstanceChannel.h"

class QSocketNotifier;
class QWidget;

namespace cloakline {

// Puts the protocol between instances in front of the main window: listens
// for other instances, answers them on the main thread, and runs the deferred
// initialisation once the message loop runs.
class TKTInstanceHook : public QObject {
    Q_OBJECT

  public:
    // The window's class name is the one other instances look for. Without a
    // channel the window answers only itself. "KT InitPost" is posted at once,
    // after initPostDelayMs, or (nullopt) only when PostInitPost is called.
    TKTInstanceHook(QWidget* form,
                    IInstanceChannel* channel,
                    std::int32_t appId,
                    std::optional<int> initPostDelayMs = 0);
    TKTInstanceHook(QWidget* form, IInstanceChannel& channel, std::int32_t appId, int initPostDelayMs = 0)
        : TKTInstanceHook(form, &channel, appId, std::optional<int>(initPostDelayMs)) {}
    ~TKTInstanceHook() override;

    TInstanceReceiver& Receiver() { return *FReceiver; }
    bool Listening() const { return FListener != nullptr; }
    // Tick count of the last end-session query; meaningful once one arrived.
    std::uint32_t QueryEndSessionTime() const { return FQueryEndSessionTime; }
    bool QueryEndSessionArrived() const { return FQueryEndSessionArrived; }

    // The engine's deferred initialisation; busy ends when it returns.
    std::function<void()> OnInitPost;
    // Restores the window from the tray; false while there is no tray icon.
    std::function<bool()> OnBringToFront;

    // Queues a message to this window (the message loop delivers it later).
    void Post(const InstanceMessage& message);
    void PostInitPost();

  private:
    std::int64_t Handle(const InstanceMessage& message);
    void ServePending();

    QWidget* FForm;
    std::unique_ptr<TInstanceReceiver> FReceiver;
    std::unique_ptr<IInstanceListener> FListener;
    QSocketNotifier* FNotifier = nullptr;
    std::uint32_t FQueryEndSessionTime = 0;
    bool FQueryEndSessionArrived = false;
};

}  // namespace cloakline
