#include "core/framework/KTSettings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "core/framework/EngineLayers.h"
#include "core/framework/IniDocument.h"
#include "core/support/ShellUtils.h"
#include "tests/core/framework/SettingsTestPlatform.h"
#include "tests/support/RecordingLogSink.h"

namespace cloakline::test {
namespace {

class FakeEngine : public IEngineLayers {
  public:
    TStringList Overwrite;
    TStringList Default{"Path.Skins=skins", "Path.Languages=lang"};
    FakeEngine() { SetGlobalEngineLayers(this); }
    ~FakeEngine() override { SetGlobalEngineLayers(nullptr); }
    const TStringList& SettingOverwrite() const override { return Overwrite; }
    const TStringList& SettingDefault() const override { return Default; }
};

class SettingsTest : public ::testing::Test {
  protected:
    std::unique_ptr<TKTSettings> Open() { return std::make_unique<TKTSettings>(Env.P, ""); }
    std::string UserFile(const TKTSettings& s) const { return s.UserDataPath() + "setting.dat"; }
    std::string ReadNative(const std::string& programPath) const {
        std::string native = programPath;
        for (char& c : native) {
            if (c == '\\') {
                c = '/';
            }
        }
        return Env.Dir.ReadFile(std::filesystem::relative(native, Env.Dir.Path()).string());
    }

    SettingsTestPlatform Env;
};

TEST_F(SettingsTest, FirstLayerThatHasTheNameDecidesEvenWhenEmpty) {
    Env.WriteConst(
        "[setting]\r\nURL.help=http://const/help\r\nURL.home=http://const/home\r\nApp.Name=Const\r\n");
    Env.WriteOem("[setting]\r\nURL.home=http://oem/home\r\n");
    auto s = Open();
    s->SetSettingstring("URL.help", "");

    ScopedLogCapture log;
    EXPECT_EQ(s->GetSettingString("URL.help"), "");
    EXPECT_EQ(s->GetSettingString("URL.home"), "http://oem/home");
    EXPECT_EQ(s->GetSettingString("App.Name"), "Const");
    EXPECT_TRUE(log.Sink->Entries().empty()) << "a present key must not be logged as missing";

    EXPECT_EQ(s->GetSettingString("URL.missing"), "");
    EXPECT_TRUE(log.Sink->Contains("Setting Not Found :URL.missing", "KTSettings"));
}

TEST_F(SettingsTest, KeysAndSectionsIgnoreLetterCase) {
    Env.WriteConst("[SETTING]\r\nurl.HELP=x\r\n");
    auto s = Open();
    EXPECT_EQ(s->GetSettingString("URL.help"), "x");
    EXPECT_TRUE(s->GetSettingExists("Url.Help"));
}

TEST_F(SettingsTest, EngineListsFrameTheFiles) {
    Env.WriteConst("[setting]\r\nApp.Name=Const\r\nPath.Skins=fromconst\r\n");
    auto s = Open();
    {
        ScopedLogCapture log;
        EXPECT_EQ(s->GetSettingString("Path.Languages"), "") << "no engine yet";
        EXPECT_TRUE(log.Sink->Contains("Setting Not Found :Path.Languages", "KTSettings"));
        EXPECT_FALSE(s->GetSettingExists("Path.Languages"));
    }
    FakeEngine engine;
    engine.Overwrite.Add("App.Name=Forced");
    EXPECT_EQ(s->GetSettingString("Path.Languages"), "lang");
    EXPECT_EQ(s->GetSettingString("Path.Skins"), "fromconst") << "the files come before the defaults";
    EXPECT_TRUE(s->GetSettingExists("Path.Languages"));

    s->SetSettingstring("App.Name", "Mine");
    EXPECT_EQ(s->GetSettingString("App.Name"), "Forced");
    TIniDocument onDisk;
    onDisk.LoadFromBytes(ReadNative(UserFile(*s)));
    EXPECT_EQ(onDisk.ReadString("setting", "App.Name", "?"), "Mine");
}

TEST_F(SettingsTest, TypedReads) {
    auto s = Open();
    struct Row {
        const char* text;
        std::int32_t integer;
        bool boolean;
    };
    const Row rows[] = {{"0x1F", 31, true}, {"$1F", 31, true}, {"x1F", 31, true}, {"12abc", 0, false},
                        {"true", 0, false}, {"yes", 0, false}, {"-1", -1, true},  {"7", 7, true},
                        {"0", 0, false},    {"", 0, false},    {" 12", 12, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        s->SetSettingstring("Typed.Value", row.text);
        EXPECT_EQ(s->GetSettingInteger("Typed.Value"), row.integer);
        EXPECT_EQ(s->GetSettingBool("Typed.Value"), row.boolean);
    }
    EXPECT_FALSE(s->GetSettingBool("Typed.Absent"));

    s->SetSettingBool("Typed.Flag", true);
    EXPECT_EQ(s->GetSettingString("Typed.Flag"), "1");
    s->SetSettingBool("Typed.Flag", false);
    EXPECT_EQ(s->GetSettingString("Typed.Flag"), "0");
    s->SetSettingInteger("Typed.Int", -42);
    EXPECT_EQ(s->GetSettingString("Typed.Int"), "-42");
}

TEST_F(SettingsTest, FloatsUseTheLocaleSeparator) {
    auto s = Open();
    s->SetSettingFloat("Update.LastDate", 41736.5);
    EXPECT_EQ(s->GetSettingString("Update.LastDate"), "41736.5");
    EXPECT_DOUBLE_EQ(s->GetSettingFloat("Update.LastDate"), 41736.5);

    Env.Info->Separator = ',';
    s->SetSettingFloat("Update.LastDate", 41736.5123456019);
    EXPECT_EQ(s->GetSettingString("Update.LastDate"), "41736,5123456019");
    EXPECT_DOUBLE_EQ(s->GetSettingFloat("Update.LastDate"), 41736.5123456019);

    s->SetSettingstring("Update.LastDate", "garbage");
    EXPECT_EQ(s->GetSettingFloat("Update.LastDate"), 0.0);
}

TEST_F(SettingsTest, Rectangles) {
    auto s = Open();
    s->SetSettingRect("Window.Rect", TRect{10, 20, 300, 400});
    EXPECT_EQ(s->GetSettingString("Window.Rect"), "10,20,300,400");

    TRect r{1, 1, 1, 1};
    s->SetSettingstring("Window.Rect", "1,2,3");
    s->GetSettingRect("Window.Rect", r);
    EXPECT_EQ(r, (TRect{1, 1, 1, 1})) << "three parts leave the rectangle alone";
    s->SetSettingstring("Window.Rect", "1,2,x,4");
    s->GetSettingRect("Window.Rect", r);
    EXPECT_EQ(r, (TRect{1, 2, 0, 4}));
}

TEST_F(SettingsTest, RunTimesCountsEarlierStartsAndAFreshFileIsOneSpace) {
    {
        auto s = Open();
        EXPECT_EQ(s->RunTimes(), 0);
        ASSERT_FALSE(Env.Files->TextFiles.empty());
        EXPECT_EQ(Env.Files->TextFiles.back().first, UserFile(*s));
        EXPECT_EQ(Env.Files->TextFiles.back().second, " ");
        const std::string saved = ReadNative(UserFile(*s));
        EXPECT_EQ(saved, "[setting]\r\nRunTimes=1\r\n\r\n");
    }
    Env.Files->TextFiles.clear();
    auto second = Open();
    EXPECT_EQ(second->RunTimes(), 1);
    EXPECT_TRUE(Env.Files->TextFiles.empty()) << "an existing file is not recreated";
    EXPECT_EQ(second->GetSettingInteger("RunTimes"), 2);
}

TEST_F(SettingsTest, ShowAgainEntries) {
    auto s = Open();
    EXPECT_TRUE(s->GetMessageShowAgainFlag(6));
    EXPECT_EQ(s->GetMessageShowAgainResult(6), 1);

    s->SetMessageShowAgainFlag(6, false);
    s->SetMessageShowAgainResult(6, 7);
    EXPECT_FALSE(s->GetMessageShowAgainFlag(6));
    EXPECT_EQ(s->GetMessageShowAgainResult(6), 7);
    auto reopened = Open();
    EXPECT_FALSE(reopened->GetMessageShowAgainFlag(6));
    EXPECT_EQ(reopened->GetMessageShowAgainResult(6), 7);

    reopened->ClearShowAgainFlag();
    EXPECT_TRUE(reopened->GetMessageShowAgainFlag(6));
    EXPECT_EQ(reopened->GetMessageShowAgainResult(6), 1);
    const std::string saved = ReadNative(UserFile(*reopened));
    EXPECT_EQ(saved.find("ShowAgain"), std::string::npos);
}

TEST_F(SettingsTest, BatchesAreWrittenOnceAndEndAtTheFirstEndUpdate) {
    auto s = Open();
    const std::string path = UserFile(*s);
    const int before = Env.Files->ReplacementsOf(path);

    s->BeginUpdate();
    s->SetSettingstring("A", "1");
    s->SetSettingstring("B", "2");
    EXPECT_EQ(Env.Files->ReplacementsOf(path), before);
    EXPECT_EQ(ReadNative(path).find("A=1"), std::string::npos);
    s->EndUpdate();
    EXPECT_EQ(Env.Files->ReplacementsOf(path), before + 1);
    EXPECT_NE(ReadNative(path).find("A=1\r\nB=2\r\n"), std::string::npos);

    s->BeginUpdate();
    s->BeginUpdate();
    s->EndUpdate();
    const int afterBatch = Env.Files->ReplacementsOf(path);
    s->SetSettingstring("C", "3");
    EXPECT_EQ(Env.Files->ReplacementsOf(path), afterBatch + 1) << "one EndUpdate closes the batch";
}

TEST_F(SettingsTest, AnOpenBatchIsLostAtDestruction) {
    {
        auto s = Open();
        s->BeginUpdate();
        s->SetSettingstring("Lost", "yes");
    }
    auto s = Open();
    EXPECT_FALSE(s->GetSettingExists("Lost"));
}

TEST_F(SettingsTest, FailedSaveKeepsOldFileAndValuesInMemory) {
    auto s = Open();
    s->SetSettingstring("Kept", "old");
    const std::string before = ReadNative(UserFile(*s));

    ScopedLogCapture log;
    Env.Files->FailReplace = true;
    s->SetSettingstring("Kept", "new");
    EXPECT_EQ(s->GetSettingString("Kept"), "new");
    EXPECT_FALSE(s->UpdateSettingINI());
    EXPECT_EQ(ReadNative(UserFile(*s)), before);
    EXPECT_TRUE(log.Sink->Contains("Setting Save Failed :" + UserFile(*s), "KTSettings"));

    Env.Files->FailReplace = false;
    EXPECT_TRUE(s->UpdateSettingINI());
    EXPECT_NE(ReadNative(UserFile(*s)).find("Kept=new"), std::string::npos);
}

TEST_F(SettingsTest, NoAllUserKeepsThePerUserFolderWithoutAFlagFile) {
    Env.WriteConst("[setting]\r\nSetting.NoAllUser=1\r\n");
    auto s = Open();
    EXPECT_FALSE(s->AllUser());
    EXPECT_EQ(s->UserDataPath(), Env.Dir.ProgramPath(Env.UserFolder()) + "\\");
    EXPECT_FALSE(Env.Dir.Exists(Env.UserFolder() + "/UserFlag.ini"));
    EXPECT_TRUE(Env.Dir.Exists(Env.UserFolder() + "/setting.dat"));
}

TEST_F(SettingsTest, AllUsersFolderFallsBackForGood) {
    const std::string common = Env.Dir.ProgramPath(Env.CommonFolder()) + "\\";
    const std::string perUser = Env.Dir.ProgramPath(Env.UserFolder()) + "\\";
    {
        auto s = Open();
        EXPECT_TRUE(s->AllUser());
        EXPECT_EQ(s->UserDataPath(), common);
        EXPECT_EQ(Env.Dir.ReadFile(Env.UserFolder() + "/UserFlag.ini"), "[Flag]\r\nAllUsers=1\r\n\r\n");
        s->SetSettingstring("Where", "common");
    }
    Env.Files->AccessOverride[common] = false;
    {
        auto s = Open();
        EXPECT_FALSE(s->AllUser());
        EXPECT_EQ(s->UserDataPath(), perUser);
        EXPECT_EQ(Env.Dir.ReadFile(Env.UserFolder() + "/UserFlag.ini"), "[Flag]\r\nAllUsers=0\r\n\r\n");
        EXPECT_EQ(s->GetSettingString("Where"), "") << "nothing is copied between the folders";
        EXPECT_EQ(s->RunTimes(), 0);
    }
    Env.Files->AccessOverride.clear();
    auto s = Open();
    EXPECT_FALSE(s->AllUser()) << "the fallback is recorded for good";
    EXPECT_EQ(s->RunTimes(), 1);
    EXPECT_TRUE(Env.Dir.Exists(Env.CommonFolder())) << "the probe creates the all-users folder";
}

// The same fallback against the kernel's own access check: a user who may not
// write to the all-users folder. Runs in a child process so that it can drop
// root's rights where the tests run as root.
TEST_F(SettingsTest, RealAccessCheckChoosesThePerUserFolder) {
    const std::string root = Env.Dir.Path();
    ::chmod(root.c_str(), 0755);
    ::chmod((root + "/prog").c_str(), 0755);
    ::chmod((root + "/common").c_str(), 0755);
    const bool isRoot = ::geteuid() == 0;
    const uid_t nobody = 65534;
    if (isRoot) {
        ASSERT_EQ(::chown((root + "/user").c_str(), nobody, nobody), 0);
    }
    // First start with a writable all-users folder records 1.
    Env.Dir.Sub(Env.CommonFolder() + "/.keep");
    if (isRoot) {
        ASSERT_EQ(::chown((root + "/" + Env.CommonFolder()).c_str(), nobody, nobody), 0);
    }
    auto runChild = [&]() -> int {
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (isRoot && (::setgid(nobody) != 0 || ::setuid(nobody) != 0)) {
                ::_exit(90);
            }
            TKTSettings s(Env.P, "");
            ::_exit(s.AllUser() ? 1 : 0);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(runChild(), 1);
    EXPECT_NE(Env.Dir.ReadFile(Env.UserFolder() + "/UserFlag.ini").find("AllUsers=1"), std::string::npos);

    // Now the all-users folder belongs to someone else and is read-only.
    const std::string commonNative = root + "/" + Env.CommonFolder();
    if (isRoot) {
        ASSERT_EQ(::chown(commonNative.c_str(), 0, 0), 0);
    }
    ::chmod(commonNative.c_str(), 0555);
    EXPECT_EQ(runChild(), 0);
    EXPECT_NE(Env.Dir.ReadFile(Env.UserFolder() + "/UserFlag.ini").find("AllUsers=0"), std::string::npos);
    ::chmod(commonNative.c_str(), 0777);
    EXPECT_EQ(runChild(), 0) << "write access came back, the choice stays";
}

TEST_F(SettingsTest, RunDaysIsTheAgeOfTheOldestFolder) {
    TFileTime created = 0;
    if (!Env.P.Files->GetFileCreationTime(Env.Dir.ProgramPath("prog"), created)) {
        GTEST_SKIP() << "this file system keeps no creation times";
    }
    auto s = Open();
    Env.Clock->Set(FileTimeToDateTime(created) + 10.0 + 3.0 / 24.0);
    EXPECT_EQ(s->GetRunDays(), 10);
    Env.Clock->Set(FileTimeToDateTime(created) - 2.5);
    EXPECT_EQ(s->GetRunDays(), 2) << "the difference is absolute";
}

TEST_F(SettingsTest, NoCacheSeesAnotherProcessSave) {
    auto s = Open();
    auto other = Open();
    other->SetSettingstring("Shared", "fromOther");
    EXPECT_EQ(s->GetSettingString("Shared"), "");
    s->SetNoCache(true);
    EXPECT_EQ(s->GetSettingString("Shared"), "fromOther");
}

TEST_F(SettingsTest, BadFilesReadWithoutACrash) {
    struct Row {
        const char* name;
        std::string bytes;
        const char* key;
        const char* expected;
    };
    std::string binary;
    for (int i = 0; i < 4096; ++i) {
        binary.push_back(static_cast<char>((i * 131) & 0xFF));
    }
    const Row rows[] = {
        {"binary", binary + "\n[setting]\nGood=1\n" + binary, "Good", "1"},
        {"invalid UTF-8 reads as the 8-bit code page", "[setting]\nName=caf\xE9\n", "Name", "caf\xC3\xA9"},
        {"unterminated last line", "[setting]\nA=1\nB=2", "B", "2"},
        {"NUL inside a line", std::string("[setting]\nA=x\0y\nB=2\n", 21), "B", "2"},
        {"lines before the first section", "Early=1\n[setting]\nLate=2\n", "Early", ""},
        {"line without =", "[setting]\nnoequals\nK=v\n", "noequals", ""},
        {"mixed line ends", "[setting]\rA=1\r\nB=2\nC=3", "C", "3"},
        {"comment", "[setting]\n;K=v\nK=w\n", "K", "w"},
        {"spaces around", "  [ setting ]  \n  K  =  v w  \n", "K", "v w"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Env.Dir.WriteFile("prog/const.dat", row.bytes);
        auto s = Open();
        EXPECT_EQ(s->GetSettingString(row.key), row.expected);
    }
}

TEST_F(SettingsTest, HugeFileStillReads) {
    std::string big = "[setting]\r\n";
    for (int i = 0; i < 200000; ++i) {
        big += "Key" + std::to_string(i) + "=" + std::string(50, 'v') + "\r\n";
    }
    big += "Last=end\r\n";
    Env.WriteConst(big);
    auto s = Open();
    EXPECT_EQ(s->GetSettingString("Last"), "end");
    EXPECT_EQ(s->GetSettingString("Key123456"), std::string(50, 'v'));
}

TEST_F(SettingsTest, UserFileKeepsItsEncoding) {
    auto s = Open();
    const std::string path = UserFile(*s);
    s.reset();
    // UTF-16LE with its mark: "[setting]\r\nName=é\r\n"
    std::string utf16 = "\xFF\xFE";
    for (char16_t u : std::u16string(u"[setting]\r\nName=\u00E9\r\n")) {
        utf16.push_back(static_cast<char>(u & 0xFF));
        utf16.push_back(static_cast<char>(u >> 8));
    }
    ASSERT_TRUE(Env.P.Files->ReplaceFile(path, utf16));
    s = Open();
    EXPECT_EQ(s->GetSettingString("Name"), "\xC3\xA9");
    const std::string saved = ReadNative(path);
    ASSERT_GE(saved.size(), 4u);
    EXPECT_EQ(saved.substr(0, 4), std::string("\xFF\xFE[\0", 4));

    s.reset();
    ASSERT_TRUE(Env.P.Files->ReplaceFile(path, "[setting]\r\nName=caf\xE9\r\n"));
    s = Open();
    EXPECT_EQ(s->GetSettingString("Name"), "caf\xC3\xA9");
    EXPECT_NE(ReadNative(path).find("Name=caf\xE9\r\n"), std::string::npos)
        << "written back in the 8-bit code page";
}

TEST_F(SettingsTest, UnreadableUserFileIsNeverSavedOver) {
    auto s = Open();
    const std::string path = UserFile(*s);
    s.reset();
    std::string huge(TKTSettings::kMaxFileSize + 1, 'x');
    ASSERT_TRUE(Env.P.Files->ReplaceFile(path, huge));
    huge.clear();
    s = Open();
    s->SetSettingstring("After", "1");
    EXPECT_EQ(s->GetSettingString("After"), "1");
    EXPECT_EQ(std::filesystem::file_size(std::filesystem::path(Env.Dir.Path()) / Env.CommonFolder() /
                                         "setting.dat"),
              TKTSettings::kMaxFileSize + 1);
}

TEST_F(SettingsTest, ScrambledValuesReadBack) {
    auto s = Open();
    for (const std::string value : {"", "secret", "p\xC3\xA4ss w\xE2\x82\xAC rd", "=;[]\\"}) {
        SCOPED_TRACE(value);
        s->SetSettingsecString("Sec.Value", value);
        const std::string stored = s->GetSettingString("Sec.Value");
        EXPECT_EQ(stored.size(), value.size() * 2);
        if (!value.empty()) {
            EXPECT_EQ(stored.find(value), std::string::npos);
        }
        EXPECT_EQ(s->GetSettingsecString("Sec.Value"), value);
    }
    s->SetSettingstring("Sec.Value", "ZZ");
    EXPECT_EQ(s->GetSettingsecString("Sec.Value"), "");
}

TEST_F(SettingsTest, SlowLanguageStringReadsTheLanguageFile) {
    Env.WriteConst("[setting]\r\nLanguage=English\r\nPath.Languages=lang\r\n");
    Env.Dir.WriteFile("prog/lang/English.lan", "[AppRes]\r\nHello=Hello\r\n");
    Env.Dir.WriteFile("prog/lang/Deutsch.lan", "[AppRes]\r\nHello=Hallo\r\n");
    auto s = Open();
    EXPECT_EQ(s->SlowGetLanguageString("AppRes", "Hello", "?"), "Hello");
    EXPECT_EQ(s->SlowGetLanguageString("AppRes", "Missing", "dflt"), "dflt");
    s->SetSettingstring("Language.Force", "Deutsch");
    EXPECT_EQ(s->SlowGetLanguageString("AppRes", "Hello", "?"), "Hallo");
    Env.Dir.WriteFile("elsewhere/Evil.lan", "[AppRes]\r\nHello=Evil\r\n");
    s->SetSettingstring("Language.Force", "..\\..\\elsewhere\\Evil");
    EXPECT_EQ(s->SlowGetLanguageString("AppRes", "Hello", "?"), "?") << "read as a missing file";
}

TEST_F(SettingsTest, ValuesCannotInjectLines) {
    auto s = Open();
    s->SetSettingstring("Evil", "x\r\nRunTimes=999");
    auto reopened = Open();
    EXPECT_EQ(reopened->RunTimes(), 1);
    EXPECT_EQ(reopened->GetSettingString("Evil"), "x  RunTimes=999");
}

// Saves that are killed at random moments never leave a broken file.
TEST_F(SettingsTest, KilledSavesLeaveAReadableFile) {
    auto s = Open();
    const std::string path = UserFile(*s);
    for (int round = 0; round < 20; ++round) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            for (int i = 0;; ++i) {
                s->BeginUpdate();
                for (int k = 0; k < 2000; ++k) {
                    s->SetSettingInteger("Key" + std::to_string(k), i);
                }
                s->EndUpdate();
            }
        }
        ::usleep(static_cast<useconds_t>(2000 + (round * 7919) % 30000));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        SCOPED_TRACE(round);
        TIniDocument doc;
        const std::string bytes = ReadNative(path);
        ASSERT_FALSE(bytes.empty());
        doc.LoadFromBytes(bytes);
        EXPECT_TRUE(doc.ValueExists("setting", "RunTimes"));
    }
}

}  // namespace
}  // namespace cloakline::test
