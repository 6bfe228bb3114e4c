#include "core/framework/KTSettings.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "core/framework/DebugLog.h"
#include "core/framework/EngineLayers.h"
#include "core/framework/GlobalPlatform.h"
#include "core/support/PathUtils.h"
#include "core/support/ShellUtils.h"
#include "core/support/TextUtils.h"

namespace cloakline {

namespace {

constexpr std::string_view kSection = "setting";
constexpr std::string_view kShowAgainSection = "ShowAgain";
constexpr std::string_view kShowAgainResultSection = "ShowAgainModuleResult";
constexpr std::string_view kLogTag = "KTSettings";
constexpr std::uint32_t kScrambleMask = 0x5A3C96E1u;

std::optional<std::string> FindInLines(const TStringList& lines, std::string_view name) {
    const int i = lines.IndexOfName(name);
    if (i < 0) {
        return std::nullopt;
    }
    return TStringList::ValueOf(lines[static_cast<std::size_t>(i)]);
}

std::string ConfigWordFromPath(std::string path) {
    for (char& c : path) {
        if (c == '\\' || c == ':' || c == '/') {
            c = '_';
        }
    }
    return path;
}

// "1", "0x1F" and the like are true; missing or unreadable is true as well.
bool FlagFromText(const std::string* text) {
    return text == nullptr || TextToIntDef(*text, 1) != 0;
}

std::uint8_t ScrambleByte(std::uint32_t mask, std::size_t position) {
    return static_cast<std::uint8_t>((mask >> ((position % 4) * 8)) ^ (position * 0x9D));
}

}  // namespace

TKTSettings::TKTSettings(Platform& platform, std::string_view strSettingFile) : FPlatform(platform) {
    FSettingFilename = strSettingFile.empty() ? std::string("setting.dat") : std::string(strSettingFile);
    const std::string constFilename =
        strSettingFile.empty() ? std::string("const.dat") : std::string(strSettingFile);

    FConstDataPath = GetAppPath(FPlatform);
    LoadDocument(FConstValueIni, FConstDataPath + constFilename);
    LoadDocument(FOemValueIni, FConstDataPath + "oem." + constFilename);

    FConfigPathWord = GetSettingString("App.ConfigPath");
    if (FConfigPathWord.empty()) {
        FConfigPathWord = ConfigWordFromPath(GetExeName(FPlatform));
    }
    FUserDataPathCurrentUser = FPlatform.Folders->GetShellFolder("AppData") + "\\" + FConfigPathWord + "\\";
    // A system without a folder for all users (or one the program must not
    // create by itself) leaves it empty, and the per-user folder is used.
    const std::string common = FPlatform.Folders->GetCommonShellFolder("Common AppData");
    FUserDataPathAllUsers = common.empty() ? std::string() : common + "\\" + FConfigPathWord + "\\";
    FEncodeMask = kScrambleMask;

    if (TextToIntDef(GetSettingString("Setting.NoAllUser"), 0) != 0) {
        SetAllUser(false);
    } else {
        if (IsAllUserFlagExists()) {
            if (GetAllUserFlag() && !IsAllUserPathWriteable()) {
                SetAllUserFlag(false);
            }
        } else {
            SetAllUserFlag(IsAllUserPathWriteable());
        }
        SetAllUser(GetAllUserFlag());
    }

    FRunTimes = GetSettingInteger("RunTimes");
    SetSettingInteger("RunTimes", FRunTimes + 1);
}

TKTSettings::~TKTSettings() = default;

bool TKTSettings::LoadDocument(TIniDocument& doc, const std::string& path) const {
    doc.Clear();
    const auto bytes = FPlatform.Files->ReadFile(path, kMaxFileSize);
    if (bytes) {
        doc.LoadFromBytes(*bytes);
        return true;
    }
    return !FPlatform.Files->FileExists(path);
}

char TKTSettings::DecimalSeparator() const {
    return FPlatform.SystemInfo ? FPlatform.SystemInfo->DecimalSeparator() : '.';
}

void TKTSettings::SetAllUser(bool value) {
    if (FUserDataPathAllUsers.empty()) {
        value = false;
    }
    FAllUser = value;
    FUserDataPath = value ? FUserDataPathAllUsers : FUserDataPathCurrentUser;
    FPlatform.Files->ForceDirectories(FUserDataPath);
    FUserDataPath = IncludeTrailingBackslash(FPlatform.Files->GetLongPath(FUserDataPath));
    FSettingIni.Clear();
    if (!FPlatform.Files->FileExists(UserSettingsPath())) {
        FPlatform.Files->WriteTextFile(" ", UserSettingsPath());
    }
    // The proxy lists and the user's choices are nobody else's business; the
    // all-users folder keeps the modes its users share it by. Every later
    // save keeps the mode of the file it replaces.
    if (!value) {
        FPlatform.Files->MakePrivate(FUserDataPath);
        FPlatform.Files->MakePrivate(UserSettingsPath());
    }
    ReloadUserDocument();
}

void TKTSettings::ReloadUserDocument() {
    FSettingUnreadable = !LoadDocument(FSettingIni, UserSettingsPath());
    if (FSettingUnreadable) {
        DebugLog::Log("Setting Read Failed :" + UserSettingsPath(), kLogTag);
    }
}

const std::string* TKTSettings::FindInFiles(std::string_view strName) const {
    if (const std::string* v = FSettingIni.Find(kSection, strName)) {
        return v;
    }
    if (const std::string* v = FOemValueIni.Find(kSection, strName)) {
        return v;
    }
    return FConstValueIni.Find(kSection, strName);
}

std::string TKTSettings::GetSettingString(std::string_view strName) {
    IEngineLayers* engine = GlobalEngineLayers();
    if (engine != nullptr) {
        if (auto v = FindInLines(engine->SettingOverwrite(), strName)) {
            return *v;
        }
    }
    if (FNoCache) {
        ReloadUserDocument();
    }
    if (const std::string* v = FindInFiles(strName)) {
        return *v;
    }
    if (engine != nullptr) {
        if (auto v = FindInLines(engine->SettingDefault(), strName)) {
            return *v;
        }
    }
    if (DebugLog::Active()) {
        DebugLog::Log("Setting Not Found :" + std::string(strName), kLogTag);
    }
    return {};
}

bool TKTSettings::GetSettingExists(std::string_view strName) const {
    IEngineLayers* engine = GlobalEngineLayers();
    if (engine != nullptr && engine->SettingOverwrite().HasName(strName)) {
        return true;
    }
    if (FindInFiles(strName) != nullptr) {
        return true;
    }
    return engine != nullptr && engine->SettingDefault().HasName(strName);
}

void TKTSettings::SetSettingstring(std::string_view strName, std::string_view strValue) {
    FSettingIni.WriteString(kSection, strName, strValue);
    SaveUnlessBatched();
}

std::int32_t TKTSettings::GetSettingInteger(std::string_view strName) {
    return TextToIntDef(GetSettingString(strName), 0);
}

void TKTSettings::SetSettingInteger(std::string_view strName, std::int32_t iValue) {
    SetSettingstring(strName, std::to_string(iValue));
}

double TKTSettings::GetSettingFloat(std::string_view strName) {
    return TextToFloatDef(GetSettingString(strName), DecimalSeparator(), 0.0);
}

void TKTSettings::SetSettingFloat(std::string_view strName, double fValue) {
    SetSettingstring(strName, FloatToText(fValue, DecimalSeparator()));
}

bool TKTSettings::GetSettingBool(std::string_view strName) {
    return GetSettingInteger(strName) != 0;
}

void TKTSettings::SetSettingBool(std::string_view strName, bool ibValue) {
    SetSettingstring(strName, ibValue ? "1" : "0");
}

void TKTSettings::GetSettingRect(std::string_view strName, TRect& rcValue) {
    StrToRect(GetSettingString(strName), rcValue);
}

void TKTSettings::SetSettingRect(std::string_view strName, const TRect& rcValue) {
    SetSettingstring(strName, RectToStr(rcValue));
}

bool TKTSettings::GetMessageShowAgainFlag(std::int32_t iNumber) const {
    return FlagFromText(FSettingIni.Find(kShowAgainSection, std::to_string(iNumber)));
}

void TKTSettings::SetMessageShowAgainFlag(std::int32_t iNumber, bool bValue) {
    FSettingIni.WriteString(kShowAgainSection, std::to_string(iNumber), bValue ? "1" : "0");
    SaveUnlessBatched();
}

std::int32_t TKTSettings::GetMessageShowAgainResult(std::int32_t iNumber) const {
    const std::string* text = FSettingIni.Find(kShowAgainResultSection, std::to_string(iNumber));
    return text == nullptr ? 1 : TextToIntDef(*text, 1);
}

void TKTSettings::SetMessageShowAgainResult(std::int32_t iNumber, std::int32_t iValue) {
    FSettingIni.WriteString(kShowAgainResultSection, std::to_string(iNumber), std::to_string(iValue));
    SaveUnlessBatched();
}

void TKTSettings::ClearShowAgainFlag() {
    FSettingIni.EraseSection(kShowAgainSection);
    FSettingIni.EraseSection(kShowAgainResultSection);
    SaveUnlessBatched();
}

std::string TKTSettings::UserFlagPath() const {
    return FUserDataPathCurrentUser + "UserFlag.ini";
}

void TKTSettings::ReadUserFlag(TIniDocument& doc) {
    FPlatform.Files->ForceDirectories(FUserDataPathCurrentUser);
    FPlatform.Files->MakePrivate(FUserDataPathCurrentUser);
    LoadDocument(doc, UserFlagPath());
}

bool TKTSettings::IsAllUserFlagExists() {
    TIniDocument doc;
    ReadUserFlag(doc);
    return doc.ValueExists("Flag", "AllUsers");
}

bool TKTSettings::GetAllUserFlag() {
    TIniDocument doc;
    ReadUserFlag(doc);
    return FlagFromText(doc.Find("Flag", "AllUsers"));
}

void TKTSettings::SetAllUserFlag(bool bValue) {
    TIniDocument doc;
    ReadUserFlag(doc);
    doc.WriteString("Flag", "AllUsers", bValue ? "1" : "0");
    // Closed to others before its first save: a save keeps the mode of the
    // file it replaces, its temporary file included.
    if (!FPlatform.Files->FileExists(UserFlagPath())) {
        FPlatform.Files->WriteTextFile("", UserFlagPath());
    }
    FPlatform.Files->MakePrivate(UserFlagPath());
    if (!FPlatform.Files->ReplaceFile(UserFlagPath(), doc.SaveToBytes())) {
        DebugLog::Log("Setting Save Failed :" + UserFlagPath(), kLogTag);
    }
}

bool TKTSettings::IsAllUserPathWriteable() {
    return !FUserDataPathAllUsers.empty() && FPlatform.Files->ForceDirectories(FUserDataPathAllUsers) &&
           FPlatform.Files->CheckFileAccess(GENERIC_WRITE_ACCESS, FUserDataPathAllUsers);
}

bool TKTSettings::UpdateSettingINI() {
    if (FSettingUnreadable) {
        DebugLog::Log("Setting Save Skipped, file unreadable :" + UserSettingsPath(), kLogTag);
        return false;
    }
    if (!FPlatform.Files->ReplaceFile(UserSettingsPath(), FSettingIni.SaveToBytes())) {
        DebugLog::Log("Setting Save Failed :" + UserSettingsPath(), kLogTag);
        return false;
    }
    return true;
}

void TKTSettings::SaveUnlessBatched() {
    if (!FUpdating) {
        UpdateSettingINI();
    }
}

void TKTSettings::BeginUpdate() {
    FUpdating = true;
}

void TKTSettings::EndUpdate() {
    FUpdating = false;
    UpdateSettingINI();
}

std::int32_t TKTSettings::GetRunDays() const {
    const TDateTime now = FPlatform.Clock->Now();
    std::int32_t result = 0;
    const std::string folders[] = {ExcludeTrailingBackslash(FConstDataPath), FUserDataPathCurrentUser,
                                   FUserDataPathAllUsers};
    for (const std::string& folder : folders) {
        TFileTime created = 0;
        if (FPlatform.Files->GetFileCreationTime(folder, created)) {
            const double days = std::fabs(now - FileTimeToDateTime(created));
            result = std::max(result, static_cast<std::int32_t>(days));
        }
    }
    return result;
}

std::string TKTSettings::SlowGetLanguageString(std::string_view strSection,
                                               std::string_view strValue,
                                               std::string_view strDefault) {
    std::string lang = GetSettingString("Language");
    const std::string forced = GetSettingString("Language.Force");
    if (!forced.empty()) {
        lang = forced;
    }
    // Only a plain name stays inside the language folder; anything else is
    // read as a missing file.
    if (!IsPlainItemName(lang)) {
        return std::string(strDefault);
    }
    TIniDocument doc;
    LoadDocument(doc, FConstDataPath + GetSettingString("Path.Languages") + "\\" + lang + ".lan");
    return doc.ReadString(strSection, strValue, strDefault);
}

std::string TKTSettings::GetSettingsecString(std::string_view strName) {
    const std::string stored = GetSettingString(strName);
    if (stored.size() % 2 != 0) {
        return {};
    }
    std::string plain;
    for (std::size_t i = 0; i < stored.size(); i += 2) {
        const int high = HexDigitValue(stored[i]);
        const int low = HexDigitValue(stored[i + 1]);
        if (high < 0 || low < 0) {
            return {};
        }
        plain.push_back(static_cast<char>((high << 4 | low) ^ ScrambleByte(FEncodeMask, i / 2)));
    }
    return plain;
}

void TKTSettings::SetSettingsecString(std::string_view strName, std::string_view strValue) {
    std::string stored;
    for (std::size_t i = 0; i < strValue.size(); ++i) {
        AppendHexByte(stored, static_cast<std::uint8_t>(static_cast<std::uint8_t>(strValue[i]) ^
                                                        ScrambleByte(FEncodeMask, i)));
    }
    SetSettingstring(strName, stored);
}

namespace {
std::unique_ptr<TKTSettings> gSettings;
}

TKTSettings& GlobalSettings(std::string_view fileName) {
    if (!gSettings) {
        gSettings = std::make_unique<TKTSettings>(GlobalPlatform(), fileName);
    }
    return *gSettings;
}

void ReleaseGlobalSettings() {
    gSettings.reset();
}

bool GlobalSettingsExists() {
    return gSettings != nullptr;
}

}  // namespace cloakline
