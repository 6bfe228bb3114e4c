#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/api/FileSystem.h"
#include "platform/api/ProxySettingsRecorder.h"

namespace cloakline {

// The journal's file name in the user's data folder.
inline constexpr std::string_view kRestoreJournalName = "restore.journal";

// The journal's bytes: a versioned text that survives any value (newlines,
// NUL, non-UTF-8) and tells a damaged or cut file from a whole one.
std::string EncodeJournal(const std::vector<TRecordedSetting>& settings);
// nullopt for anything that is not a whole journal of a known version.
std::optional<std::vector<TRecordedSetting>> DecodeJournal(std::string_view bytes);

// What the user had before Hide changed anything, kept on disk until Stop
// has put it back, so that neither a Stop nor a crash loses it.
class TRestoreJournal {
  public:
    // path in program form; files and recorder must outlive the journal.
    TRestoreJournal(IFileSystem& files, IProxySettingsRecorder& recorder, std::string path);

    bool Exists() const;
    // Before the first change of a Hide. A journal already there is kept: it
    // holds the user's values from a run that ended without Stop, and those
    // must win over what that run left behind; a damaged one is set aside
    // and what is there now recorded instead. False when the settings could
    // not be read or the journal not written whole; the Hide must not go on.
    bool RecordBeforeChange();
    // Puts the journal's values back and then removes it. True when there
    // was no journal. A failed restore keeps the journal for the next try;
    // a damaged journal is set aside (renamed) so that it is never applied.
    bool RestoreAndRemove();

    const std::string& Path() const { return FPath; }

  private:
    IFileSystem& FFiles;
    IProxySettingsRecorder& FRecorder;
    std::string FPath;
};

}  // namespace cloakline
