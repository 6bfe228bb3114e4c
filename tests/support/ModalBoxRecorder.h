#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

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

}  // namespace cloakline::test
