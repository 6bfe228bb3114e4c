// The program itself (the real run routine and the real main window) with a
// recorder on the side, so that tests can watch processes start, talk and end.
//   CLOAKLINE_TEST_EVENTS   file that receives one "<pid> <event>" line per event
//   CLOAKLINE_TEST_BUSY_MS  how long the deferred initialisation keeps the instance busy
//   CLOAKLINE_TEST_HIDE     set: press Hide once the window is ready for it
// Events: listening | not-listening, initpost <window>, window <window> on
// every change (shown, hidden, minimized), bringtofront, cmdfile:<text>,
// tray 0|1, splash open|closed, hiding, box:<text> (message boxes are
// answered with OK), panel2 <command> (the status panel's second line), destroyed, ended.
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/KTMain.h"
#include "app/uMain.h"
#include "core/framework/GlobalPlatform.h"
#include "ui/KTEngine.h"
#include "ui/KTInstanceHook.h"

namespace hosttest {

using cloakline::TfrmMain;

void Record(const std::string& event) {
    const char* path = std::getenv("CLOAKLINE_TEST_EVENTS");
    if (path == nullptr) {
        return;
    }
    if (FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%d %s\n", static_cast<int>(::getpid()), event.c_str());
        std::fclose(f);
    }
}

std::string WindowState(const QWidget& form) {
    if (!form.isVisible()) {
        return "hidden";
    }
    return form.isMinimized() ? "minimized" : "shown";
}

// Looks at the window, the tray, the splash and the boxes of the program
// every few milliseconds and records what changed.
class Watcher : public QObject {
  public:
    explicit Watcher(TfrmMain& form) : QObject(&form), FForm(&form) {
        FHide = std::getenv("CLOAKLINE_TEST_HIDE") != nullptr;
        auto* timer = new QTimer(this);
        timer->setInterval(20);
        connect(timer, &QTimer::timeout, this, [this] { Look(); });
        timer->start();
    }

  private:
    void Change(std::string& last, const std::string& now, const std::string& name) {
        if (now != last) {
            last = now;
            Record(name + " " + now);
        }
    }

  public:
    // On a timer of its own, made before the window: the window's creation can
    // show boxes, and a timer does not fire again while its own handler waits
    // in a box that the click of Look opened.
    static void AnswerBoxes() {
        auto* boxes = new QTimer(QCoreApplication::instance());
        boxes->setInterval(20);
        QObject::connect(boxes, &QTimer::timeout, [] { AnswerBox(); });
        boxes->start();
    }

  private:
    static void AnswerBox() {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            box != nullptr && box->isVisible()) {
            Record("box:" + box->text().toStdString());
            if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
                ok->click();
            } else {
                box->reject();
            }
        }
    }

    void Look() {
        if (FForm == nullptr) {
            return;
        }
        Change(FWindow, WindowState(*FForm), "window");
        Change(FTray, FForm->TrayShown() ? "1" : "0", "tray");
        Change(FSplash, cloakline::SplashWindow() != nullptr ? "open" : "closed", "splash");
        if (FHide && !FForm->Hider().IsHiding() && FForm->LocalInfoGot() &&
            !FForm->findChild<QTimer*>("tmrInit")->isActive() &&
            (!FLastClick.isValid() || FLastClick.elapsed() > kClickAgainMs)) {
            // Refused within the first second; a later look tries again,
            // late enough not to disturb a gateway check under way.
            FLastClick.start();
            FForm->findChild<QToolButton*>("btnHide")->click();
        }
        // Through the gateway, hiding begins once its check has passed.
        if (FHide && !FHidingRecorded && FForm->Hider().IsHiding()) {
            FHidingRecorded = true;
            Record("hiding");
        }
    }

    QPointer<TfrmMain> FForm;
    bool FHide = false;
    bool FHidingRecorded = false;
    QElapsedTimer FLastClick;
    static constexpr int kClickAgainMs = 1500;
    std::string FWindow;
    std::string FTray;
    std::string FSplash;
};

// The status panel's player, recording what its second line is told.
class PanelRecorder : public cloakline::TShockwaveFlash {
  public:
    using TShockwaveFlash::TShockwaveFlash;
    void SetVariable(std::string_view name, std::string_view value) override {
        if (value.starts_with("Info_Text2,")) {
            Record("panel2 " + std::string(value));
        }
        TShockwaveFlash::SetVariable(name, value);
    }
};

std::unique_ptr<QWidget> CreateRecordedMainForm(const cloakline::TAppContext& context) {
    Watcher::AnswerBoxes();
    cloakline::TMainFormHooks hooks;
    hooks.Panel.CreatePlayer = [](QWidget* owner) { return new PanelRecorder(owner); };
    auto form = std::make_unique<TfrmMain>(context, nullptr, std::move(hooks));
    TfrmMain* window = form.get();
    cloakline::TKTInstanceHook& hook = *window->Engine()->InstanceHook();
    const char* busy = std::getenv("CLOAKLINE_TEST_BUSY_MS");
    const int busyMs = busy != nullptr ? std::atoi(busy) : 0;
    hook.OnInitPost = [window, busyMs, initPost = hook.OnInitPost] {
        if (busyMs > 0) {
            // A long deferred start: the loop runs, the instance answers busy.
            QEventLoop loop;
            QTimer::singleShot(busyMs, &loop, &QEventLoop::quit);
            loop.exec();
        }
        initPost();
        Record("initpost " + WindowState(*window));
    };
    hook.OnBringToFront = [bringToFront = hook.OnBringToFront] {
        Record("bringtofront");
        return bringToFront();
    };
    window->Engine()->SetOnCmdFile([](const std::string& file) { Record("cmdfile:" + file); });
    QObject::connect(window, &QObject::destroyed, [] { Record("destroyed"); });
    new Watcher(*window);
    Record(hook.Listening() ? "listening" : "not-listening");
    return form;
}

}  // namespace hosttest

int main(int argc, char** argv) {
    const std::unique_ptr<cloakline::Platform> system = cloakline::CreateSystemPlatform();
    cloakline::SetGlobalPlatform(system.get());
    cloakline::RunApplication(argc, argv, hosttest::CreateRecordedMainForm, {});
    hosttest::Record("ended");
    cloakline::SetGlobalPlatform(nullptr);
    return 0;
}
