#include "app/GuardLink.h"

#include "app/HideController.h"
#include "core/framework/DebugLog.h"
#include "core/framework/KTSettings.h"
#include "guard/GuardProtocol.h"
#include "ui/KTEngine.h"

namespace cloakline {

namespace {

// The guard ends at once on release; a slow one is reaped by the system later.
constexpr int kReleaseWaitMs = 1000;

}  // namespace

TGuardLink::TGuardLink(IGuardLauncher* launcher, std::string program, std::string journalPath)
    : FLauncher(launcher), FProgram(std::move(program)), FJournalPath(std::move(journalPath)) {}

TGuardLink::~TGuardLink() {
    Release();
}

void TGuardLink::Follow(bool hiding, bool block, const TGuardTexts& texts) {
    if (!hiding) {
        Release();
        return;
    }
    const bool textsChanged = texts != FTexts;
    const bool blockChanged = block != FBlock;
    FTexts = texts;
    FBlock = block;
    if (FPipe == nullptr) {
        Start();
        return;
    }
    if ((textsChanged && !(Send(GuardTitleLine(FTexts.Title)) && Send(GuardBodyLine(FTexts.Body)))) ||
        (blockChanged && !Send(GuardBlockLine(FBlock)))) {
        // The guard died: a new one watches from here on.
        DebugLog::Log("The guard no longer listens; starting another", "Guard");
        FPipe.reset();
        Start();
    }
}

void TGuardLink::FollowHider(const THideController* hider, TKTSettings& settings) {
    const bool hiding = hider != nullptr && hider->IsHiding();
    if (!hiding) {
        Follow(false, false, FTexts);
        return;
    }
    TGuardTexts texts;
    if (TKTEngine* engine = GlobalEngine()) {
        texts.Title = engine->GetAppString("Guard.BlockedTitle");
        texts.Body = engine->GetAppString("Guard.Blocked");
    }
    Follow(true, hider->HidingThroughGateway() && settings.GetSettingBool("Guard.BlockWeb"), texts);
}

void TGuardLink::Release() {
    if (FPipe == nullptr) {
        return;
    }
    if (!Send(GuardReleaseLine())) {
        DebugLog::Log("The guard had ended before its release", "Guard");
    }
    FPipe->Close(kReleaseWaitMs);
    FPipe.reset();
}

bool TGuardLink::Start() {
    if (FLauncher == nullptr) {
        DebugLog::Log("No guard on this system: a crash while hiding leaves the settings to the next start",
                      "Guard");
        return false;
    }
    std::string error;
    FPipe = FLauncher->Start(FProgram, {"--journal", FJournalPath}, error);
    if (FPipe == nullptr) {
        DebugLog::Log("The guard could not be started (" + error + "); hiding goes on without it", "Guard");
        return false;
    }
    if (!Send(GuardTitleLine(FTexts.Title)) || !Send(GuardBodyLine(FTexts.Body)) ||
        !Send(GuardBlockLine(FBlock))) {
        DebugLog::Log("The guard ended right after its start; hiding goes on without it", "Guard");
        FPipe->Close(0);
        FPipe.reset();
        return false;
    }
    DebugLog::Log("Guard started", "Guard");
    return true;
}

bool TGuardLink::Send(const std::string& line) {
    return FPipe != nullptr && FPipe->Send(line);
}

}  // namespace cloakline
