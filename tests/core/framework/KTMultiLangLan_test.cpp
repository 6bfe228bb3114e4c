#include "core/framework/KTMultiLangLan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <utility>
#include <vector>

#include "platform/linux/LinuxFileSystem.h"
#include "tests/support/RecordingFileSystem.h"
#include "tests/support/TempDir.h"

namespace cloakline {
namespace {

using test::TempDir;

// The built-in texts of the options and verifying dialogs, as a language file spells them.
const std::string kSample =
    "[Info]\r\n"
    "Language=English\r\n"
    "\r\n"
    "[TfrmSettings]\r\n"
    "btnCancel.Caption=&Cancel\r\n"
    "btnOK.Caption=&OK\r\n"
    "cbChangeIP.Caption=Change IP Every                     Minutes<SP>\r\n"
    "frmSettings.Caption=Options\r\n"
    "tsBrowser.Caption=Browser\r\n"
    "tsGeneral.Caption=General\r\n"
    "\r\n"
    "[TfrmTesting]\r\n"
    "frmTesting.Caption=Verifing from server ...\r\n"
    "lblInfo.Lines=Please wait a few minute to verify fake IP information from server... <BR>\r\n";

// UTF-16 code units as bytes, packed here rather than by the code under test.
std::string Utf16Bytes(std::u16string_view units, bool bigEndian) {
    std::string out;
    for (const char16_t u : units) {
        const char high = static_cast<char>(u >> 8);
        const char low = static_cast<char>(u & 0xFF);
        out.push_back(bigEndian ? high : low);
        out.push_back(bigEndian ? low : high);
    }
    return out;
}

class LanguageFileTest : public ::testing::Test {
  protected:
    // Writes the bytes as lang/English.lan and returns its program path.
    std::string WriteLan(const std::string& bytes, const std::string& name = "lang/English.lan") {
        Dir.WriteFile(name, bytes);
        return Dir.ProgramPath(name);
    }
    std::string Prop(TKTMultiLangLan& lan,
                     std::string_view form,
                     std::string_view comp,
                     std::string_view prop) {
        std::string value = "<untouched>";
        lan.GetProp(form, comp, prop, value);
        return value;
    }

    TempDir Dir;
    LinuxFileSystem Files;
};

// --- Reading ---------------------------------------------------------------

TEST_F(LanguageFileTest, ReadsTheSampleFile) {
    TKTMultiLangLan lan(Files);
    lan.LoadFromFile(WriteLan(kSample));
    EXPECT_EQ(Prop(lan, "Info", "", "Language"), "English");
    EXPECT_EQ(Prop(lan, "TfrmSettings", "frmSettings", "Caption"), "Options");
    EXPECT_EQ(Prop(lan, "TfrmSettings", "btnCancel", "Caption"), "&Cancel");
    EXPECT_EQ(Prop(lan, "TfrmSettings", "cbChangeIP", "Caption"),
              "Change IP Every                     Minutes ");
    EXPECT_EQ(Prop(lan, "TfrmTesting", "lblInfo", "Lines"),
              "Please wait a few minute to verify fake IP information from server... \r\n");
    // The same entry in another form's section is not that form's.
    EXPECT_EQ(Prop(lan, "TfrmTesting", "frmSettings", "Caption"), "<untouched>");
}

TEST_F(LanguageFileTest, EveryEncodingReadsAndIsWrittenBackAsItWasRead) {
    // "Grüße €" and "Zurück" in each encoding; the saved file is sorted.
    const std::u16string readText = u"[TfrmSettings]\r\nbtnOK.Caption=Gr\u00FC\u00DFe \u20AC\r\n";
    const std::u16string savedText =
        u"[TfrmSettings]\r\nbtnCancel.Caption=Zur\u00FCck\r\nbtnOK.Caption=Gr\u00FC\u00DFe \u20AC\r\n\r\n";
    struct Row {
        const char* Name;
        std::string Bytes;
        TextFileEncoding Encoding;
        std::string Saved;
    };
    const std::vector<Row> rows = {
        {"UTF-8 with mark",
         "\xEF\xBB\xBF[TfrmSettings]\r\nbtnOK.Caption=Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x82\xAC\r\n",
         TextFileEncoding::Utf8Bom,
         "\xEF\xBB\xBF[TfrmSettings]\r\nbtnCancel.Caption=Zur\xC3\xBC"
         "ck\r\nbtnOK.Caption=Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x82\xAC\r\n\r\n"},
        {"UTF-8 without mark",
         "[TfrmSettings]\r\nbtnOK.Caption=Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x82\xAC\r\n",
         TextFileEncoding::Utf8,
         "[TfrmSettings]\r\nbtnCancel.Caption=Zur\xC3\xBC"
         "ck\r\nbtnOK.Caption=Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x82\xAC\r\n\r\n"},
        {"UTF-16LE", "\xFF\xFE" + Utf16Bytes(readText, false), TextFileEncoding::Utf16LE,
         "\xFF\xFE" + Utf16Bytes(savedText, false)},
        {"UTF-16BE", "\xFE\xFF" + Utf16Bytes(readText, true), TextFileEncoding::Utf16BE,
         "\xFE\xFF" + Utf16Bytes(savedText, true)},
        {"Windows-1252 when not valid UTF-8",
         "[TfrmSettings]\r\nbtnOK.Caption=Gr\xFC\xDF"
         "e \x80\r\n",
         TextFileEncoding::Ansi,
         "[TfrmSettings]\r\nbtnCancel.Caption=Zur\xFC"
         "ck\r\nbtnOK.Caption=Gr\xFC\xDF"
         "e \x80\r\n\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        const std::string path = WriteLan(row.Bytes);
        TKTMultiLangLan lan(Files);
        lan.LoadFromFile(path);
        EXPECT_EQ(lan.Encoding(), row.Encoding);
        EXPECT_EQ(Prop(lan, "TfrmSettings", "btnOK", "Caption"),
                  "Gr\xC3\xBC\xC3\x9F"
                  "e \xE2\x82\xAC");
        // The mark is not part of the text.
        EXPECT_EQ(lan.Data()[0], "[TfrmSettings]");
        lan.SetProp("TfrmSettings", "btnCancel", "Caption",
                    "Zur\xC3\xBC"
                    "ck");
        lan.SaveToFile(path);
        EXPECT_EQ(Dir.ReadFile("lang/English.lan"), row.Saved);
    }
}

TEST_F(LanguageFileTest, CharactersOutsideTheCodePageOfAnAnsiFileBecomeQuestionMarks) {
    const std::string path = WriteLan("[AppRes]\r\nAppName=Caf\xE9\r\n");
    TKTMultiLangLan lan(Files);
    lan.LoadFromFile(path);
    ASSERT_EQ(lan.Encoding(), TextFileEncoding::Ansi);
    lan.SetProp("AppRes", "", "Title", "\xE4\xB8\xAD\xE6\x96\x87");
    lan.SaveToFile(path);
    EXPECT_EQ(Dir.ReadFile("lang/English.lan"), "[AppRes]\r\nAppName=Caf\xE9\r\nTitle=??\r\n\r\n");
}

TEST_F(LanguageFileTest, TextFromNoFileIsSavedAsUtf8WithoutMark) {
    TKTMultiLangLan lan(Files);
    lan.LoadFromString("[AppRes]\nAppName=\xE4\xB8\xAD\n");
    const std::string path = Dir.ProgramPath("new.lan");
    lan.SaveToFile(path);
    EXPECT_EQ(Dir.ReadFile("new.lan"), "[AppRes]\r\nAppName=\xE4\xB8\xAD\r\n\r\n");
}

TEST_F(LanguageFileTest, LineRulesOfTheFormat) {
    TKTMultiLangLan lan(Files);
    lan.LoadFromString(
        "orphan=before any section\r\n"
        "; a comment\r\n"
        "[ TfrmSettings ]\r\n"
        "  btnOK.Caption = &OK  \r\n"
        "; comment=inside\r\n"
        "Stray line\r\n"
        "\r\n"
        "empty=\r\n"
        "\tlblA.Caption=tabbed\r\n"
        "dup=first\r\n"
        "DUP=second\r\n"
        "eq=a=b\r\n"
        "[AppRes]\r\n"
        "AppName=Cloakline");
    EXPECT_EQ(Prop(lan, "TfrmSettings", "btnOK", "Caption"), "&OK");
    EXPECT_EQ(Prop(lan, "tfrmsettings", "BTNOK", "CAPTION"), "&OK");
    EXPECT_EQ(Prop(lan, "TfrmSettings", "", "orphan"), "<untouched>");
    EXPECT_EQ(Prop(lan, "TfrmSettings", "", "; comment"), "<untouched>");
    EXPECT_EQ(Prop(lan, "TfrmSettings", "", "Stray line"), "<untouched>");
    EXPECT_EQ(Prop(lan, "TfrmSettings", "lblA", "Caption"), "tabbed");
    EXPECT_EQ(Prop(lan, "TfrmSettings", "", "dup"), "first");
    EXPECT_EQ(Prop(lan, "TfrmSettings", "", "eq"), "a=b");
    EXPECT_EQ(Prop(lan, "AppRes", "", "AppName"), "Cloakline");

    std::string value = "previous";
    EXPECT_TRUE(lan.GetProp("TfrmSettings", "", "empty", value));
    EXPECT_EQ(value, "");
    value = "previous";
    EXPECT_FALSE(lan.GetProp("TfrmSettings", "btnMissing", "Caption", value));
    EXPECT_FALSE(lan.GetProp("TfrmMissing", "btnOK", "Caption", value));
    EXPECT_EQ(value, "previous");

    // A rebuilt text drops comments and stray lines before the first section,
    // keeps lines without "=" and spells entries as key=value.
    lan.SetProp("TfrmSettings", "new", "Caption", "x");
    EXPECT_EQ(lan.ToString(),
              "[TfrmSettings]\r\n"
              "btnOK.Caption=&OK\r\n"
              "Stray line\r\n"
              "empty=\r\n"
              "lblA.Caption=tabbed\r\n"
              "dup=first\r\n"
              "DUP=second\r\n"
              "eq=a=b\r\n"
              "new.Caption=x\r\n"
              "\r\n"
              "[AppRes]\r\n"
              "AppName=Cloakline\r\n"
              "\r\n");
}

TEST_F(LanguageFileTest, AnyLineEndEndsALine) {
    TKTMultiLangLan lan(Files);
    lan.LoadFromFile(WriteLan("[S]\rk1=1\nk2=2\r\nk3=3"));
    EXPECT_EQ(Prop(lan, "S", "", "k1"), "1");
    EXPECT_EQ(Prop(lan, "S", "", "k2"), "2");
    EXPECT_EQ(Prop(lan, "S", "", "k3"), "3");
    EXPECT_EQ(lan.Data(), (TStringList{"[S]", "k1=1", "k2=2", "k3=3"}));
    EXPECT_EQ(lan.ToString(), "[S]\r\nk1=1\r\nk2=2\r\nk3=3\r\n");
}

TEST_F(LanguageFileTest, EscapesAreRecognisedInAnyCase) {
    TKTMultiLangLan lan(Files);
    lan.LoadFromString(
        "[TfrmMain]\n"
        "lblTwo.Caption=one<br>two\n"
        "lblMixed.Caption=<Sp>a<bR>b<sP>\n"
        "lblTrailingSpace.Caption=Minutes \n"
        "lblTrailingEscape.Caption=Minutes<SP>\n"
        "lblOnlyEscapes.Caption=<SP><SP>\n");
    EXPECT_EQ(Prop(lan, "TfrmMain", "lblTwo", "Caption"), "one\r\ntwo");
    EXPECT_EQ(Prop(lan, "TfrmMain", "lblMixed", "Caption"), " a\r\nb ");
    EXPECT_EQ(Prop(lan, "TfrmMain", "lblTrailingSpace", "Caption"), "Minutes");
    EXPECT_EQ(Prop(lan, "TfrmMain", "lblTrailingEscape", "Caption"), "Minutes ");
    EXPECT_EQ(Prop(lan, "TfrmMain", "lblOnlyEscapes", "Caption"), "  ");
}

// --- Changing --------------------------------------------------------------

TEST_F(LanguageFileTest, SetPropReplacesInPlaceAppendsToTheSectionAndAppendsSections) {
    TKTMultiLangLan lan(Files);
    lan.LoadFromString("[TfrmSettings]\nbtnOK.Caption=&OK\nbtnCancel.Caption=&Cancel\n[AppRes]\nAppName=A\n");
    lan.SetProp("tfrmsettings", "BTNOK", "caption", "&Okay");
    lan.SetProp("TfrmSettings", "cbAutoRun", "Caption", "Start with Windows");
    lan.SetProp("TfrmTesting", "frmTesting", "Caption", "Verifying");
    lan.SetProp("AppRes", "", "AppName", "Cloakline");
    // The text is rebuilt at once.
    EXPECT_EQ(lan.ToString(),
              "[TfrmSettings]\r\n"
              "BTNOK.caption=&Okay\r\n"
              "btnCancel.Caption=&Cancel\r\n"
              "cbAutoRun.Caption=Start with Windows\r\n"
              "\r\n"
              "[AppRes]\r\n"
              "AppName=Cloakline\r\n"
              "\r\n"
              "[TfrmTesting]\r\n"
              "frmTesting.Caption=Verifying\r\n"
              "\r\n");
    EXPECT_FALSE(lan.Modified());
    EXPECT_EQ(Prop(lan, "TfrmSettings", "btnOK", "Caption"), "&Okay");
}

TEST_F(LanguageFileTest, StoredValuesReadBackAsTheyWereGiven) {
    struct Case {
        std::string Value;
        std::string Stored;
        std::string ReadBack;
    };
    const std::vector<Case> cases = {
        {"one\r\ntwo", "one<BR>two", "one\r\ntwo"},
        {"cr\ronly", "cr<BR>only", "cr\r\nonly"},
        {"lf\nonly", "lf<BR>only", "lf\r\nonly"},
        {"\r\n\r\n", "<BR><BR>", "\r\n\r\n"},
        {"\n\r", "<BR><BR>", "\r\n\r\n"},
        {"Change IP Every     Minutes ", "Change IP Every     Minutes<SP>", "Change IP Every     Minutes "},
        {"  both  ", "<SP><SP>both<SP><SP>", "  both  "},
        {"   ", "<SP><SP><SP>", "   "},
        {"line \r\n next", "line <BR> next", "line \r\n next"},
        {"", "", ""},
    };
    TKTMultiLangLan lan(Files);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Stored);
        lan.SetProp("TfrmMain", "lbl", "Caption", c.Value);
        EXPECT_EQ(lan.Data()[1], "lbl.Caption=" + c.Stored);
        EXPECT_EQ(Prop(lan, "TfrmMain", "lbl", "Caption"), c.ReadBack);
        // And so once the text has been read again.
        TKTMultiLangLan reread(Files);
        reread.LoadFromString(lan.ToString());
        EXPECT_EQ(Prop(reread, "TfrmMain", "lbl", "Caption"), c.ReadBack);
    }
}

TEST_F(LanguageFileTest, ClearFormReachesTheTextOnlyAtTheNextUpdate) {
    TKTMultiLangLan lan(Files);
    lan.LoadFromString(kSample);
    const std::string before = lan.ToString();
    lan.ClearForm("tfrmsettings");
    EXPECT_TRUE(lan.Modified());
    EXPECT_EQ(Prop(lan, "TfrmSettings", "btnOK", "Caption"), "<untouched>");
    EXPECT_EQ(lan.ToString(), before);
    lan.UpdateData();
    EXPECT_FALSE(lan.Modified());
    EXPECT_EQ(lan.ToString(),
              "[Info]\r\nLanguage=English\r\n\r\n"
              "[TfrmTesting]\r\n"
              "frmTesting.Caption=Verifing from server ...\r\n"
              "lblInfo.Lines=Please wait a few minute to verify fake IP information from server... <BR>\r\n"
              "\r\n");
}

TEST_F(LanguageFileTest, ClearFormRemovesEveryCopyOfTheSection) {
    TKTMultiLangLan lan(Files);
    lan.LoadFromString("[TfrmA]\na=1\n[TfrmB]\nb=2\n[tfrma]\nc=3\n");
    lan.ClearForm("TfrmA");
    EXPECT_EQ(Prop(lan, "TfrmA", "", "c"), "<untouched>");
    lan.UpdateData();
    EXPECT_EQ(lan.ToString(), "[TfrmB]\r\nb=2\r\n\r\n");
}

TEST_F(LanguageFileTest, ClearAllFormKeepsOnlyTheReservedSections) {
    TKTMultiLangLan lan(Files);
    lan.LoadFromString(
        "[TfrmMain]\nx=1\n[info]\nLanguage=German\n[AppRes]\nAppName=A\n[TfrmSettings]\ny=2\n"
        "[SKINRES]\ns=1\n[LibRes]\nl=1\n[BasicRes]\nb=1\n[ResString]\nr=1\n");
    lan.ClearAllForm();
    EXPECT_EQ(lan.ToString(),
              "[info]\r\nLanguage=German\r\n\r\n"
              "[AppRes]\r\nAppName=A\r\n\r\n"
              "[SKINRES]\r\ns=1\r\n\r\n"
              "[LibRes]\r\nl=1\r\n\r\n"
              "[BasicRes]\r\nb=1\r\n\r\n");
    EXPECT_FALSE(lan.Modified());
}

TEST_F(LanguageFileTest, GetSectionStringsMergesIntoTheList) {
    TKTMultiLangLan lan(Files);
    lan.LoadFromString(
        "[SkinRes]\n"
        "Shared=new<BR>line\n"
        "Gone=\n"
        "Added=<sp>padded\n"
        "Stray line\n"
        "shared=second copy\n");
    TStringList sl{"Keep=old", "Gone=x", "Shared=old"};
    lan.GetSectionStrings("skinres", sl);
    // The repeated key answers with its first value, under its own spelling.
    EXPECT_EQ(sl, (TStringList{"Keep=old", "shared=new\r\nline", "Added= padded"}));

    TStringList untouched{"A=1"};
    lan.GetSectionStrings("Missing", untouched);
    EXPECT_EQ(untouched, (TStringList{"A=1"}));
}

// --- Sorting ---------------------------------------------------------------

TEST_F(LanguageFileTest, SortingPutsInfoAndAppResBeforeTheForms) {
    TKTMultiLangLan lan(Files);
    lan.LoadFromString(
        "[TfrmTesting]\nfrmTesting.Caption=Verifing\n"
        "[AppRes]\nAppName=Cloakline\n"
        "[Info]\nLanguage=English\n"
        "[TfrmSettings]\nbtnOK.Caption=&OK\n");
    lan.SortData();
    EXPECT_EQ(lan.ToString(),
              "[Info]\r\nLanguage=English\r\n\r\n"
              "[AppRes]\r\nAppName=Cloakline\r\n\r\n"
              "[TfrmSettings]\r\nbtnOK.Caption=&OK\r\n\r\n"
              "[TfrmTesting]\r\nfrmTesting.Caption=Verifing\r\n\r\n");
    EXPECT_FALSE(lan.Modified());
}

TEST_F(LanguageFileTest, SortingOrdersReservedSectionsAndLinesWithoutRegardToCase) {
    TKTMultiLangLan lan(Files);
    lan.LoadFromString(
        "[zForm]\nz=1\n"
        "[AppRes]\nAppName=A\n"
        "[LibRes]\nMSGBox.CHKNET=Check\n"
        "[aForm]\nB=2\na=1\nC=3\n"
        "[SkinRes]\ns=1\n"
        "[BasicRes]\nb=1\n"
        "[info]\nVersion=1.0\nLanguage=English\nTranslator=Me\n"
        "[Empty]\n"
        "[MForm]\nm=1\n");
    lan.SortData();
    EXPECT_EQ(lan.ToString(),
              "[Info]\r\nVersion=1.0\r\nLanguage=English\r\nTranslator=Me\r\n\r\n"
              "[BasicRes]\r\nb=1\r\n\r\n"
              "[SkinRes]\r\ns=1\r\n\r\n"
              "[LibRes]\r\nMSGBox.CHKNET=Check\r\n\r\n"
              "[AppRes]\r\nAppName=A\r\n\r\n"
              "[aForm]\r\na=1\r\nB=2\r\nC=3\r\n\r\n"
              "[MForm]\r\nm=1\r\n\r\n"
              "[zForm]\r\nz=1\r\n\r\n");
}

TEST_F(LanguageFileTest, SortingUsesTheGivenOrderForTheForms) {
    // The reverse of the default order, so the injected order is visibly the one used.
    TKTMultiLangLan lan(Files, [](std::string_view a, std::string_view b) { return CompareTextAscii(b, a); });
    lan.LoadFromString("[TfrmA]\na=1\n[AppRes]\nx=1\n[TfrmC]\nc=1\n[Info]\nLanguage=L\n[TfrmB]\nb=1\n");
    lan.SortData();
    EXPECT_EQ(lan.ToString(),
              "[Info]\r\nLanguage=L\r\n\r\n[AppRes]\r\nx=1\r\n\r\n"
              "[TfrmC]\r\nc=1\r\n\r\n[TfrmB]\r\nb=1\r\n\r\n[TfrmA]\r\na=1\r\n\r\n");
}

TEST_F(LanguageFileTest, SortingKeepsWhatLookupsFind) {
    const std::string messy =
        "[TfrmB]\n"
        "k=first\n"
        "Stray line\n"
        "K=second\n"
        "a=1\n"
        "[Info]\n"
        "Language=English\n"
        "language=Other\n"
        "[TfrmA]\n"
        "x=kept\n"
        "[tfrmb]\n"
        "k=third\n"
        "only=in the second copy\n";
    TKTMultiLangLan lan(Files);
    lan.LoadFromString(messy);
    const std::vector<std::pair<std::string, std::string>> lookups = {
        {"TfrmB", "k"}, {"TfrmB", "a"},    {"Info", "Language"},
        {"TfrmA", "x"}, {"TfrmB", "only"}, {"TfrmB", "Stray line"}};
    std::vector<std::string> before;
    for (const auto& [form, key] : lookups) {
        before.push_back(Prop(lan, form, "", key));
    }
    ASSERT_EQ(before[0], "first");
    ASSERT_EQ(before[4], "<untouched>");

    lan.SortData();
    EXPECT_EQ(lan.ToString(),
              "[Info]\r\nLanguage=English\r\n\r\n"
              "[TfrmA]\r\nx=kept\r\n\r\n"
              "[TfrmB]\r\na=1\r\nk=first\r\nStray line\r\n\r\n");
    TKTMultiLangLan reread(Files);
    reread.LoadFromString(lan.ToString());
    for (std::size_t i = 0; i < lookups.size(); ++i) {
        SCOPED_TRACE(lookups[i].first + " " + lookups[i].second);
        EXPECT_EQ(Prop(lan, lookups[i].first, "", lookups[i].second), before[i]);
        EXPECT_EQ(Prop(reread, lookups[i].first, "", lookups[i].second), before[i]);
    }
}

// --- Files -----------------------------------------------------------------

TEST_F(LanguageFileTest, SaveWritesTheSortedTextThroughAReplacement) {
    test::RecordingFileSystem files(std::make_unique<LinuxFileSystem>());
    const std::string path = WriteLan("[TfrmTesting]\nb=2\na=1\n[Info]\nLanguage=English\n");
    TKTMultiLangLan lan(files);
    lan.LoadFromFile(path);
    lan.SaveToFile(path);
    EXPECT_EQ(files.ReplacementsOf(path), 1);
    EXPECT_EQ(Dir.ReadFile("lang/English.lan"),
              "[Info]\r\nLanguage=English\r\n\r\n[TfrmTesting]\r\na=1\r\nb=2\r\n\r\n");

    TKTMultiLangLan again(files);
    again.LoadFromFile(path);
    EXPECT_EQ(again.ToString(), lan.ToString());
}

TEST_F(LanguageFileTest, AFailedSaveIsAnErrorAndLeavesTheFile) {
    test::RecordingFileSystem files(std::make_unique<LinuxFileSystem>());
    const std::string path = WriteLan(kSample);
    TKTMultiLangLan lan(files);
    lan.LoadFromFile(path);
    lan.SetProp("TfrmSettings", "btnOK", "Caption", "&Okay");
    files.FailReplace = true;
    try {
        lan.SaveToFile(path);
        ADD_FAILURE() << "no error for a save that failed";
    } catch (const ELanguageFileError& e) {
        EXPECT_EQ(e.Path(), path);
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    EXPECT_EQ(Dir.ReadFile("lang/English.lan"), kSample);
    EXPECT_EQ(Prop(lan, "TfrmSettings", "btnOK", "Caption"), "&Okay");
}

TEST_F(LanguageFileTest, AFileThatCannotBeReadIsAnErrorAndChangesNothing) {
    const std::string missing = Dir.ProgramPath("lang/Missing.lan");
    std::filesystem::create_directories(Dir.Sub("lang/Folder.lan"));
    const std::string folder = Dir.ProgramPath("lang/Folder.lan");
    const std::string huge = Dir.Sub("lang/Huge.lan");
    Dir.WriteFile("lang/Huge.lan", "[AppRes]\r\nAppName=Huge\r\n");
    std::filesystem::resize_file(huge, TKTMultiLangLan::kMaxFileSize + 1);

    for (const std::string& path : {missing, folder, Dir.ProgramPath("lang/Huge.lan")}) {
        SCOPED_TRACE(path);
        TKTMultiLangLan lan(Files);
        lan.LoadFromString(kSample);
        lan.ClearForm("TfrmTesting");
        const TStringList text = lan.Data();
        try {
            lan.LoadFromFile(path);
            ADD_FAILURE() << "no error";
        } catch (const ELanguageFileError& e) {
            EXPECT_EQ(e.Path(), path);
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
        EXPECT_EQ(lan.Data(), text);
        EXPECT_TRUE(lan.Modified());
        EXPECT_EQ(Prop(lan, "TfrmSettings", "btnOK", "Caption"), "&OK");
        EXPECT_EQ(Prop(lan, "TfrmTesting", "frmTesting", "Caption"), "<untouched>");
    }
}

// --- Text and view ---------------------------------------------------------

TEST_F(LanguageFileTest, NewTextIsParsedBeforeTheNextLookup) {
    TKTMultiLangLan lan(Files);
    EXPECT_TRUE(lan.ToApply());
    EXPECT_FALSE(lan.Modified());

    lan.SetData(TStringList{"[AppRes]", "AppName=First"});
    EXPECT_TRUE(lan.ToApply());
    EXPECT_EQ(lan.ToString(), "[AppRes]\r\nAppName=First\r\n");
    EXPECT_EQ(Prop(lan, "AppRes", "", "AppName"), "First");
    EXPECT_FALSE(lan.ToApply());

    lan.SetData(TStringList{"[AppRes]", "AppName=Second"});
    EXPECT_EQ(Prop(lan, "AppRes", "", "AppName"), "Second");

    lan.LoadFromString("[AppRes]\nAppName=Third\n");
    EXPECT_FALSE(lan.ToApply());
    EXPECT_EQ(Prop(lan, "AppRes", "", "AppName"), "Third");
}

TEST_F(LanguageFileTest, ChangesOfTheViewSurviveUntilTheTextIsWritten) {
    TKTMultiLangLan lan(Files);
    lan.LoadFromString(kSample);
    lan.ClearForm("TfrmTesting");
    // Neither a lookup nor another change reparses the old text over the removal.
    EXPECT_EQ(Prop(lan, "TfrmSettings", "btnOK", "Caption"), "&OK");
    EXPECT_TRUE(lan.Modified());
    lan.SetProp("TfrmSettings", "btnOK", "Caption", "&Okay");
    EXPECT_FALSE(lan.Modified());
    EXPECT_EQ(lan.ToString().find("TfrmTesting"), std::string::npos);
    EXPECT_NE(lan.ToString().find("btnOK.Caption=&Okay\r\n"), std::string::npos);

    // Saving writes a pending removal too.
    lan.ClearForm("TfrmSettings");
    const std::string path = Dir.ProgramPath("saved.lan");
    lan.SaveToFile(path);
    EXPECT_EQ(Dir.ReadFile("saved.lan"), "[Info]\r\nLanguage=English\r\n\r\n");
}

TEST_F(LanguageFileTest, NewTextWinsOverChangesOfTheView) {
    TKTMultiLangLan lan(Files);
    lan.LoadFromString(kSample);
    lan.ClearForm("TfrmTesting");
    lan.SetData(TStringList{"[TfrmTesting]", "frmTesting.Caption=Back"});
    EXPECT_EQ(Prop(lan, "TfrmTesting", "frmTesting", "Caption"), "Back");
    EXPECT_FALSE(lan.Modified());
    lan.UpdateData();
    EXPECT_EQ(lan.ToString(), "[TfrmTesting]\r\nfrmTesting.Caption=Back\r\n");
}

TEST_F(LanguageFileTest, ClearAllEmptiesBothFormsAndKeepsWhichIsNewer) {
    TKTMultiLangLan lan(Files);
    lan.LoadFromString(kSample);
    lan.ClearForm("TfrmTesting");
    lan.ClearAll();
    EXPECT_TRUE(lan.Modified());
    EXPECT_TRUE(lan.Data().Empty());
    EXPECT_EQ(Prop(lan, "Info", "", "Language"), "<untouched>");
    lan.UpdateData();
    EXPECT_EQ(lan.ToString(), "");

    lan.SetData(TStringList{"[Info]", "Language=X"});
    lan.ClearAll();
    EXPECT_TRUE(lan.ToApply());
    EXPECT_EQ(Prop(lan, "Info", "", "Language"), "<untouched>");
}

TEST_F(LanguageFileTest, AssignToCopiesTheLanguageAsItStands) {
    const std::string path = WriteLan("\xEF\xBB\xBF" + kSample);
    TKTMultiLangLan source(Files);
    source.LoadFromFile(path);
    source.ClearForm("TfrmTesting");

    TKTMultiLangLan dest(Files);
    dest.LoadFromString("[TfrmOther]\nx=1\n");
    source.AssignTo(dest);
    EXPECT_FALSE(dest.ToApply());
    EXPECT_EQ(Prop(dest, "TfrmOther", "", "x"), "<untouched>");
    EXPECT_EQ(Prop(dest, "TfrmSettings", "btnOK", "Caption"), "&OK");
    // The removal the source had not yet written is in the copy.
    EXPECT_EQ(Prop(dest, "TfrmTesting", "frmTesting", "Caption"), "<untouched>");
    EXPECT_EQ(dest.Data(), source.Data());
    EXPECT_EQ(dest.Encoding(), TextFileEncoding::Utf8Bom);

    // The copy is independent of its source.
    dest.SetProp("TfrmSettings", "btnOK", "Caption", "changed");
    EXPECT_EQ(Prop(source, "TfrmSettings", "btnOK", "Caption"), "&OK");

    source.AssignTo(source);
    EXPECT_EQ(Prop(source, "TfrmSettings", "btnOK", "Caption"), "&OK");
}

}  // namespace
}  // namespace cloakline
