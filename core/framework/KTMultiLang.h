#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/framework/ComponentReflection.h"
#include "core/framework/KTMultiLangLan.h"
#include "core/support/StringList.h"
#include "core/support/TextEncoding.h"
#include "platform/api/FileSystem.h"

namespace cloakline {

class TKTMultiLang;

// The language data that every translated form shares: the current and the
// default language file, the registered clients, and the rules that decide
// which properties a harvest collects. Main thread only.
class TKTMultiLangData {
  public:
    // files must outlive the data; compareSectionNames orders the form
    // sections of a saved file.
    explicit TKTMultiLangData(IFileSystem& files, TTextCompare compareSectionNames = CompareTextAscii);
    // Clients stay alive and are left without shared data.
    ~TKTMultiLangData();
    TKTMultiLangData(const TKTMultiLangData&) = delete;
    TKTMultiLangData& operator=(const TKTMultiLangData&) = delete;

    // The 26 patterns a new instance starts with.
    static const TStringList& DefaultExcludeProps();

    // Entries of section "Info", falling back to the default language.
    std::string CurrentLanguage();
    std::string CurrentLanguageTranslator();
    std::string CurrentVersion();

    bool ExcludeEmptyProp() const { return FExcludeEmptyProp; }
    void SetExcludeEmptyProp(bool value) { FExcludeEmptyProp = value; }
    const TStringList& ExcludeProps() const { return FExcludeProps; }
    void SetExcludeProps(const TStringList& value) { FExcludeProps = value; }
    bool ExcludeNumberEndProps() const { return FExcludeNumberEndProps; }
    void SetExcludeNumberEndProps(bool value) { FExcludeNumberEndProps = value; }
    bool AutoApply() const { return FAutoApply; }
    void SetAutoApply(bool value) { FAutoApply = value; }
    bool ExcludeWithAction() const { return FExcludeWithAction; }
    void SetExcludeWithAction(bool value) { FExcludeWithAction = value; }

    const TStringList& CurrentData() const { return FLangCurrentData.Data(); }
    void SetCurrentData(const TStringList& lines) { FLangCurrentData.SetData(lines); }
    const TStringList& DefaultData() const { return FLangDefaultData.Data(); }
    void SetDefaultData(const TStringList& lines) { FLangDefaultData.SetData(lines); }

    // Looks the name up again and keeps it for "{AppName}".
    std::string AppName();

    // The current language's entry, else the default's, with every
    // "{AppName}" (in any letter case) filled in. False, with strValue
    // untouched, when neither has one.
    bool GetProp(std::string_view strForm,
                 std::string_view strComp,
                 std::string_view strProp,
                 std::string& strValue);
    // These change the current language only.
    void SetProp(std::string_view strForm,
                 std::string_view strComp,
                 std::string_view strProp,
                 std::string_view strValue);
    void ClearForm(std::string_view strForm);
    void UpdateData();

    // Adds the section's entries of the current, then the default language to
    // sl; a name that sl already has keeps its value.
    void GetSectionStrings(std::string_view strSection, TStringList& sl);

    void AddClient(TKTMultiLang* pClient);
    void RemoveClient(TKTMultiLang* pClient);
    const std::vector<TKTMultiLang*>& Clients() const { return FClients; }
    // Each client in registration order.
    void ApplyClients();
    void UpdateClients();
    void ClearClients();

    // Loads and re-translates every client. Throws ELanguageFileError when
    // the file cannot be read; the language in use then stays as it was.
    void LoadCurrentFromFile(std::string_view fn);
    // Loads without re-translating. Throws like LoadCurrentFromFile.
    void LoadDefaultFromFile(std::string_view fn);
    void SaveCurrentToFile(std::string_view fn);
    void ClearCurrentAll();
    void ClearCurrentAllForm();
    void CurrentToDefault();
    void DefaultToCurrent();

  private:
    std::string InfoEntry(std::string_view name);

    TKTMultiLangLan FLangCurrentData;
    TKTMultiLangLan FLangDefaultData;
    std::vector<TKTMultiLang*> FClients;
    std::string FAppName;
    bool FExcludeEmptyProp = false;
    TStringList FExcludeProps;
    bool FExcludeNumberEndProps = false;
    bool FAutoApply = true;
    bool FExcludeWithAction = false;
};

// Translates one form from the shared language data and harvests its texts
// back into it. The section is named after the form's class; keys are
// component.property, and collection.items[i].property for the items of a
// collection.
class TKTMultiLang {
  public:
    using TNotifyEvent = std::function<void(TKTMultiLang& sender)>;

    // form must outlive the client.
    explicit TKTMultiLang(IReflectedForm& form);
    ~TKTMultiLang();
    TKTMultiLang(const TKTMultiLang&) = delete;
    TKTMultiLang& operator=(const TKTMultiLang&) = delete;

    TKTMultiLangData* LanguageData() const { return FLanguageData; }
    // Moves the registration to the new data; translates nothing.
    void SetLanguageData(TKTMultiLangData* value);
    void SetOnChangeLanguage(TNotifyEvent handler) { FOnChangeLanguage = std::move(handler); }

    // The form has finished loading: register, and translate when the data applies automatically.
    void Loaded();

    // Translates the form and every named component on it, then notifies.
    void ApplyData();
    // Sets every property of TCom that the language has an entry for.
    // strParentComp does not enter the keys.
    void ApplyProp(IReflectedComponent& TCom, std::string_view strParentComp);
    // Harvests the texts of the form and its named components into the current language.
    void UpdateData();
    void CollectProp(IReflectedComponent& TCom);
    // N, C, T, P: the component's name and class, the property's type and name.
    bool IsExcludedProp(std::string_view N, std::string_view C, std::string_view T, std::string_view P) const;
    // Removes the form's section from the current language.
    void ClearData();

    bool GetProp(std::string_view strForm,
                 std::string_view strComp,
                 std::string_view strProp,
                 std::string& strValue);
    std::string Language();
    // The entry of section "ResString", else strName itself.
    std::string GetResString(std::string_view strName);
    void GetSectionStrings(std::string_view strSection, TStringList& sl);

  private:
    friend class TKTMultiLangData;

    // The form's named components, clients and shared data left out.
    std::vector<std::unique_ptr<IReflectedComponent>> TranslatedComponents();

    IReflectedForm& FForm;
    TNotifyEvent FOnChangeLanguage;
    TKTMultiLangData* FLanguageData = nullptr;
};

}  // namespace cloakline
