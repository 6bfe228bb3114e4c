#include "core/framework/KTMultiLangLan.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "core/support/TextUtils.h"

namespace cloakline {

namespace {

// The sections that are not forms, in the order a sorted file starts with.
constexpr std::array<std::string_view, 5> kReservedSections = {"Info", "BasicRes", "SkinRes", "LibRes",
                                                               "AppRes"};

bool IsReservedSection(std::string_view name) {
    return std::any_of(kReservedSections.begin(), kReservedSections.end(),
                       [&](std::string_view reserved) { return SameTextAscii(name, reserved); });
}

std::string PropKey(std::string_view strComp, std::string_view strProp) {
    if (strComp.empty()) {
        return std::string(strProp);
    }
    std::string key(strComp);
    key += '.';
    key += strProp;
    return key;
}

std::string ExpandValue(std::string_view stored) {
    return ReplaceAllText(ReplaceAllText(stored, "<BR>", "\r\n"), "<SP>", " ");
}

std::string EscapeValue(std::string_view value) {
    std::string oneLine;
    oneLine.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r') {
            oneLine += "<BR>";
            if (i + 1 < value.size() && value[i + 1] == '\n') {
                ++i;
            }
        } else if (value[i] == '\n') {
            oneLine += "<BR>";
        } else {
            oneLine += value[i];
        }
    }
    // Reading strips spaces at both ends of a value; written as "<SP>" they survive.
    const std::size_t first = oneLine.find_first_not_of(' ');
    if (first == std::string::npos) {
        std::string spaces;
        for (std::size_t i = 0; i < oneLine.size(); ++i) {
            spaces += "<SP>";
        }
        return spaces;
    }
    const std::size_t last = oneLine.find_last_not_of(' ');
    std::string out;
    for (std::size_t i = 0; i < first; ++i) {
        out += "<SP>";
    }
    out.append(oneLine, first, last + 1 - first);
    for (std::size_t i = last + 1; i < oneLine.size(); ++i) {
        out += "<SP>";
    }
    return out;
}

// A line of the view as the text spells it: an entry as key=value.
std::string LineText(const TIniDocument::Line& line) {
    return line.IsEntry ? line.Key + "=" + line.Value : line.Text;
}

}  // namespace

ELanguageFileError::ELanguageFileError(std::string path, const std::string& reason)
    : std::runtime_error("Language file \"" + path + "\": " + reason), FPath(std::move(path)) {}

TKTMultiLangLan::TKTMultiLangLan(IFileSystem& files, TTextCompare compareSectionNames)
    : FFiles(files),
      FCompareSectionNames(compareSectionNames ? std::move(compareSectionNames) : CompareTextAscii) {}

void TKTMultiLangLan::LoadFromFile(std::string_view fn) {
    const std::optional<std::string> bytes = FFiles.ReadFile(fn, kMaxFileSize);
    if (!bytes) {
        throw ELanguageFileError(std::string(fn), FFiles.FileExists(fn)
                                                      ? "it cannot be read or is larger than 64 MiB"
                                                      : "it does not exist");
    }
    TextFileEncoding encoding = TextFileEncoding::Utf8;
    TStringList lines;
    lines.SetText(DecodeTextFile(*bytes, encoding));
    FEncoding = encoding;
    ReplaceText(std::move(lines));
    ApplyData();
}

void TKTMultiLangLan::LoadFromString(std::string_view str) {
    TStringList lines;
    lines.SetText(str);
    ReplaceText(std::move(lines));
    ApplyData();
}

void TKTMultiLangLan::SetData(const TStringList& lines) {
    ReplaceText(lines);
}

void TKTMultiLangLan::ReplaceText(TStringList lines) {
    FData = std::move(lines);
    FbToApply = true;
}

void TKTMultiLangLan::SaveToFile(std::string_view fn) {
    SortData();
    if (!FFiles.ReplaceFile(fn, EncodeTextFile(ToString(), FEncoding))) {
        throw ELanguageFileError(std::string(fn), "it cannot be written");
    }
}

void TKTMultiLangLan::AssignTo(TKTMultiLangLan& dest) {
    // A removed section that only the view knows of yet must not come back in the copy.
    UpdateData();
    if (&dest != this) {
        dest.FEncoding = FEncoding;
        dest.ReplaceText(FData);
    } else {
        FbToApply = true;
    }
    dest.ApplyData();
}

std::string TKTMultiLangLan::ToString() const {
    std::string text;
    for (const std::string& line : FData) {
        text += line;
        text += "\r\n";
    }
    return text;
}

void TKTMultiLangLan::ClearAll() {
    FIniData.Clear();
    FData.Clear();
}

void TKTMultiLangLan::ApplyData() {
    if (!FbToApply) {
        return;
    }
    FIniData.LoadFromText(FData.Text());
    FbToApply = false;
    FbModified = false;
}

void TKTMultiLangLan::UpdateData() {
    if (!FbModified) {
        return;
    }
    TStringList lines;
    for (std::size_t i = 0; i < FIniData.SectionCount(); ++i) {
        lines.Add("[" + FIniData.SectionName(i) + "]");
        for (const TIniDocument::Line& line : FIniData.SectionLines(i)) {
            lines.Add(LineText(line));
        }
        lines.Add("");
    }
    FData = std::move(lines);
    FbToApply = false;
    FbModified = false;
}

bool TKTMultiLangLan::GetProp(std::string_view strForm,
                              std::string_view strComp,
                              std::string_view strProp,
                              std::string& strValue) {
    ApplyData();
    const std::string* stored = FIniData.Find(strForm, PropKey(strComp, strProp));
    if (stored == nullptr) {
        return false;
    }
    strValue = ExpandValue(*stored);
    return true;
}

void TKTMultiLangLan::SetProp(std::string_view strForm,
                              std::string_view strComp,
                              std::string_view strProp,
                              std::string_view strValue) {
    ApplyData();
    FIniData.WriteString(strForm, PropKey(strComp, strProp), EscapeValue(strValue));
    FbModified = true;
    UpdateData();
}

void TKTMultiLangLan::ClearForm(std::string_view strForm) {
    ApplyData();
    FIniData.EraseSection(strForm);
    FbModified = true;
}

void TKTMultiLangLan::ClearAllForm() {
    ApplyData();
    std::vector<std::string> forms;
    for (std::size_t i = 0; i < FIniData.SectionCount(); ++i) {
        if (!IsReservedSection(FIniData.SectionName(i))) {
            forms.push_back(FIniData.SectionName(i));
        }
    }
    for (const std::string& form : forms) {
        FIniData.EraseSection(form);
    }
    FbModified = true;
    UpdateData();
}

void TKTMultiLangLan::GetSectionStrings(std::string_view strSection, TStringList& sl) {
    ApplyData();
    const std::vector<TIniDocument::Line>* lines = FIniData.FindSectionLines(strSection);
    if (lines == nullptr) {
        return;
    }
    for (const TIniDocument::Line& line : *lines) {
        if (line.IsEntry) {
            // A repeated key answers with its first entry, as a lookup does.
            sl.SetValue(line.Key, ExpandValue(*FIniData.Find(strSection, line.Key)));
        }
    }
}

void TKTMultiLangLan::SortData() {
    ApplyData();
    std::vector<std::string> forms;
    for (std::size_t i = 0; i < FIniData.SectionCount(); ++i) {
        const std::string& name = FIniData.SectionName(i);
        const bool seen = std::any_of(forms.begin(), forms.end(),
                                      [&](const std::string& form) { return SameTextAscii(form, name); });
        if (!seen && !IsReservedSection(name)) {
            forms.push_back(name);
        }
    }
    std::stable_sort(forms.begin(), forms.end(), [this](const std::string& a, const std::string& b) {
        return FCompareSectionNames(a, b) < 0;
    });
    std::vector<std::string> order(kReservedSections.begin(), kReservedSections.end());
    order.insert(order.end(), forms.begin(), forms.end());

    struct SortedLine {
        std::string Text;
        const TIniDocument::Line* Source;
    };
    TIniDocument sorted;
    for (const std::string& name : order) {
        const std::vector<TIniDocument::Line>* lines = FIniData.FindSectionLines(name);
        if (lines == nullptr) {
            continue;
        }
        std::vector<SortedLine> items;
        items.reserve(lines->size());
        for (const TIniDocument::Line& line : *lines) {
            items.push_back({LineText(line), &line});
        }
        if (!SameTextAscii(name, "Info")) {
            std::stable_sort(items.begin(), items.end(), [](const SortedLine& a, const SortedLine& b) {
                return CompareTextAscii(a.Text, b.Text) < 0;
            });
        }
        for (const SortedLine& item : items) {
            // Of a repeated key only the entry that lookups find is kept, so a
            // sorted file answers every lookup as before.
            if (item.Source->IsEntry && FIniData.Find(name, item.Source->Key) != &item.Source->Value) {
                continue;
            }
            sorted.AppendLine(name, item.Text);
        }
    }
    FIniData = std::move(sorted);
    FbModified = true;
    UpdateData();
}

}  // namespace cloakline
