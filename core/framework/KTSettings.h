#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/framework/IniDocument.h"
#include "core/support/Types.h"
#include "platform/api/Platform.h"

namespace cloakline {

// The one store for configuration and remembered user state. Reads go through
// five layers: the engine's forced values, the user's "setting.dat", the
// partner's "oem.const.dat", the product's "const.dat", the engine's defaults.
// Writes go to "setting.dat" only.
class TKTSettings {
  public:
    TKTSettings(Platform& platform, std::string_view strSettingFile);
    virtual ~TKTSettings();
    TKTSettings(const TKTSettings&) = delete;
    TKTSettings& operator=(const TKTSettings&) = delete;

    std::string GetSettingString(std::string_view strName);
    void SetSettingstring(std::string_view strName, std::string_view strValue);
    std::int32_t GetSettingInteger(std::string_view strName);
    void SetSettingInteger(std::string_view strName, std::int32_t iValue);
    double GetSettingFloat(std::string_view strName);
    void SetSettingFloat(std::string_view strName, double fValue);
    bool GetSettingBool(std::string_view strName);
    void SetSettingBool(std::string_view strName, bool ibValue);
    void GetSettingRect(std::string_view strName, TRect& rcValue);
    void SetSettingRect(std::string_view strName, const TRect& rcValue);
    bool GetSettingExists(std::string_view strName) const;

    bool GetMessageShowAgainFlag(std::int32_t iNumber) const;
    void SetMessageShowAgainFlag(std::int32_t iNumber, bool bValue);
    std::int32_t GetMessageShowAgainResult(std::int32_t iNumber) const;
    void SetMessageShowAgainResult(std::int32_t iNumber, std::int32_t iValue);
    void ClearShowAgainFlag();

    bool IsAllUserFlagExists();
    bool GetAllUserFlag();
    void SetAllUserFlag(bool bValue);
    bool IsAllUserPathWriteable();

    bool AllUser() const { return FAllUser; }
    void SetAllUser(bool value);
    const std::string& UserDataPath() const { return FUserDataPath; }
    // The user's data folder, program form, ending in "\\" (the restore
    // journal lives there).
    std::string UserDataFolder() const {
        return FUserDataPath.empty() || FUserDataPath.back() == '\\' ? FUserDataPath : FUserDataPath + '\\';
    }
    const std::string& UserDataPathCurrentUser() const { return FUserDataPathCurrentUser; }
    const std::string& UserDataPathAllUsers() const { return FUserDataPathAllUsers; }
    const std::string& ConstDataPath() const { return FConstDataPath; }
    std::int32_t RunTimes() const { return FRunTimes; }

    // Saves "setting.dat" now; false (and a log line) when it could not be
    // written, in which case the old file and the values in memory are kept.
    bool UpdateSettingINI();
    void BeginUpdate();
    void EndUpdate();
    bool NoCache() const { return FNoCache; }
    void SetNoCache(bool value) { FNoCache = value; }

    std::int32_t GetRunDays() const;
    std::string SlowGetLanguageString(std::string_view strSection,
                                      std::string_view strValue,
                                      std::string_view strDefault);

    std::string GetSettingsecString(std::string_view strName);
    void SetSettingsecString(std::string_view strName, std::string_view strValue);

    // A settings file larger than this is left alone: it reads as empty and
    // is never saved over.
    static constexpr std::size_t kMaxFileSize = 256u << 20;

  private:
    const std::string* FindInFiles(std::string_view strName) const;
    // False when the file exists but could not be read.
    bool LoadDocument(TIniDocument& doc, const std::string& path) const;
    char DecimalSeparator() const;
    void ReloadUserDocument();
    std::string UserSettingsPath() const { return FUserDataPath + FSettingFilename; }
    std::string UserFlagPath() const;
    void ReadUserFlag(TIniDocument& doc);
    void SaveUnlessBatched();

    Platform& FPlatform;
    bool FAllUser = false;
    TIniDocument FConstValueIni;
    TIniDocument FOemValueIni;
    TIniDocument FSettingIni;
    std::string FConstDataPath;
    std::string FUserDataPath;
    std::string FUserDataPathCurrentUser;
    std::string FUserDataPathAllUsers;
    std::int32_t FRunTimes = 0;
    std::uint32_t FEncodeMask = 0;
    bool FUpdating = false;
    std::string FConfigPathWord;
    std::string FSettingFilename;
    bool FNoCache = false;
    // The user file exists but could not be read: saving would destroy it.
    bool FSettingUnreadable = false;
};

// Creates the store on the first call (over GlobalPlatform()).
TKTSettings& GlobalSettings(std::string_view fileName = {});
void ReleaseGlobalSettings();
bool GlobalSettingsExists();

}  // namespace cloakline
