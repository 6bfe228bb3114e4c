#include "platform/win32/Win32FileSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/support/ShellUtils.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32DataFolders.h"
#include "platform/win32/Win32Text.h"
#include "tests/win32/Win32TestSupport.h"

namespace cloakline {
namespace {

using test::ReadWholeFile;
using test::TScratchFolder;

const std::string kUnicodeName =
    "gr\xC3\xBC\xC3\x9F"
    "e \xE6\x97\xA5\xE6\x9C\xAC.ini";

std::vector<std::string> Sorted(const TStringList& list) {
    std::vector<std::string> lines(list.begin(), list.end());
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST(Win32FileSystem, FilesAreWrittenReplacedAndReadWhole) {
    TScratchFolder folder;
    Win32FileSystem files;
    const std::string path = folder.File(kUnicodeName);
    ASSERT_TRUE(files.WriteTextFile(" ", path));
    EXPECT_EQ(ReadWholeFile(path), " ");
    std::string bytes(300000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 31 % 256);
    }
    ASSERT_TRUE(files.ReplaceFile(path, bytes));
    EXPECT_EQ(ReadWholeFile(path), bytes);
    EXPECT_EQ(files.ReadFile(path, bytes.size()), bytes);
    EXPECT_EQ(files.ReadFile(path, bytes.size() - 1), std::nullopt);
    // Nothing is left beside the file.
    TStringList all;
    files.ListFiles(folder.Path() + "\\*", all, false);
    EXPECT_EQ(Sorted(all), std::vector<std::string>{kUnicodeName});
    EXPECT_EQ(files.ReadFile(folder.File("absent"), 100), std::nullopt);
    EXPECT_FALSE(files.ReplaceFile(folder.File("no\\such\\folder.txt"), "x"));
}

TEST(Win32FileSystem, FoldersAreMadeWithAllTheirParents) {
    TScratchFolder folder;
    Win32FileSystem files;
    const std::string deep = folder.File("a\\b\\c\\d");
    EXPECT_FALSE(files.DirectoryExists(deep));
    ASSERT_TRUE(files.ForceDirectories(deep + "\\"));
    EXPECT_TRUE(files.DirectoryExists(deep));
    EXPECT_TRUE(files.FileExists(deep));
    ASSERT_TRUE(files.WriteTextFile("x", deep + "\\f.txt"));
    EXPECT_TRUE(files.FileExists(deep + "\\f.txt"));
    EXPECT_FALSE(files.DirectoryExists(deep + "\\f.txt"));
    // A file in the way cannot become a folder.
    EXPECT_FALSE(files.ForceDirectories(deep + "\\f.txt\\below"));
}

TEST(Win32FileSystem, ListingMatchesTheMaskAndSkipsFolders) {
    TScratchFolder folder;
    Win32FileSystem files;
    ASSERT_TRUE(files.WriteTextFile("1", folder.File("blue.skn")));
    ASSERT_TRUE(files.WriteTextFile("2", folder.File("green.skn")));
    ASSERT_TRUE(files.WriteTextFile("3", folder.File("readme.txt")));
    ASSERT_TRUE(files.ForceDirectories(folder.File("folder.skn")));
    ::SetFileAttributesW(Widen(folder.File("green.skn")).c_str(),
                         FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    TStringList names;
    files.ListFiles(folder.Path() + "\\*.skn", names, false);
    EXPECT_EQ(Sorted(names), (std::vector<std::string>{"blue.skn", "green.skn"}));
    TStringList paths;
    files.ListFiles(folder.Path() + "\\*.skn", paths, true);
    EXPECT_EQ(Sorted(paths), (std::vector<std::string>{folder.File("blue.skn"), folder.File("green.skn")}));
    TStringList none;
    files.ListFiles(folder.File("missing\\*.skn"), none, true);
    EXPECT_TRUE(none.Empty());
}

TFileTime Ticks(const FILETIME& time) {
    return (static_cast<TFileTime>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// What the system reports without opening the file.
std::optional<WIN32_FILE_ATTRIBUTE_DATA> SystemFacts(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA facts{};
    if (!::GetFileAttributesExW(Widen(path).c_str(), GetFileExInfoStandard, &facts)) {
        return std::nullopt;
    }
    return facts;
}

TEST(Win32FileSystem, CreationTimesOfFilesAndFoldersAreTheSystemsOwn) {
    TScratchFolder folder;
    Win32FileSystem files;
    const std::string path = folder.File("born.txt");
    ASSERT_TRUE(files.WriteTextFile("x", path));
    // Creation and last write set apart, so that reading the wrong one shows.
    const FILETIME created{0x12345678u, 0x01D00000u};
    const FILETIME written{0x22345678u, 0x01D80000u};
    HANDLE handle = ::CreateFileW(Widen(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    ::SetFileTime(handle, &created, nullptr, &written);
    ::CloseHandle(handle);
    const auto facts = SystemFacts(path);
    ASSERT_TRUE(facts);
    TFileTime time = 0;
    ASSERT_TRUE(files.GetFileCreationTime(path, time));
    EXPECT_EQ(time, Ticks(facts->ftCreationTime));
    if (Ticks(facts->ftCreationTime) != Ticks(facts->ftLastWriteTime)) {
        EXPECT_NE(time, Ticks(written));
    }
    const auto folderFacts = SystemFacts(folder.Path());
    ASSERT_TRUE(folderFacts);
    TFileTime folderTime = 0;
    ASSERT_TRUE(files.GetFileCreationTime(folder.Path(), folderTime));
    EXPECT_EQ(folderTime, Ticks(folderFacts->ftCreationTime));
    EXPECT_FALSE(files.GetFileCreationTime(folder.File("absent"), time));
}

TEST(Win32FileSystem, AccessCheckGrantsOurOwnFolderAndRefusesWhatIsNotThere) {
    TScratchFolder folder;
    Win32FileSystem files;
    ASSERT_TRUE(files.WriteTextFile("x", folder.File("mine.txt")));
    EXPECT_TRUE(files.CheckFileAccess(GENERIC_WRITE_ACCESS, folder.Path()));
    EXPECT_TRUE(files.CheckFileAccess(GENERIC_WRITE_ACCESS, folder.File("mine.txt")));
    EXPECT_TRUE(files.CheckFileAccess(GENERIC_READ_ACCESS, folder.File("mine.txt")));
    EXPECT_FALSE(files.CheckFileAccess(GENERIC_WRITE_ACCESS, folder.File("absent")));
}

TEST(Win32FileSystem, ShortNamesGetTheirLongForm) {
    TScratchFolder folder;
    Win32FileSystem files;
    const std::string path = folder.File("a rather long file name.data");
    ASSERT_TRUE(files.WriteTextFile("x", path));
    wchar_t shortName[MAX_PATH] = {};
    const DWORD length = ::GetShortPathNameW(Widen(path).c_str(), shortName, MAX_PATH);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(files.GetLongPath(Narrow(shortName)), path);
    EXPECT_EQ(files.GetLongPath(folder.File("absent\\x")), folder.File("absent\\x"));
}

TEST(Win32DataFolders, ProgramAndTemporaryFolderAreTheRunningOnes) {
    Win32DataFolders folders;
    Win32FileSystem files;
    const std::string exe = folders.GetExeName();
    EXPECT_EQ(exe, test::ThisProgram());
    EXPECT_TRUE(files.FileExists(exe));
    EXPECT_TRUE(exe.ends_with(".exe"));
    const std::string temp = folders.GetTempDir();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(temp.back(), '\\');
    EXPECT_TRUE(files.DirectoryExists(temp));
}

}  // namespace
}  // namespace cloakline
