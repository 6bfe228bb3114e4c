#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <functional>

namespace cloakline::test {

// Presses OK on every message box that goes modal while it lives and keeps
// their texts, so that code showing boxes can run unattended.
class ModalBoxRecorder {
  public:
    ModalBoxRecorder() {
        FTimer.setInterval(5);
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible()) {
                return;
            }
            Texts.append(box->text());
            if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
                ok->click();
            } else {
                box->reject();
            }
        });
        FTimer.start();
    }

    QStringList Texts;

  private:
    QTimer FTimer;
};

// Runs act once on the next modal dialog of kind T, from the dialog's own
// event loop, looking for it every intervalMs.
template <class T>
void OnNextModal(std::function<void(T&)> act, int intervalMs = 5) {
    auto* timer = new QTimer;
    timer->setInterval(intervalMs);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(*dialog);
        }
    });
    timer->start();
}

}  // namespace cloakline::test
