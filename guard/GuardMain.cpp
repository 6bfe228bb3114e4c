// cloakline-guard --journal PATH
// Started by the program while it hides, in a session of its own, reading
// the program's messages from its standard input. When that input ends
// without "release" the program has died (crash, kill -9, out of memory):
// the guard puts the user's proxy settings back from the journal at PATH
// (program form), or, in block mode, leaves the browsers on the dead gateway
// and tells the user so on the desktop.
//
// SIGTERM, SIGINT and SIGHUP (a logout ends every process of the session)
// give the program one more second to release: a program ending normally
// puts the settings back itself. Without a release the guard then does what
// a dead program asks, so that the next login does not find the browsers
// pointed at a proxy no one runs.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "guard/Guard.h"
#include "journal/RestoreJournal.h"
#include "platform/api/Platform.h"
#include "platform/linux/LinuxDesktopNotifier.h"

namespace {

constexpr int kReleaseGraceMs = 1000;

void Say(const std::string& text) {
    std::fprintf(stderr, "cloakline-guard: %s\n", text.c_str());
}

// Reads the program's pipe until it ends, or until the grace after an end
// signal has passed.
void Watch(cloakline::TGuard& guard, int signals) {
    using Clock = std::chrono::steady_clock;
    bool ending = false;
    Clock::time_point deadline;
    char buffer[4096];
    while (true) {
        int timeoutMs = -1;
        if (ending) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                return;
            }
            timeoutMs = static_cast<int>(left);
        }
        pollfd fds[2] = {{0, POLLIN, 0}, {signals, POLLIN, 0}};
        const int ready = ::poll(fds, signals >= 0 ? 2 : 1, timeoutMs);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return;
        }
        if (signals >= 0 && (fds[1].revents & POLLIN) != 0) {
            signalfd_siginfo info;
            if (::read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info) && !ending) {
                ending = true;
                deadline = Clock::now() + std::chrono::milliseconds(kReleaseGraceMs);
            }
        }
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            const ssize_t n = ::read(0, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return;
            }
            guard.Feed(std::string_view(buffer, static_cast<std::size_t>(n)));
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || std::strcmp(argv[1], "--journal") != 0 || argv[2][0] == '\0') {
        std::fprintf(stderr, "usage: cloakline-guard --journal PATH (started by Cloakline)\n");
        return 2;
    }
    const std::string journalPath = argv[2];
    // Out of the program's process group and terminal: Ctrl-C or a hang-up
    // there must not end the guard before it has restored.
    ::setsid();
    // Only the pipe and the diagnostics; nothing else of the program's.
    ::close_range(3, ~0u, 0);
    ::signal(SIGPIPE, SIG_IGN);
    sigset_t ends;
    sigemptyset(&ends);
    for (const int s : {SIGTERM, SIGINT, SIGHUP}) {
        sigaddset(&ends, s);
    }
    ::sigprocmask(SIG_BLOCK, &ends, nullptr);
    const int signals = ::signalfd(-1, &ends, SFD_CLOEXEC);

    // Ready before the program can die, so that the restore is quick.
    const std::unique_ptr<cloakline::Platform> platform = cloakline::CreateSystemPlatform();
    cloakline::LinuxDesktopNotifier notifier;
    std::unique_ptr<cloakline::TRestoreJournal> journal;
    if (platform->ProxyRecorder) {
        journal = std::make_unique<cloakline::TRestoreJournal>(*platform->Files, *platform->ProxyRecorder,
                                                               journalPath);
    }
    cloakline::TGuard guard([&journal] { return journal != nullptr && journal->RestoreAndRemove(); },
                            notifier);

    Watch(guard, signals);
    switch (guard.End()) {
        case cloakline::TGuardEnd::Released:
            return 0;
        case cloakline::TGuardEnd::Restored:
            Say("the program ended without Stop; the proxy settings are restored");
            return 0;
        case cloakline::TGuardEnd::RestoreFailed:
            Say("the program ended without Stop; the proxy settings could not all be restored, the journal "
                "stays for the next start");
            return 1;
        case cloakline::TGuardEnd::Blocked:
            Say(guard.Notified() ? "the program ended without Stop; the web stays blocked (user notified)"
                                 : "the program ended without Stop; the web stays blocked (no notification "
                                   "service)");
            return 0;
    }
    return 1;
}
