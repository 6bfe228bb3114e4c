#include "ui/QtMessagePump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace cloakline {

void TQtMessagePump::ProcessUntil(const std::function<bool()>& done) {
    // The timer only wakes the wait below, so that a condition that no event
    // signals is still seen soon.
    QTimer wake;
    wake.start(FRound);
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

}  // namespace cloakline
