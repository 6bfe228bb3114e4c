#include "ui/KTInstanceHook.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include "core/framework/GlobalPlatform.h"
#include "ui/WindowUtils.h"

namespace cloakline {

TKTInstanceHook::TKTInstanceHook(QWidget* form,
                                 IInstanceChannel* channel,
                                 std::int32_t appId,
                                 std::optional<int> initPostDelayMs)
    : QObject(form), FForm(form) {
    InstanceReceiverHooks hooks;
    hooks.AppId = [appId] { return appId; };
    hooks.CloseApp = [] { QCoreApplication::exit(0); };
    hooks.InitPost = [this] {
        if (OnInitPost) {
            OnInitPost();
        }
        FReceiver->FInInited = false;
    };
    hooks.BringToFront = [this] { return OnBringToFront && OnBringToFront(); };
    hooks.PostToSelf = [this](const InstanceMessage& m) { Post(m); };
    hooks.QueryEndSession = [this] {
        FQueryEndSessionTime =
            HasGlobalPlatform() && GlobalPlatform().Clock ? GlobalPlatform().Clock->TickCount() : 0;
        FQueryEndSessionArrived = true;
    };
    FReceiver = std::make_unique<TInstanceReceiver>(std::move(hooks));

    // Other instances look for the bare class name, as the window system knows it.
    std::string_view className = form->metaObject()->className();
    if (const auto colons = className.rfind("::"); colons != std::string_view::npos) {
        className.remove_prefix(colons + 2);
    }
    if (channel != nullptr) {
        FListener = channel->Listen(className);
    }
    if (FListener) {
#ifdef Q_OS_WIN
        // The listener is a window that the message loop serves by itself; it
        // answers with the handler it was last given.
        ServePending();
#else
        FNotifier =
            new QSocketNotifier(static_cast<qintptr>(FListener->NativeHandle()), QSocketNotifier::Read, this);
        connect(FNotifier, &QSocketNotifier::activated, this, [this] { ServePending(); });
#endif
    }
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) {
            InstanceMessage m;
            m.Name = std::string(kMsgQueryEndSession);
            Handle(m);
        });
    }

    if (!initPostDelayMs) {
        return;
    }
    if (*initPostDelayMs > 0) {
        InstanceMessage initPost;
        initPost.Name = std::string(kMsgInitPost);
        QTimer::singleShot(*initPostDelayMs, this, [this, initPost] { Handle(initPost); });
    } else {
        PostInitPost();
    }
}

void TKTInstanceHook::PostInitPost() {
    InstanceMessage initPost;
    initPost.Name = std::string(kMsgInitPost);
    Post(initPost);
}

TKTInstanceHook::~TKTInstanceHook() = default;

void TKTInstanceHook::Post(const InstanceMessage& message) {
    QMetaObject::invokeMethod(
        this, [this, message] { Handle(message); }, Qt::QueuedConnection);
}

std::int64_t TKTInstanceHook::Handle(const InstanceMessage& message) {
    if (message.Name == kMsgForceForeground) {
        return ForceForeground(FForm) ? 1 : 0;
    }
    return FReceiver->Dispatch(message);
}

void TKTInstanceHook::ServePending() {
    FListener->ServePending([this](const InstanceMessage& m) { return Handle(m); });
}

}  // namespace cloakline
