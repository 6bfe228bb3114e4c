#pragma once

#include <memory>
#include <string>

#include "core/framework/KTSettings.h"
#include "platform/api/Platform.h"
#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/NativePath.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeDataFolders.h"
#include "tests/support/TempDir.h"

namespace cloakline::test {

// An installation below a native folder: the program and its constants in
// "prog", the user's data in "user". Real files through the Linux backend.
class SettingsInstallation {
  public:
    explicit SettingsInstallation(const std::string& nativeRoot) : FRoot(nativeRoot) {
        auto folders = std::make_unique<FakeDataFolders>();
        folders->ExeName = ToProgramForm(nativeRoot + "/prog/cloakline");
        folders->ShellFolders["AppData"] = ToProgramForm(nativeRoot + "/user");
        folders->CommonShellFolders["Common AppData"] = ToProgramForm(nativeRoot + "/common");
        folders->TempDir = ToProgramForm(nativeRoot) + "\\";
        P.Files = std::make_unique<LinuxFileSystem>();
        P.Folders = std::move(folders);
        P.Clock = std::make_unique<FakeClock>();
    }

    // The constants keep the user's file in the per-user folder.
    static constexpr const char* kConstants = "[setting]\r\nApp.Name=Cloakline\r\nSetting.NoAllUser=1\r\n";

    std::unique_ptr<TKTSettings> Open() { return std::make_unique<TKTSettings>(P, ""); }
    // Native path of "setting.dat" as the store names it.
    static std::string NativeSettingsFile(const TKTSettings& settings) {
        return ToNativePath(settings.UserDataPath() + "setting.dat");
    }

    Platform P;

  private:
    std::string FRoot;
};

}  // namespace cloakline::test
