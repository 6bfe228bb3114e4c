#pragma once

#include <memory>
#include <string>

#include "core/proxy/SHRUtils.h"
#include "journal/RestoreJournal.h"

namespace cloakline {

// The user's own proxy settings around Hide and Stop: recorded in the
// journal before the first change, given back exactly at Stop. Without a
// recorder on this platform, Stop points the browsers at a direct
// connection as it always did. Main thread only.
class TSettingsJournal {
  public:
    // path in program form: the user's data folder + kRestoreJournalName.
    TSettingsJournal(Platform& system, std::string path);

    // Before the first change a Hide makes; a Hide that is already under way
    // finds its journal and goes on. False, after the message
    // "MSGBox.JournalFailed", when the settings could not be recorded: then
    // nothing may be changed.
    bool BeforeHide();
    // Stop: the journal's values back, then the journal removed. With no
    // journal, settings the program did not make are left alone (only what
    // it alone writes is tidied away), unless it was hiding (the journal was
    // lost): then every browser goes direct.
    // A restore that failed points every browser at a direct connection, so
    // that none is left on a proxy no one looks after, and keeps the journal
    // for the next Stop or start.
    TSwitchReport Stop(const TSwitchServices& with, bool wasHiding);
    // The last Stop's restore failed; the caller tells the user
    // ("MSGBox.RestoreFailed") unless the program is on its way out.
    bool RestoreFailed() const { return FRestoreFailed; }

    TRestoreJournal* Journal() { return FJournal.get(); }

  private:
    std::unique_ptr<TRestoreJournal> FJournal;
    bool FRestoreFailed = false;
};

}  // namespace cloakline
