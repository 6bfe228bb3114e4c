#pragma once

#include <memory>
#include <string>

#include "platform/api/Platform.h"
#include "platform/linux/LinuxFileSystem.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeDataFolders.h"
#include "tests/support/RecordingFileSystem.h"
#include "tests/support/TempDir.h"

namespace cloakline::test {

class FixedSystemInfo : public ISystemInfo {
  public:
    char Separator = '.';
    std::string GetSystemLanguageName() const override { return "English (United States)"; }
    std::uint16_t GetSystemLanguageId() const override { return 1033; }
    char DecimalSeparator() const override { return Separator; }
};

// An installation in a temporary folder: "prog" holds the program and its
// constants, "user" stands for the per-user data folder, "common" for the
// all-users one. Files are real; folders, clock and locale are the test's.
class SettingsTestPlatform {
  public:
    SettingsTestPlatform() {
        auto files = std::make_unique<RecordingFileSystem>(std::make_unique<LinuxFileSystem>());
        Files = files.get();
        auto folders = std::make_unique<FakeDataFolders>();
        Folders = folders.get();
        auto clock = std::make_unique<FakeClock>();
        Clock = clock.get();
        auto info = std::make_unique<FixedSystemInfo>();
        Info = info.get();
        P.Files = std::move(files);
        P.Folders = std::move(folders);
        P.Clock = std::move(clock);
        P.SystemInfo = std::move(info);

        Dir.Sub("prog/.keep");
        Dir.Sub("user/.keep");
        Dir.Sub("common/.keep");
        Folders->ExeName = Dir.ProgramPath("prog/cloakline");
        Folders->ShellFolders["AppData"] = Dir.ProgramPath("user");
        Folders->CommonShellFolders["Common AppData"] = Dir.ProgramPath("common");
        Folders->TempDir = Dir.ProgramPath("") + "\\";
    }

    void WriteConst(const std::string& text) const { Dir.WriteFile("prog/const.dat", text); }
    void WriteOem(const std::string& text) const { Dir.WriteFile("prog/oem.const.dat", text); }

    // The configuration folder name that the store derives from the program path.
    std::string ConfigWord() const {
        std::string word = Folders->ExeName;
        for (char& c : word) {
            if (c == '\\' || c == '/' || c == ':') {
                c = '_';
            }
        }
        return word;
    }
    std::string UserFolder() const { return "user/" + ConfigWord(); }
    std::string CommonFolder() const { return "common/" + ConfigWord(); }

    TempDir Dir;
    Platform P;
    RecordingFileSystem* Files;
    FakeDataFolders* Folders;
    FakeClock* Clock;
    FixedSystemInfo* Info;
};

}  // namespace cloakline::test
