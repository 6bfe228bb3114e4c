#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>

namespace cloakline::test {

// A real X server (Xvfb) on a display number it picks itself, with the
// openbox window manager, for one test program. Both end with the object.
class TXDesktop {
  public:
    TXDesktop();
    ~TXDesktop();
    TXDesktop(const TXDesktop&) = delete;
    TXDesktop& operator=(const TXDesktop&) = delete;

    // Empty when the server did not come up.
    const std::string& Display() const { return FDisplay; }
    // True once the window manager has announced itself on the screen.
    bool WaitForWindowManager(std::chrono::milliseconds timeout) const;

  private:
    std::string FDisplay;
    pid_t FServer = -1;
    pid_t FManager = -1;
};

// What the window manager reads of one window, by its X id, through a
// connection of its own. (Xlib's names stay out of the tests' sources.)
class TXWindowInfo {
  public:
    explicit TXWindowInfo(const std::string& display);
    ~TXWindowInfo();
    TXWindowInfo(const TXWindowInfo&) = delete;
    TXWindowInfo& operator=(const TXWindowInfo&) = delete;

    // _NET_WM_NAME (UTF-8), or nothing while the window has none.
    std::optional<std::string> NetWmName(unsigned long window) const;
    // Width and height with the frame the window manager put round the
    // window (_NET_FRAME_EXTENTS), once it has one.
    std::optional<std::pair<int, int>> FramedSize(unsigned long window) const;

  private:
    void* FDisplay;
};

}  // namespace cloakline::test
