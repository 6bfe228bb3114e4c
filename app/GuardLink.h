#pragma once

#include <memory>
#include <string>

#include "platform/api/GuardProcess.h"

namespace cloakline {

class THideController;
class TKTSettings;

// The notification the guard shows in block mode, in the user's language.
struct TGuardTexts {
    std::string Title;
    std::string Body;

    friend bool operator==(const TGuardTexts&, const TGuardTexts&) = default;
};

// The program's side of the guard: a guard runs while hiding and is
// released on every Stop, so that only the program's death leaves it to act.
// A guard that cannot be started is noted in the debug log; hiding goes on.
class TGuardLink {
  public:
    // launcher may be null (no guard on this system); program and
    // journalPath in program form.
    TGuardLink(IGuardLauncher* launcher, std::string program, std::string journalPath);
    ~TGuardLink();
    TGuardLink(const TGuardLink&) = delete;
    TGuardLink& operator=(const TGuardLink&) = delete;

    // Starts the guard when hiding begins, keeps it told whether to block
    // and what to say, releases it when hiding ends.
    void Follow(bool hiding, bool block, const TGuardTexts& texts);
    // Follow for the hide controller: block while the browsers go through
    // the gateway and "Guard.BlockWeb" is on; the texts from the engine.
    void FollowHider(const THideController* hider, TKTSettings& settings);
    // A normal end: the guard goes without touching anything.
    void Release();
    bool Running() const { return FPipe != nullptr; }

  private:
    bool Start();
    bool Send(const std::string& line);

    IGuardLauncher* FLauncher;
    std::string FProgram;
    std::string FJournalPath;
    std::unique_ptr<IGuardPipe> FPipe;
    bool FBlock = false;
    TGuardTexts FTexts;
};

}  // namespace cloakline
