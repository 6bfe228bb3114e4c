#include "ui/KTSplashForm.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMetaObject>
#include <QScreen>
#include <QWindow>
#include <exception>

#include "core/framework/GlobalPlatform.h"
#include "core/support/ShellUtils.h"
#include "ui/KTForm.h"
#include "ui/PngForm.h"
#include "ui/QtMultiLang.h"

namespace cloakline {

namespace {

// The size the form has until a picture is drawn.
constexpr QSize kDesignSize(705, 478);

}  // namespace

QPoint SplashPosition(QSize screenSize, QSize pictureSize) {
    // Integer division in C++ truncates toward zero, also for a picture larger than the screen.
    return {(screenSize.width() - pictureSize.width()) / 2, (screenSize.height() - pictureSize.height()) / 2};
}

TfrmKTSplashForm::TfrmKTSplashForm(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("frmKTSplashForm"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(kDesignSize);
    spPngForm = new TspPngForm(this);
    new QtKTMultiLang(*this);
    // Another window of the program became active, normally the main window:
    // without a window manager the splash itself is never activated, so its
    // own deactivation would never come.
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(gui, &QGuiApplication::focusWindowChanged, this, [this](QWindow* focus) {
            if (focus != nullptr && focus != windowHandle()) {
                PostClose();
            }
        });
    }
    FormCreate();
    NotifyFormLoaded(*this);
}

void TfrmKTSplashForm::FormCreate() {
    bool loaded = false;
    try {
        if (HasGlobalPlatform() && GlobalPlatform().Files) {
            Platform& system = GlobalPlatform();
            const std::string appPath = GetAppPath(system);
            for (const char* name : {"oem.splash.png", "res\\images\\splash.png"}) {
                const std::string path = appPath + name;
                if (system.Files->FileExists(path)) {
                    loaded = spPngForm->LoadPng(path);
                    break;
                }
            }
        }
        if (loaded) {
            const QScreen* screen = QGuiApplication::primaryScreen();
            if (screen == nullptr) {
                loaded = false;
            } else {
                const QRect area = screen->geometry();
                move(area.topLeft() + SplashPosition(area.size(), spPngForm->PngImage().size()));
            }
        }
    } catch (const std::exception&) {
        loaded = false;
    }
    if (!loaded) {
        PostClose();
    }
}

void TfrmKTSplashForm::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) {
        FormDeactivate();
    }
    QWidget::changeEvent(event);
}

void TfrmKTSplashForm::FormDeactivate() {
    PostClose();
}

void TfrmKTSplashForm::PostClose() {
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

}  // namespace cloakline
