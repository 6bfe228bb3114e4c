#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/framework/IniDocument.h"
#include "core/support/StringList.h"
#include "core/support/TextEncoding.h"
#include "platform/api/FileSystem.h"

namespace cloakline {

// A language file that could not be read or written; the message names the file.
class ELanguageFileError : public std::runtime_error {
  public:
    ELanguageFileError(std::string path, const std::string& reason);
    const std::string& Path() const { return FPath; }

  private:
    std::string FPath;
};

// One language file (".lan") in memory, held twice: as its text, a list of
// lines, and as a parsed view of its sections. Each is brought up to date
// from the other only when needed: new text is parsed before the next lookup
// or change, and a change of the view reaches the text at the next UpdateData.
class TKTMultiLangLan {
  public:
    // A larger file is refused as unreadable.
    static constexpr std::size_t kMaxFileSize = 64u << 20;

    // compareSectionNames orders the form sections of a sorted file; the
    // backend supplies the user's collation, the default is ASCII.
    explicit TKTMultiLangLan(IFileSystem& files, TTextCompare compareSectionNames = CompareTextAscii);
    TKTMultiLangLan(const TKTMultiLangLan&) = delete;
    TKTMultiLangLan& operator=(const TKTMultiLangLan&) = delete;

    // Reads the file and parses it. Throws ELanguageFileError when the file is
    // missing, unreadable or larger than kMaxFileSize; the object is then unchanged.
    void LoadFromFile(std::string_view fn);
    void LoadFromString(std::string_view str);
    // Sorts, then replaces the file in the encoding the text was read in (UTF-8
    // when it came from no file). Throws ELanguageFileError when it cannot be written.
    void SaveToFile(std::string_view fn);
    // dest becomes a copy of this language and is parsed.
    void AssignTo(TKTMultiLangLan& dest);
    // The text with CR LF after every line, as it stands: a change of the
    // view that UpdateData has not written yet is not in it.
    std::string ToString() const;

    const TStringList& Data() const { return FData; }
    // Parsed before the next lookup or change.
    void SetData(const TStringList& lines);

    TextFileEncoding Encoding() const { return FEncoding; }
    // The text is newer than the view.
    bool ToApply() const { return FbToApply; }
    // The view is newer than the text.
    bool Modified() const { return FbModified; }

    // Empties text and view; which of them is newer stays as it was.
    void ClearAll();
    void ApplyData();
    void UpdateData();

    // The value of strComp.strProp (strProp alone for an empty strComp) in
    // section strForm, with "<BR>" and "<SP>" expanded. False, with strValue
    // untouched, when there is none.
    bool GetProp(std::string_view strForm,
                 std::string_view strComp,
                 std::string_view strProp,
                 std::string& strValue);
    void SetProp(std::string_view strForm,
                 std::string_view strComp,
                 std::string_view strProp,
                 std::string_view strValue);
    // Removes the section from the view; the text follows at the next UpdateData.
    void ClearForm(std::string_view strForm);
    // Removes every section but the reserved ones.
    void ClearAllForm();
    // Every entry of the section into sl as name=value; an empty value removes the name.
    void GetSectionStrings(std::string_view strSection, TStringList& sl);
    // The order of a saved file: the reserved sections first, then the others.
    void SortData();

  private:
    void ReplaceText(TStringList lines);

    IFileSystem& FFiles;
    TTextCompare FCompareSectionNames;
    TStringList FData;
    TIniDocument FIniData;
    bool FbToApply = true;
    bool FbModified = false;
    TextFileEncoding FEncoding = TextFileEncoding::Utf8;
};

}  // namespace cloakline
