#include "core/framework/KTMultiLang.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/linux/LinuxFileSystem.h"
#include "tests/support/TempDir.h"

namespace cloakline {
namespace {

using test::TempDir;

class LanguageDataTest : public ::testing::Test {
  protected:
    // Writes lang/<name>.lan and returns its program path.
    std::string Lan(const std::string& name, const std::string& text) {
        const std::string relative = "lang/" + name + ".lan";
        Dir.WriteFile(relative, text);
        return Dir.ProgramPath(relative);
    }
    std::string Prop(std::string_view form, std::string_view comp, std::string_view prop) {
        std::string value = "<untouched>";
        Data.GetProp(form, comp, prop, value);
        return value;
    }

    TempDir Dir;
    LinuxFileSystem Files;
    TKTMultiLangData Data{Files};
};

TEST_F(LanguageDataTest, LooksUpTheCurrentLanguageThenTheDefault) {
    Data.LoadDefaultFromFile(Lan("English",
                                 "[Info]\r\nLanguage=English\r\nTranslator=Team\r\nVersion=1.0\r\n"
                                 "[TfrmSettings]\r\nbtnOK.Caption=&OK\r\nbtnCancel.Caption=&Cancel\r\n"));
    Data.LoadCurrentFromFile(Lan("Deutsch",
                                 "[Info]\r\nLanguage=Deutsch\r\n"
                                 "[TfrmSettings]\r\nbtnCancel.Caption=&Abbrechen\r\nlblInfo.Caption=\r\n"));

    EXPECT_EQ(Prop("TfrmSettings", "btnCancel", "Caption"), "&Abbrechen");
    EXPECT_EQ(Prop("tfrmsettings", "BTNOK", "caption"), "&OK");
    // Present with nothing after "=" is still an answer, and the default is not asked.
    EXPECT_EQ(Prop("TfrmSettings", "lblInfo", "Caption"), "");
    EXPECT_EQ(Prop("TfrmSettings", "btnHelp", "Caption"), "<untouched>");
    EXPECT_EQ(Prop("TfrmTesting", "btnOK", "Caption"), "<untouched>");

    EXPECT_EQ(Data.CurrentLanguage(), "Deutsch");
    EXPECT_EQ(Data.CurrentLanguageTranslator(), "Team");
    EXPECT_EQ(Data.CurrentVersion(), "1.0");
}

TEST_F(LanguageDataTest, FillsInTheApplicationNameInAnyCaseButNotInTheNameItself) {
    Data.LoadDefaultFromFile(Lan("English",
                                 "[AppRes]\r\nAppName=Cloakline\r\n"
                                 "[LibRes]\r\nAbout.Title=About {appname}\r\n"));
    Data.LoadCurrentFromFile(Lan("Deutsch",
                                 "[AppRes]\r\nAppName=Cloak{AppName}line\r\n"
                                 "MSGBox.CHKNET={APPNAME} needs the network. {AppName}!\r\n"));

    EXPECT_EQ(Data.AppName(), "Cloak{AppName}line");
    EXPECT_EQ(Prop("appres", "", "APPNAME"), "Cloak{AppName}line");
    // The name goes in once; its own placeholder is not expanded again.
    EXPECT_EQ(Prop("AppRes", "", "MSGBox.CHKNET"),
              "Cloak{AppName}line needs the network. Cloak{AppName}line!");
    // A default text gets the current name.
    EXPECT_EQ(Prop("LibRes", "", "About.Title"), "About Cloak{AppName}line");
}

TEST_F(LanguageDataTest, ApplicationNameComesFromTheLanguagesAndIsEmptyWithoutOne) {
    Data.LoadCurrentFromFile(Lan("Bare", "[AppRes]\r\nHello=Hi {AppName}\r\n"));
    EXPECT_EQ(Data.AppName(), "");
    EXPECT_EQ(Prop("AppRes", "", "Hello"), "Hi ");

    Data.LoadDefaultFromFile(Lan("English", "[AppRes]\r\nAppName=Cloakline\r\n"));
    EXPECT_EQ(Prop("AppRes", "", "Hello"), "Hi Cloakline");

    // Emptying the current language keeps the name it had.
    Data.LoadCurrentFromFile(Lan("Other", "[AppRes]\r\nAppName=Other\r\nHello=Hi {AppName}\r\n"));
    Data.ClearCurrentAll();
    Data.SetDefaultData(TStringList{"[AppRes]", "Hello=Hello {AppName}"});
    EXPECT_EQ(Prop("AppRes", "", "Hello"), "Hello Other");
}

TEST_F(LanguageDataTest, AFileThatCannotBeReadLeavesTheLanguageAndItsName) {
    Data.LoadCurrentFromFile(Lan("English",
                                 "[Info]\r\nLanguage=English\r\n"
                                 "[AppRes]\r\nAppName=Cloakline\r\nTitle={AppName} 1\r\n"));

    EXPECT_THROW(Data.LoadCurrentFromFile(Dir.ProgramPath("lang/Missing.lan")), ELanguageFileError);
    EXPECT_THROW(Data.LoadDefaultFromFile(Dir.ProgramPath("lang/Missing.lan")), ELanguageFileError);

    EXPECT_EQ(Data.CurrentLanguage(), "English");
    EXPECT_EQ(Prop("AppRes", "", "Title"), "Cloakline 1");
}

TEST_F(LanguageDataTest, SectionStringsKeepWhatTheListHasAndPreferTheCurrentLanguage) {
    Data.LoadDefaultFromFile(
        Lan("English", "[SkinRes]\r\nOK=OK\r\nCancel=Cancel\r\nClose=Close\r\nHelp=Help\r\n"));
    Data.LoadCurrentFromFile(
        Lan("Deutsch", "[SkinRes]\r\ncancel=Abbrechen\r\nclose=\r\nYes=Ja<SP>\r\nNo=Nein<BR>!\r\n"));
    TStringList sl{"OK=Gut", "Extra=kept"};

    Data.GetSectionStrings("skinres", sl);

    // An empty current value is no entry, so the default's text fills in.
    EXPECT_EQ(sl, (TStringList{"OK=Gut", "Extra=kept", "cancel=Abbrechen", "Yes=Ja ", "No=Nein\r\n!",
                               "Close=Close", "Help=Help"}));

    TStringList untouched{"A=1"};
    Data.GetSectionStrings("NoSuchSection", untouched);
    EXPECT_EQ(untouched, TStringList{"A=1"});
}

TEST_F(LanguageDataTest, ChangesGoToTheCurrentLanguageAndCopiesGoBothWays) {
    Data.LoadDefaultFromFile(Lan("English", "[TfrmMain]\r\nbtnHide.Caption=Hide\r\n"));
    Data.SetProp("TfrmMain", "btnHide", "Caption", "Ver&stecken\r\njetzt");

    EXPECT_EQ(Prop("TfrmMain", "btnHide", "Caption"), "Ver&stecken\r\njetzt");
    EXPECT_EQ(Data.CurrentData(), (TStringList{"[TfrmMain]", "btnHide.Caption=Ver&stecken<BR>jetzt", ""}));
    EXPECT_EQ(Data.DefaultData().Count(), 2u);

    Data.CurrentToDefault();
    Data.ClearCurrentAll();
    EXPECT_EQ(Prop("TfrmMain", "btnHide", "Caption"), "Ver&stecken\r\njetzt");

    Data.SetDefaultData(TStringList{"[TfrmMain]", "btnStop.Caption=Stop"});
    Data.DefaultToCurrent();
    Data.ClearForm("TFRMMAIN");
    Data.UpdateData();
    EXPECT_TRUE(Data.CurrentData().Empty());
    EXPECT_EQ(Prop("TfrmMain", "btnStop", "Caption"), "Stop");
}

}  // namespace
}  // namespace cloakline
