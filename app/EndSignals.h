#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace cloakline {

// SIGTERM, SIGHUP and SIGINT (logout, a service manager's stop, Ctrl+C)
// delivered through the event loop: the handler only writes the signal's
// number to a pipe, and OnEnd runs on the main thread once the loop reads
// it, so that the program can end as its own Exit does. Only the first
// signal counts; later ones are swallowed while the end is under way. The
// previous dispositions come back when the object goes. No-op on Windows,
// where the session's end arrives as a window message.
class TEndSignals : public QObject {
    Q_OBJECT

  public:
    explicit TEndSignals(std::function<void(int signal)> onEnd, QObject* parent = nullptr);
    ~TEndSignals() override;
    TEndSignals(const TEndSignals&) = delete;
    TEndSignals& operator=(const TEndSignals&) = delete;

    // False when the handlers could not be installed (the default actions stay).
    bool Installed() const { return FInstalled; }

  private:
    void Drain();

    std::function<void(int)> FOnEnd;
    QSocketNotifier* FNotifier = nullptr;
    bool FInstalled = false;
    bool FEnded = false;
};

}  // namespace cloakline
