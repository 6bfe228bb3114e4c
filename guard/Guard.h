#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/api/DesktopNotifier.h"

namespace cloakline {

// How a guard's watch ended.
enum class TGuardEnd {
    // The program stopped normally and put everything back itself.
    Released,
    // The program died; the user's settings are back.
    Restored,
    // The program died and the settings could not all be put back (the journal stays).
    RestoreFailed,
    // The program died while the browsers went through its gateway with
    // block mode on: they stay on the dead gateway and the user is told.
    Blocked,
};

// The guard's watch over the program: the bytes of its pipe in, and at the
// pipe's end what the last messages ask for. No I/O of its own.
class TGuard {
  public:
    // restore puts the journal back and answers whether all of it went back.
    TGuard(std::function<bool()> restore, IDesktopNotifier& notifier);

    // Bytes as they come; a line may arrive in pieces. Unknown lines are skipped.
    void Feed(std::string_view bytes);
    // The pipe ended (or the guard must end): restores, blocks or does nothing.
    TGuardEnd End();

    bool Released() const { return FReleased; }
    bool Blocking() const { return FBlock; }
    // The notification in block mode was shown (false when no service took it).
    bool Notified() const { return FNotified; }

  private:
    void Line(std::string_view line);

    std::function<bool()> FRestore;
    IDesktopNotifier& FNotifier;
    std::string FPartial;
    std::string FTitle;
    std::string FBody;
    bool FBlock = false;
    bool FReleased = false;
    bool FNotified = false;
};

}  // namespace cloakline
