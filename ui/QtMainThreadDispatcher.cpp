#include "ui/QtMainThreadDispatcher.h"

#include <QCoreApplication>
#include <exception>

namespace cloakline {

std::shared_ptr<TQtMainThreadDispatcher> TQtMainThreadDispatcher::Create() {
    return std::shared_ptr<TQtMainThreadDispatcher>(new TQtMainThreadDispatcher());
}

bool TQtMainThreadDispatcher::WakeMainThread() {
    QCoreApplication* const app = QCoreApplication::instance();
    if (app == nullptr) {
        return false;
    }
    // The posted call may outlive the dispatcher; it then finds nothing to run.
    const std::weak_ptr<TQtMainThreadDispatcher> self = weak_from_this();
    return QMetaObject::invokeMethod(
        app,
        [self] {
            const auto dispatcher = self.lock();
            if (!dispatcher) {
                return;
            }
            // An exception must not cross Qt's event loop; the task that threw
            // has ended and its worker is released, the loop goes on.
            try {
                dispatcher->RunPending();
            } catch (const std::exception& e) {
                qCritical("%s", e.what());
            } catch (...) {
                qCritical("Unknown error in a task handed to the main thread");
            }
        },
        Qt::QueuedConnection);
}

}  // namespace cloakline
