#include "app/EndSignals.h"

#include <QSocketNotifier>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#endif

namespace cloakline {

#ifndef Q_OS_WIN

namespace {

constexpr int kEndSignals[] = {SIGTERM, SIGHUP, SIGINT};

// One set of handlers per process: the write end the handler reaches.
volatile sig_atomic_t gWriteEnd = -1;
int gReadEnd = -1;
struct sigaction gPrevious[std::size(kEndSignals)];

void OnSignal(int signal) {
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    // write() is async-signal-safe; a full pipe already holds an end request.
    [[maybe_unused]] const ssize_t written = ::write(gWriteEnd, &number, 1);
    errno = saved;
}

}  // namespace

TEndSignals::TEndSignals(std::function<void(int)> onEnd, QObject* parent)
    : QObject(parent), FOnEnd(std::move(onEnd)) {
    if (gWriteEnd >= 0) {
        return;  // another object holds the handlers
    }
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    gReadEnd = ends[0];
    gWriteEnd = ends[1];
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // Restarted calls: a blocking read elsewhere must not fail with EINTR.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kEndSignals); ++i) {
        ::sigaction(kEndSignals[i], &action, &gPrevious[i]);
    }
    FNotifier = new QSocketNotifier(static_cast<qintptr>(gReadEnd), QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] { Drain(); });
    FInstalled = true;
}

TEndSignals::~TEndSignals() {
    if (!FInstalled) {
        return;
    }
    for (std::size_t i = 0; i < std::size(kEndSignals); ++i) {
        ::sigaction(kEndSignals[i], &gPrevious[i], nullptr);
    }
    delete FNotifier;
    ::close(gReadEnd);
    ::close(gWriteEnd);
    gReadEnd = -1;
    gWriteEnd = -1;
}

void TEndSignals::Drain() {
    unsigned char numbers[16];
    int first = 0;
    ssize_t got = 0;
    while ((got = ::read(gReadEnd, numbers, sizeof numbers)) > 0) {
        if (first == 0) {
            first = numbers[0];
        }
    }
    if (first == 0 || FEnded) {
        return;
    }
    FEnded = true;
    if (FOnEnd) {
        FOnEnd(first);
    }
}

#else

TEndSignals::TEndSignals(std::function<void(int)> onEnd, QObject* parent)
    : QObject(parent), FOnEnd(std::move(onEnd)) {}

TEndSignals::~TEndSignals() = default;

void TEndSignals::Drain() {}

#endif

}  // namespace cloakline
