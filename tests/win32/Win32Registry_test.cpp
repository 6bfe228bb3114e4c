#include "platform/win32/Win32Registry.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/win32/Win32AutoRun.h"
#include "platform/win32/Win32DataFolders.h"
#include "platform/win32/Win32ShellApi.h"
#include "platform/win32/Win32Text.h"
#include "tests/win32/Win32TestSupport.h"

namespace cloakline {
namespace {

using test::TSavedValue;
using test::TScratchKey;

// Read back with the system's own call, not with the helpers under test.
std::optional<std::wstring> SystemReadString(HKEY root, const std::string& key, const std::string& name) {
    wchar_t buffer[4096] = {};
    DWORD size = sizeof buffer;
    if (::RegGetValueW(root, Widen(key).c_str(), name.empty() ? nullptr : Widen(name).c_str(), RRF_RT_REG_SZ,
                       nullptr, buffer, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::wstring(buffer);
}

TEST(Win32Registry, WrittenStringsReadBackThroughTheSystemAndTheHelpers) {
    TScratchKey key;
    const std::string text =
        "C:\\Program Files\\Gr\xC3\xBC\xC3\x9F"
        "e\\\xE6\x97\xA5\xE6\x9C\xAC.exe";
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, key.Path() + "\\Deeper\\Still", "Path", text));
    EXPECT_EQ(SystemReadString(HKEY_CURRENT_USER, key.Path() + "\\Deeper\\Still", "Path"), Widen(text));
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, key.Path() + "\\Deeper\\Still", "Path", "none"), text);
    // The leading "\" of a key path names the same key.
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, "\\" + key.Path() + "\\Deeper\\Still", "Path", "none"), text);
    // A value longer than any fixed path buffer comes back whole.
    const std::string longText(3000, 'x');
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, key.Path(), "Long", longText));
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, key.Path(), "Long", ""), longText);
}

TEST(Win32Registry, TheEmptyNameIsTheDefaultValue) {
    TScratchKey key;
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, key.Path(), "", "C:\\Portable"));
    EXPECT_EQ(SystemReadString(HKEY_CURRENT_USER, key.Path(), ""), L"C:\\Portable");
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, key.Path(), "", "none"), "C:\\Portable");
}

TEST(Win32Registry, MissingKeysMissingValuesAndOtherTypesGiveTheDefault) {
    TScratchKey key;
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, key.Path(), "Absent", "fallback"), "fallback");
    ASSERT_TRUE(RegWriteDword(HKEY_CURRENT_USER, key.Path(), "Number", 7));
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, key.Path(), "Number", "fallback"), "fallback");
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, key.Path(), "Absent", "fallback"), "fallback");
    EXPECT_EQ(RegReadDword(HKEY_CURRENT_USER, key.Path(), "Number"), 7u);
    // Reading never makes the key.
    EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, key.Path() + "\\NotMade", "", "d"), "d");
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, key.Path() + "\\NotMade"));
}

TEST(Win32Registry, DeletingRemovesOnlyThatValueAndReportsAMissingOne) {
    TScratchKey key;
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, key.Path(), "Gone", "1"));
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, key.Path(), "Kept", "2"));
    EXPECT_TRUE(RegDeleteValue(HKEY_CURRENT_USER, key.Path(), "Gone"));
    EXPECT_EQ(SystemReadString(HKEY_CURRENT_USER, key.Path(), "Gone"), std::nullopt);
    EXPECT_EQ(SystemReadString(HKEY_CURRENT_USER, key.Path(), "Kept"), L"2");
    EXPECT_FALSE(RegDeleteValue(HKEY_CURRENT_USER, key.Path(), "Gone"));
    EXPECT_FALSE(RegDeleteValue(HKEY_CURRENT_USER, key.Path() + "\\NoKey", "Kept"));
}

TEST(Win32AutoRun, TheRunEntryIsWrittenAndRemovedLeavingOthers) {
    const TSavedValue ours(HKEY_CURRENT_USER, std::string(kRunKey), "CloaklineTest");
    const TSavedValue neighbour(HKEY_CURRENT_USER, std::string(kRunKey), "CloaklineTestNeighbour");
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kRunKey, "CloaklineTestNeighbour", "C:\\other.exe"));
    Win32AutoRun autoRun;
    autoRun.SetAutoRun(true, "CloaklineTest", "C:\\Program Files\\Cloakline\\Cloakline.exe");
    EXPECT_EQ(SystemReadString(HKEY_CURRENT_USER, std::string(kRunKey), "CloaklineTest"),
              L"C:\\Program Files\\Cloakline\\Cloakline.exe");
    autoRun.SetAutoRun(true, "CloaklineTest", "C:\\Moved\\Cloakline.exe");
    EXPECT_EQ(SystemReadString(HKEY_CURRENT_USER, std::string(kRunKey), "CloaklineTest"),
              L"C:\\Moved\\Cloakline.exe");
    autoRun.SetAutoRun(false, "CloaklineTest", "");
    EXPECT_EQ(SystemReadString(HKEY_CURRENT_USER, std::string(kRunKey), "CloaklineTest"), std::nullopt);
    EXPECT_EQ(SystemReadString(HKEY_CURRENT_USER, std::string(kRunKey), "CloaklineTestNeighbour"),
              L"C:\\other.exe");
}

TEST(Win32DataFolders, ShellFoldersComeFromTheUserThenFromTheMachine) {
    const std::string name = "CloaklineTestFolder";
    const TSavedValue user(HKEY_CURRENT_USER, std::string(kShellFoldersKey), name);
    const TSavedValue machine(HKEY_LOCAL_MACHINE, std::string(kShellFoldersKey), name);
    Win32DataFolders folders;
    EXPECT_EQ(folders.GetShellFolder(name), "");
    ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kShellFoldersKey, name, "C:\\ProgramData\\Shared"));
    EXPECT_EQ(folders.GetCommonShellFolder(name), "C:\\ProgramData\\Shared");
    EXPECT_EQ(folders.GetShellFolder(name), "C:\\ProgramData\\Shared");
    ASSERT_TRUE(RegWriteString(HKEY_CURRENT_USER, kShellFoldersKey, name, "C:\\Users\\me\\Own"));
    EXPECT_EQ(folders.GetShellFolder(name), "C:\\Users\\me\\Own");
    EXPECT_EQ(folders.GetCommonShellFolder(name), "C:\\ProgramData\\Shared");
}

TEST(Win32DataFolders, TheSystemsAppDataFolderIsFound) {
    Win32DataFolders folders;
    wchar_t expected[MAX_PATH] = {};
    // What Explorer itself answers for the user's application data.
    ASSERT_TRUE(SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, expected)));
    EXPECT_EQ(Widen(folders.GetShellFolder("AppData")), std::wstring(expected));
}

}  // namespace
}  // namespace cloakline
