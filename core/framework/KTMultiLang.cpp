#include "core/framework/KTMultiLang.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "core/support/TextUtils.h"

namespace cloakline {

namespace {

constexpr std::string_view kStringsType = "TStrings";
constexpr std::string_view kComponentNameType = "TComponentName";
constexpr std::string_view kActionType = "TBasicAction";

// Every occurrence of the placeholder, in any letter case, once; a name that
// itself contains the placeholder is not expanded again.
std::string ReplaceAppName(std::string_view value, std::string_view appName) {
    return ReplaceAllText(value, "{AppName}", appName);
}

std::string ItemKey(std::string_view collection, std::size_t index, std::string_view itemProp) {
    std::string key(collection);
    key.append("[").append(std::to_string(index)).append("].").append(itemProp);
    return key;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool HasEntry(const TStringList& list, std::string_view entry) {
    return std::any_of(list.begin(), list.end(),
                       [&](const std::string& line) { return SameTextAscii(line, entry); });
}

}  // namespace

// ---------------------------------------------------------------- TKTMultiLangData

TKTMultiLangData::TKTMultiLangData(IFileSystem& files, TTextCompare compareSectionNames)
    : FLangCurrentData(files, compareSectionNames),
      FLangDefaultData(files, compareSectionNames),
      FExcludeProps(DefaultExcludeProps()) {}

TKTMultiLangData::~TKTMultiLangData() {
    // Forms may outlive the data; they must not unregister from it later.
    for (TKTMultiLang* client : FClients) {
        client->FLanguageData = nullptr;
    }
}

const TStringList& TKTMultiLangData::DefaultExcludeProps() {
    static const TStringList kList{
        "TWebBrowser:",
        ":TComponentName",
        ".SkinDataName",
        "TspResourceStrData:",
        "TShockwaveFlash:",
        "TspSkinNotebook:",
        "TEmbeddedWB:",
        "TspCompressedStoredSkin:",
        "TspSkinMessage:",
        "TKTEngine:",
        "TspSkinData:",
        ".Text",
        "TIEDownload:",
        ":TComponentName",
        ".SkinDataName",
        ".EditSkinDataName",
        ".LabelSkinDataName",
        ".ButtonSkinDataName",
        ".BothSkinDataName",
        ".MessageLabelSkinDataName",
        ".Category",
        ".CompressedFileName",
        ".TrackBarSkinDataName",
        ".TabWidths",
        ".HeaderSkinDataName",
        ".LVHeaderSkinDataName",
    };
    return kList;
}

std::string TKTMultiLangData::InfoEntry(std::string_view name) {
    std::string value;
    GetProp("Info", "", name, value);
    return value;
}

std::string TKTMultiLangData::CurrentLanguage() {
    return InfoEntry("Language");
}

std::string TKTMultiLangData::CurrentLanguageTranslator() {
    return InfoEntry("Translator");
}

std::string TKTMultiLangData::CurrentVersion() {
    return InfoEntry("Version");
}

std::string TKTMultiLangData::AppName() {
    std::string name;
    GetProp("AppRes", "", "AppName", name);
    FAppName = name;
    return name;
}

bool TKTMultiLangData::GetProp(std::string_view strForm,
                               std::string_view strComp,
                               std::string_view strProp,
                               std::string& strValue) {
    std::string value;
    if (!FLangCurrentData.GetProp(strForm, strComp, strProp, value) &&
        !FLangDefaultData.GetProp(strForm, strComp, strProp, value)) {
        return false;
    }
    // The name itself is answered as written.
    if (SameTextAscii(strForm, "AppRes") && SameTextAscii(strProp, "AppName")) {
        strValue = std::move(value);
    } else {
        strValue = ReplaceAppName(value, FAppName);
    }
    return true;
}

void TKTMultiLangData::SetProp(std::string_view strForm,
                               std::string_view strComp,
                               std::string_view strProp,
                               std::string_view strValue) {
    FLangCurrentData.SetProp(strForm, strComp, strProp, strValue);
}

void TKTMultiLangData::ClearForm(std::string_view strForm) {
    FLangCurrentData.ClearForm(strForm);
}

void TKTMultiLangData::UpdateData() {
    FLangCurrentData.UpdateData();
}

void TKTMultiLangData::GetSectionStrings(std::string_view strSection, TStringList& sl) {
    TStringList current;
    TStringList fallback;
    FLangCurrentData.GetSectionStrings(strSection, current);
    FLangDefaultData.GetSectionStrings(strSection, fallback);
    for (const TStringList* source : {&current, &fallback}) {
        for (const std::string& line : *source) {
            const std::string name = TStringList::NameOf(line);
            if (!sl.HasName(name)) {
                sl.Add(line);
            }
        }
    }
}

void TKTMultiLangData::AddClient(TKTMultiLang* pClient) {
    if (pClient != nullptr && std::find(FClients.begin(), FClients.end(), pClient) == FClients.end()) {
        FClients.push_back(pClient);
    }
}

void TKTMultiLangData::RemoveClient(TKTMultiLang* pClient) {
    FClients.erase(std::remove(FClients.begin(), FClients.end(), pClient), FClients.end());
}

void TKTMultiLangData::ApplyClients() {
    // A client's notification may close its form; only clients still listed are called.
    const std::vector<TKTMultiLang*> clients = FClients;
    for (TKTMultiLang* client : clients) {
        if (std::find(FClients.begin(), FClients.end(), client) != FClients.end()) {
            client->ApplyData();
        }
    }
}

void TKTMultiLangData::UpdateClients() {
    const std::vector<TKTMultiLang*> clients = FClients;
    for (TKTMultiLang* client : clients) {
        client->UpdateData();
    }
}

void TKTMultiLangData::ClearClients() {
    const std::vector<TKTMultiLang*> clients = FClients;
    for (TKTMultiLang* client : clients) {
        client->ClearData();
    }
}

void TKTMultiLangData::LoadCurrentFromFile(std::string_view fn) {
    // The name is forgotten only once the new language is in, so a file that
    // cannot be read leaves the name of the language still in use.
    FLangCurrentData.LoadFromFile(fn);
    FAppName.clear();
    AppName();
    ApplyClients();
}

void TKTMultiLangData::LoadDefaultFromFile(std::string_view fn) {
    FLangDefaultData.LoadFromFile(fn);
    FAppName.clear();
    AppName();
}

void TKTMultiLangData::SaveCurrentToFile(std::string_view fn) {
    FLangCurrentData.SaveToFile(fn);
}

void TKTMultiLangData::ClearCurrentAll() {
    FLangCurrentData.ClearAll();
}

void TKTMultiLangData::ClearCurrentAllForm() {
    FLangCurrentData.ClearAllForm();
}

void TKTMultiLangData::CurrentToDefault() {
    FLangCurrentData.AssignTo(FLangDefaultData);
}

void TKTMultiLangData::DefaultToCurrent() {
    FLangDefaultData.AssignTo(FLangCurrentData);
}

// ---------------------------------------------------------------- TKTMultiLang

TKTMultiLang::TKTMultiLang(IReflectedForm& form) : FForm(form) {}

TKTMultiLang::~TKTMultiLang() {
    if (FLanguageData != nullptr) {
        FLanguageData->RemoveClient(this);
    }
}

void TKTMultiLang::SetLanguageData(TKTMultiLangData* value) {
    if (FLanguageData != nullptr) {
        FLanguageData->RemoveClient(this);
    }
    FLanguageData = value;
    if (FLanguageData != nullptr) {
        FLanguageData->AddClient(this);
    }
}

void TKTMultiLang::Loaded() {
    if (FLanguageData == nullptr) {
        return;
    }
    FLanguageData->AddClient(this);
    if (FLanguageData->AutoApply()) {
        ApplyData();
    }
}

std::vector<std::unique_ptr<IReflectedComponent>> TKTMultiLang::TranslatedComponents() {
    std::vector<std::unique_ptr<IReflectedComponent>> components = FForm.Components();
    std::erase_if(components, [](const std::unique_ptr<IReflectedComponent>& c) {
        return c->Name().empty() || c->IsLanguageComponent();
    });
    return components;
}

void TKTMultiLang::ApplyData() {
    if (FLanguageData == nullptr) {
        return;
    }
    ApplyProp(FForm, "");
    for (const std::unique_ptr<IReflectedComponent>& component : TranslatedComponents()) {
        ApplyProp(*component, "");
    }
    if (FOnChangeLanguage) {
        FOnChangeLanguage(*this);
    }
}

void TKTMultiLang::ApplyProp(IReflectedComponent& TCom, std::string_view /*strParentComp*/) {
    const std::string section = FForm.ClassName();
    const std::string comp = TCom.Name();
    for (const TPropertyInfo& prop : TCom.Properties()) {
        // A property the component refuses keeps its text; the rest of the form is still translated.
        try {
            std::string value;
            if (SameTextAscii(prop.TypeName, kStringsType)) {
                if (prop.Writable && GetProp(section, comp, prop.Name, value)) {
                    TCom.WriteLines(prop.Name, value);
                }
            } else if (prop.IsText()) {
                if (!SameTextAscii(prop.TypeName, kComponentNameType) && prop.Writable &&
                    GetProp(section, comp, prop.Name, value)) {
                    TCom.WriteText(prop.Name, value);
                }
            } else if (prop.Readable && TCom.IsCollection(prop.Name)) {
                const std::size_t count = TCom.ItemCount(prop.Name);
                for (std::size_t i = 0; i < count; ++i) {
                    for (const TPropertyInfo& item : TCom.ItemProperties(prop.Name, i)) {
                        try {
                            if (item.Writable &&
                                GetProp(section, comp, ItemKey(prop.Name, i, item.Name), value)) {
                                TCom.WriteItemText(prop.Name, i, item.Name, value);
                            }
                        } catch (const std::exception&) {
                        }
                    }
                }
            }
        } catch (const std::exception&) {
        }
    }
}

void TKTMultiLang::UpdateData() {
    if (FLanguageData == nullptr) {
        return;
    }
    CollectProp(FForm);
    for (const std::unique_ptr<IReflectedComponent>& component : TranslatedComponents()) {
        CollectProp(*component);
    }
}

void TKTMultiLang::CollectProp(IReflectedComponent& TCom) {
    if (FLanguageData == nullptr) {
        return;
    }
    const std::vector<TPropertyInfo> props = TCom.Properties();
    if (FLanguageData->ExcludeWithAction()) {
        const auto action = std::find_if(props.begin(), props.end(), [](const TPropertyInfo& p) {
            return SameTextAscii(p.Name, "Action") && SameTextAscii(p.TypeName, kActionType);
        });
        try {
            if (action != props.end() && TCom.HoldsObject(action->Name)) {
                return;
            }
        } catch (const std::exception&) {
        }
    }
    const std::string section = FForm.ClassName();
    const std::string comp = TCom.Name();
    const std::string cls = TCom.ClassName();
    const bool excludeEmpty = FLanguageData->ExcludeEmptyProp();
    for (const TPropertyInfo& prop : props) {
        if (!prop.Readable || !prop.Writable || IsExcludedProp(comp, cls, prop.TypeName, prop.Name)) {
            continue;
        }
        // A property the component cannot read is left out; the harvest goes on.
        try {
            if (SameTextAscii(prop.TypeName, kStringsType)) {
                if (!(excludeEmpty && TCom.LineCount(prop.Name) == 0)) {
                    FLanguageData->SetProp(section, comp, prop.Name, TCom.ReadLines(prop.Name));
                }
            } else if (prop.IsText()) {
                if (SameTextAscii(prop.TypeName, kComponentNameType)) {
                    continue;
                }
                const std::string value = TCom.ReadText(prop.Name);
                // An 8-bit "-" is a menu separator, never a text to translate.
                const bool empty = value.empty() || (prop.Kind == TPropertyKind::AnsiText && value == "-");
                if (!(excludeEmpty && empty)) {
                    FLanguageData->SetProp(section, comp, prop.Name, value);
                }
            } else if (TCom.IsCollection(prop.Name)) {
                const std::size_t count = TCom.ItemCount(prop.Name);
                for (std::size_t i = 0; i < count; ++i) {
                    for (const TPropertyInfo& item : TCom.ItemProperties(prop.Name, i)) {
                        try {
                            const std::string value = TCom.ReadItemText(prop.Name, i, item.Name);
                            if (!(excludeEmpty && value.empty())) {
                                FLanguageData->SetProp(section, comp, ItemKey(prop.Name, i, item.Name),
                                                       value);
                            }
                        } catch (const std::exception&) {
                        }
                    }
                }
            }
        } catch (const std::exception&) {
        }
    }
    FLanguageData->UpdateData();
}

bool TKTMultiLang::IsExcludedProp(std::string_view N,
                                  std::string_view C,
                                  std::string_view T,
                                  std::string_view P) const {
    if (FLanguageData == nullptr) {
        return false;
    }
    if (FLanguageData->ExcludeNumberEndProps() && !N.empty() && IsDigit(N.back())) {
        return true;
    }
    const TStringList& list = FLanguageData->ExcludeProps();
    auto join = [](std::string_view a, std::string_view sep, std::string_view b) {
        std::string s(a);
        s.append(sep).append(b);
        return s;
    };
    return HasEntry(list, join(C, ":.", P)) || HasEntry(list, join(C, ":", "")) ||
           HasEntry(list, join("", ":", T)) || HasEntry(list, join(N, "..", P)) ||
           HasEntry(list, join(N, ".", "")) || HasEntry(list, join("", ".", P));
}

void TKTMultiLang::ClearData() {
    if (FLanguageData != nullptr) {
        FLanguageData->ClearForm(FForm.ClassName());
    }
}

bool TKTMultiLang::GetProp(std::string_view strForm,
                           std::string_view strComp,
                           std::string_view strProp,
                           std::string& strValue) {
    return FLanguageData != nullptr && FLanguageData->GetProp(strForm, strComp, strProp, strValue);
}

std::string TKTMultiLang::Language() {
    return FLanguageData != nullptr ? FLanguageData->CurrentLanguage() : std::string();
}

std::string TKTMultiLang::GetResString(std::string_view strName) {
    std::string value(strName);
    GetProp("ResString", "", strName, value);
    return value;
}

void TKTMultiLang::GetSectionStrings(std::string_view strSection, TStringList& sl) {
    if (FLanguageData != nullptr) {
        FLanguageData->GetSectionStrings(strSection, sl);
    }
}

}  // namespace cloakline
