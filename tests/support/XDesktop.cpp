#include "tests/support/XDesktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <thread>

namespace cloakline::test {

namespace {

void Stop(pid_t& pid) {
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
}

void QuietOutput() {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        close(null);
    }
}

// A property's value when it has that kind: its bytes, or for 32-bit items
// the longs Xlib hands them over as.
std::optional<std::string> ReadProperty(::Display* display, Window window, const char* name, Atom kind) {
    XSync(display, False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::optional<std::string> value;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1024, False, kind, &type,
                           &format, &count, &after, &data) == Success &&
        type == kind && count > 0) {
        value = std::string(reinterpret_cast<const char*>(data), count * (format == 32 ? sizeof(long) : 1));
    }
    if (data != nullptr) {
        XFree(data);
    }
    return value;
}

}  // namespace

TXDesktop::TXDesktop() {
    int ready[2];
    if (pipe(ready) != 0) {
        return;
    }
    FServer = fork();
    if (FServer == 0) {
        close(ready[0]);
        QuietOutput();
        // The server picks a free display and writes its number once it takes clients.
        const std::string fd = std::to_string(ready[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    std::string number;
    pollfd wait{ready[0], POLLIN, 0};
    char c = 0;
    while (FServer > 0 && poll(&wait, 1, 10000) > 0 && read(ready[0], &c, 1) == 1 && c != '\n') {
        number += c;
    }
    close(ready[0]);
    if (number.empty()) {
        Stop(FServer);
        return;
    }
    FDisplay = ":" + number;
    FManager = fork();
    if (FManager == 0) {
        QuietOutput();
        setenv("DISPLAY", FDisplay.c_str(), 1);
        execlp("openbox", "openbox", "--sm-disable", static_cast<char*>(nullptr));
        _exit(127);
    }
}

TXDesktop::~TXDesktop() {
    Stop(FManager);
    Stop(FServer);
}

bool TXDesktop::WaitForWindowManager(std::chrono::milliseconds timeout) const {
    if (FDisplay.empty()) {
        return false;
    }
    ::Display* display = XOpenDisplay(FDisplay.c_str());
    if (display == nullptr) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool found = false;
    while (!(found = ReadProperty(display, DefaultRootWindow(display), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW)
                         .has_value()) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    XCloseDisplay(display);
    return found;
}

TXWindowInfo::TXWindowInfo(const std::string& display) : FDisplay(XOpenDisplay(display.c_str())) {}

TXWindowInfo::~TXWindowInfo() {
    if (FDisplay != nullptr) {
        XCloseDisplay(static_cast<::Display*>(FDisplay));
    }
}

std::optional<std::string> TXWindowInfo::NetWmName(unsigned long window) const {
    auto* display = static_cast<::Display*>(FDisplay);
    return display != nullptr
               ? ReadProperty(display, window, "_NET_WM_NAME", XInternAtom(display, "UTF8_STRING", False))
               : std::nullopt;
}

std::optional<std::pair<int, int>> TXWindowInfo::FramedSize(unsigned long window) const {
    auto* display = static_cast<::Display*>(FDisplay);
    const std::optional<std::string> raw =
        display != nullptr ? ReadProperty(display, window, "_NET_FRAME_EXTENTS", XA_CARDINAL) : std::nullopt;
    XWindowAttributes attributes{};
    if (!raw || raw->size() != 4 * sizeof(long) || XGetWindowAttributes(display, window, &attributes) == 0) {
        return std::nullopt;
    }
    long extents[4];
    std::memcpy(extents, raw->data(), sizeof extents);
    return std::make_pair(attributes.width + static_cast<int>(extents[0] + extents[1]),
                          attributes.height + static_cast<int>(extents[2] + extents[3]));
}

}  // namespace cloakline::test
