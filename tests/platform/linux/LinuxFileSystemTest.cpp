#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <set>

#include "platform/linux/LinuxFileSystem.h"
#include "tests/platform/linux/ForkedChild.h"
#include "tests/support/TempDir.h"

namespace cloakline {
namespace {

namespace fs = std::filesystem;
using test::ForkedChild;
using test::TempDir;

std::set<std::string> EntriesOf(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// Restores the process umask when a test changed it.
class ScopedUmask {
  public:
    explicit ScopedUmask(mode_t mask) : FOld(::umask(mask)) {}
    ~ScopedUmask() { ::umask(FOld); }

  private:
    mode_t FOld;
};

TEST(LinuxFileSystemRead, ReadsWholeBinaryFileUpToTheLimit) {
    TempDir dir;
    std::string content;
    for (int i = 0; i < 200000; ++i) {
        content += static_cast<char>(i * 7);
    }
    dir.WriteFile("data.bin", content);
    LinuxFileSystem files;

    const auto exact = files.ReadFile(dir.ProgramPath("data.bin"), content.size());
    ASSERT_TRUE(exact.has_value());
    EXPECT_EQ(*exact, content);
    EXPECT_FALSE(files.ReadFile(dir.ProgramPath("data.bin"), content.size() - 1).has_value());

    dir.WriteFile("empty", "");
    const auto empty = files.ReadFile(dir.ProgramPath("empty"), 0);
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->empty());
}

TEST(LinuxFileSystemRead, FailsForMissingFilesAndFolders) {
    TempDir dir;
    LinuxFileSystem files;
    EXPECT_FALSE(files.ReadFile(dir.ProgramPath("missing"), 100).has_value());
    EXPECT_FALSE(files.ReadFile(dir.ProgramPath(), 100).has_value());
    EXPECT_FALSE(files.ReadFile("", 100).has_value());
}

TEST(LinuxFileSystemRead, ReadsFilesThatReportNoSize) {
    LinuxFileSystem files;
    // /proc files have st_size 0; the content must come from reading, and the limit still applies.
    const auto status = files.ReadFile("\\proc\\self\\status", 1 << 20);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->rfind("Name:", 0), 0u);
    EXPECT_FALSE(files.ReadFile("\\proc\\self\\status", 10).has_value());
}

TEST(LinuxFileSystemReplace, CreatesAndReplacesWithoutLeavingTemporaryFiles) {
    TempDir dir;
    LinuxFileSystem files;
    ASSERT_TRUE(files.ReplaceFile(dir.ProgramPath("setting.dat"), "first"));
    EXPECT_EQ(dir.ReadFile("setting.dat"), "first");
    ASSERT_TRUE(files.ReplaceFile(dir.ProgramPath("setting.dat"), "second, longer content"));
    EXPECT_EQ(dir.ReadFile("setting.dat"), "second, longer content");
    ASSERT_TRUE(files.ReplaceFile(dir.ProgramPath("setting.dat"), ""));
    EXPECT_EQ(dir.ReadFile("setting.dat"), "");
    EXPECT_EQ(EntriesOf(dir.Path()), std::set<std::string>{"setting.dat"});
}

// A save killed before its rename leaves its temporary file behind; a later
// save clears those that are clearly abandoned and leaves young ones alone,
// which may belong to another process's save in progress.
TEST(LinuxFileSystemReplace, ClearsTemporariesOfKilledSaves) {
    TempDir dir;
    LinuxFileSystem files;
    dir.WriteFile(".setting.dat.Abandon1", "half");
    dir.WriteFile(".setting.dat.Younger1", "in progress");
    dir.WriteFile(".setting.dat.notours", "other");
    dir.WriteFile(".other.dat.Abandon1", "other file's");
    const timespec old[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    for (const char* name : {".setting.dat.Abandon1", ".setting.dat.notours", ".other.dat.Abandon1"}) {
        ASSERT_EQ(::utimensat(AT_FDCWD, (dir.Path() + "/" + name).c_str(), old, 0), 0);
    }
    ASSERT_TRUE(files.ReplaceFile(dir.ProgramPath("setting.dat"), "new"));
    EXPECT_EQ(EntriesOf(dir.Path()), (std::set<std::string>{"setting.dat", ".setting.dat.Younger1",
                                                            ".setting.dat.notours", ".other.dat.Abandon1"}));
}

TEST(LinuxFileSystemReplace, KeepsTheOldPermissionsAndUsesTheUmaskForNewFiles) {
    TempDir dir;
    LinuxFileSystem files;
    dir.WriteFile("private.dat", "old");
    ASSERT_EQ(::chmod(dir.Sub("private.dat").c_str(), 0640), 0);
    ASSERT_TRUE(files.ReplaceFile(dir.ProgramPath("private.dat"), "new"));
    EXPECT_EQ(ModeOf(dir.Sub("private.dat")), 0640u);

    ScopedUmask mask(027);
    ASSERT_TRUE(files.ReplaceFile(dir.ProgramPath("fresh.dat"), "x"));
    EXPECT_EQ(ModeOf(dir.Sub("fresh.dat")), 0640u);
}

TEST(LinuxFileSystemReplace, RefusesTargetsThatCannotBeFiles) {
    TempDir dir;
    LinuxFileSystem files;
    EXPECT_FALSE(files.ReplaceFile(dir.ProgramPath("no\\such\\folder\\x.dat"), "x"));
    fs::create_directory(dir.Path() + "/folder");
    EXPECT_FALSE(files.ReplaceFile(dir.ProgramPath("folder"), "x"));
    EXPECT_TRUE(fs::is_directory(dir.Path() + "/folder"));
    EXPECT_EQ(EntriesOf(dir.Path()), std::set<std::string>{"folder"});
}

TEST(LinuxFileSystemReplace, OldContentSurvivesAWriteCutShortByTheFileSizeLimit) {
    TempDir dir;
    dir.WriteFile("setting.dat", "old content");
    const std::string target = dir.ProgramPath("setting.dat");
    // The limit applies to the child only, so the test process keeps writing normally.
    ForkedChild child([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            return 3;
        }
        LinuxFileSystem files;
        return files.ReplaceFile(target, std::string(256 * 1024, 'n')) ? 1 : 0;
    });
    ASSERT_EQ(child.WaitExit(10000), 0);
    EXPECT_EQ(dir.ReadFile("setting.dat"), "old content");
    EXPECT_EQ(EntriesOf(dir.Path()), std::set<std::string>{"setting.dat"});
}

TEST(LinuxFileSystemReplace, OldContentSurvivesAFullDisk) {
    TempDir dir;
    const std::string mountPoint = dir.Sub("small");
    fs::create_directory(mountPoint);
    // A private mount namespace: the small tmpfs vanishes with the child however it ends.
    ForkedChild child([&] {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) {
            return 77;
        }
        const std::string old = "old content that must stay";
        const std::string native = mountPoint + "/setting.dat";
        LinuxFileSystem files;
        if (!files.WriteTextFile(old, test::ToProgramForm(native))) {
            return 2;
        }
        if (files.ReplaceFile(test::ToProgramForm(native), std::string(1 << 20, 'n'))) {
            return 3;
        }
        if (files.ReadFile(test::ToProgramForm(native), 1 << 20) != old) {
            return 4;
        }
        if (EntriesOf(mountPoint) != std::set<std::string>{"setting.dat"}) {
            return 5;
        }
        // With the space back, the same replace goes through.
        return files.ReplaceFile(test::ToProgramForm(native), "fits") ? 0 : 6;
    });
    const auto code = child.WaitExit(10000);
    ASSERT_TRUE(code.has_value());
    if (*code == 77) {
        GTEST_SKIP() << "no permission to mount a tmpfs";
    }
    EXPECT_EQ(*code, 0) << "2: setup write, 3: replace reported success, 4: old content lost, "
                           "5: temporary file left, 6: replace after the failure";
}

TEST(LinuxFileSystemWrite, CreatesTruncatesAndFailsWithoutAFolder) {
    TempDir dir;
    LinuxFileSystem files;
    EXPECT_TRUE(files.WriteTextFile(" ", dir.ProgramPath("probe.tmp")));
    EXPECT_EQ(dir.ReadFile("probe.tmp"), " ");
    dir.WriteFile("long.txt", "a much longer previous content");
    EXPECT_TRUE(files.WriteTextFile("short", dir.ProgramPath("long.txt")));
    EXPECT_EQ(dir.ReadFile("long.txt"), "short");
    EXPECT_FALSE(files.WriteTextFile(" ", dir.ProgramPath("missing\\probe.tmp")));
    EXPECT_FALSE(dir.Exists("missing"));
}

TEST(LinuxFileSystemExists, TellsFilesFoldersAndLinksApart) {
    TempDir dir;
    LinuxFileSystem files;
    dir.WriteFile("file.txt", "x");
    fs::create_directory(dir.Path() + "/folder");
    fs::create_symlink(dir.Path() + "/file.txt", dir.Path() + "/link");
    fs::create_symlink(dir.Path() + "/gone", dir.Path() + "/dangling");

    EXPECT_TRUE(files.FileExists(dir.ProgramPath("file.txt")));
    EXPECT_FALSE(files.DirectoryExists(dir.ProgramPath("file.txt")));
    EXPECT_TRUE(files.FileExists(dir.ProgramPath("folder")));
    EXPECT_TRUE(files.DirectoryExists(dir.ProgramPath("folder")));
    EXPECT_TRUE(files.DirectoryExists(dir.ProgramPath("folder") + "\\"));
    EXPECT_TRUE(files.FileExists(dir.ProgramPath("link")));
    EXPECT_FALSE(files.FileExists(dir.ProgramPath("dangling")));
    EXPECT_FALSE(files.FileExists(dir.ProgramPath("missing")));
    EXPECT_FALSE(files.DirectoryExists(dir.ProgramPath("missing")));
    EXPECT_FALSE(files.FileExists(""));
    EXPECT_FALSE(files.DirectoryExists(""));
}

TEST(LinuxFileSystemFolders, ForceDirectoriesCreatesEveryMissingParent) {
    TempDir dir;
    LinuxFileSystem files;
    EXPECT_TRUE(files.ForceDirectories(dir.ProgramPath("a\\b\\c\\d")));
    EXPECT_TRUE(fs::is_directory(dir.Path() + "/a/b/c/d"));
    EXPECT_TRUE(files.ForceDirectories(dir.ProgramPath("a\\b")));
    EXPECT_TRUE(files.ForceDirectories(dir.ProgramPath("x\\y\\")));
    EXPECT_TRUE(fs::is_directory(dir.Path() + "/x/y"));

    dir.WriteFile("plain", "x");
    EXPECT_FALSE(files.ForceDirectories(dir.ProgramPath("plain\\sub")));
    EXPECT_FALSE(files.ForceDirectories(dir.ProgramPath("plain")));
    EXPECT_FALSE(files.ForceDirectories(""));
}

TEST(LinuxFileSystemAccess, AnswersForTheEffectiveUser) {
    TempDir dir;
    LinuxFileSystem files;
    dir.WriteFile("own.txt", "x");
    ASSERT_EQ(::chmod(dir.Sub("own.txt").c_str(), 0600), 0);
    EXPECT_TRUE(files.CheckFileAccess(GENERIC_WRITE_ACCESS, dir.ProgramPath("own.txt")));
    EXPECT_TRUE(
        files.CheckFileAccess(GENERIC_READ_ACCESS | GENERIC_WRITE_ACCESS, dir.ProgramPath("own.txt")));
    EXPECT_TRUE(files.CheckFileAccess(GENERIC_WRITE_ACCESS, dir.ProgramPath()));
    EXPECT_FALSE(files.CheckFileAccess(GENERIC_WRITE_ACCESS, dir.ProgramPath("missing")));
    EXPECT_FALSE(files.CheckFileAccess(GENERIC_READ_ACCESS, dir.ProgramPath("missing")));
    EXPECT_FALSE(files.CheckFileAccess(GENERIC_WRITE_ACCESS, ""));
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(dir.Sub("own.txt").c_str(), 0400), 0);
        EXPECT_FALSE(files.CheckFileAccess(GENERIC_WRITE_ACCESS, dir.ProgramPath("own.txt")));
        EXPECT_TRUE(files.CheckFileAccess(GENERIC_READ_ACCESS, dir.ProgramPath("own.txt")));
    }
}

TEST(LinuxFileSystemAccess, AnotherUserIsDeniedWhatTheModeForbids) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as another user";
    }
    TempDir dir;
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
    dir.WriteFile("secret.txt", "x");
    dir.WriteFile("readable.txt", "x");
    dir.WriteFile("shared.txt", "x");
    ASSERT_EQ(::chmod(dir.Sub("secret.txt").c_str(), 0600), 0);
    ASSERT_EQ(::chmod(dir.Sub("readable.txt").c_str(), 0644), 0);
    ASSERT_EQ(::chmod(dir.Sub("shared.txt").c_str(), 0666), 0);
    // Each answer is one bit of the exit code, so a wrong one names itself.
    ForkedChild child([&] {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
            ::setresuid(65534, 65534, 65534) != 0) {
            return 255;
        }
        LinuxFileSystem files;
        int wrong = 0;
        wrong |= files.CheckFileAccess(GENERIC_WRITE_ACCESS, dir.ProgramPath("secret.txt")) ? 1 : 0;
        wrong |= files.CheckFileAccess(GENERIC_READ_ACCESS, dir.ProgramPath("secret.txt")) ? 2 : 0;
        wrong |= files.CheckFileAccess(GENERIC_WRITE_ACCESS, dir.ProgramPath("readable.txt")) ? 4 : 0;
        wrong |= files.CheckFileAccess(GENERIC_READ_ACCESS, dir.ProgramPath("readable.txt")) ? 0 : 8;
        wrong |= files.CheckFileAccess(GENERIC_WRITE_ACCESS, dir.ProgramPath("shared.txt")) ? 0 : 16;
        wrong |= files.CheckFileAccess(GENERIC_WRITE_ACCESS, dir.ProgramPath()) ? 32 : 0;
        wrong |=
            files.CheckFileAccess(GENERIC_READ_ACCESS | GENERIC_WRITE_ACCESS, dir.ProgramPath("readable.txt"))
                ? 64
                : 0;
        return wrong;
    });
    EXPECT_EQ(child.WaitExit(10000), 0);
}

TEST(LinuxFileSystemTimes, FileTimeCountsFrom1601) {
    EXPECT_EQ(UnixTimeToFileTime(0, 0), 116444736000000000ull);
    EXPECT_EQ(UnixTimeToFileTime(1, 500), 116444736000000000ull + 10000000ull + 5ull);
    EXPECT_EQ(UnixTimeToFileTime(-11644473600, 0), 0ull);
}

TEST(LinuxFileSystemTimes, CreationTimeOfAFreshFileIsNow) {
    TempDir dir;
    LinuxFileSystem files;
    struct statx probe {};
    dir.WriteFile("new.txt", "x");
    ASSERT_EQ(::statx(AT_FDCWD, dir.Sub("new.txt").c_str(), 0, STATX_BTIME, &probe), 0);
    TFileTime created = 0;
    if ((probe.stx_mask & STATX_BTIME) == 0) {
        EXPECT_FALSE(files.GetFileCreationTime(dir.ProgramPath("new.txt"), created));
        GTEST_SKIP() << "this file system keeps no birth time";
    }
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto nowFileTime =
        UnixTimeToFileTime(std::chrono::duration_cast<std::chrono::seconds>(now).count(), 0);
    ASSERT_TRUE(files.GetFileCreationTime(dir.ProgramPath("new.txt"), created));
    EXPECT_LE(created, nowFileTime + 20000000ull);
    EXPECT_GE(created + 600000000ull, nowFileTime);

    // Rewriting the file changes its modification time, never its birth.
    TFileTime again = 0;
    ASSERT_TRUE(files.WriteTextFile("changed", dir.ProgramPath("new.txt")));
    ASSERT_TRUE(files.GetFileCreationTime(dir.ProgramPath("new.txt"), again));
    EXPECT_EQ(again, created);

    TFileTime folder = 0;
    EXPECT_TRUE(files.GetFileCreationTime(dir.ProgramPath(), folder));
    EXPECT_FALSE(files.GetFileCreationTime(dir.ProgramPath("missing"), folder));
}

class LinuxFileSystemList : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name :
             {"a.skn", "b.skn", ".hidden.skn", "c.txt", "Upper.SKN", "noext", "x[1].skn", "x1.skn"}) {
            FDir.WriteFile(std::string("skins/") + name, name);
        }
        fs::create_directory(FDir.Path() + "/skins/folder.skn");
        fs::create_symlink(FDir.Path() + "/skins/a.skn", FDir.Path() + "/skins/link.skn");
        fs::create_symlink(FDir.Path() + "/skins/gone", FDir.Path() + "/skins/dangling.skn");
    }

    std::set<std::string> List(const std::string& mask, bool withFolder) const {
        TStringList list;
        FFiles.ListFiles(mask, list, withFolder);
        std::set<std::string> names(list.begin(), list.end());
        EXPECT_EQ(names.size(), list.Count()) << "a name was listed twice";
        return names;
    }

    TempDir FDir;
    LinuxFileSystem FFiles;
};

TEST_F(LinuxFileSystemList, MatchesFilesOnlyIncludingHiddenOnes) {
    const std::set<std::string> expected{"a.skn", "b.skn", ".hidden.skn", "x[1].skn", "x1.skn", "link.skn"};
    EXPECT_EQ(List(FDir.ProgramPath("skins\\*.skn"), false), expected);
}

TEST_F(LinuxFileSystemList, PrependsTheMaskFolderAsWritten) {
    const std::string folder = FDir.ProgramPath("skins") + "\\";
    std::set<std::string> expected;
    for (const char* name : {"a.skn", "b.skn", ".hidden.skn", "x[1].skn", "x1.skn", "link.skn"}) {
        expected.insert(folder + name);
    }
    EXPECT_EQ(List(folder + "*.skn", true), expected);
}

TEST_F(LinuxFileSystemList, OnlyStarAndQuestionMarkAreWildcards) {
    const std::string folder = FDir.ProgramPath("skins") + "\\";
    EXPECT_EQ(List(folder + "x[1].skn", false), std::set<std::string>{"x[1].skn"});
    EXPECT_EQ(List(folder + "?.skn", false), (std::set<std::string>{"a.skn", "b.skn"}));
    EXPECT_EQ(List(folder + "*.SKN", false), std::set<std::string>{"Upper.SKN"});
    EXPECT_EQ(List(folder + "*.*", false).count("noext"), 1u);
    EXPECT_EQ(List(folder + "*.*", false).size(), 9u);
}

TEST_F(LinuxFileSystemList, AppendsToTheCallersListAndIgnoresMissingFolders) {
    TStringList list{"kept"};
    FFiles.ListFiles(FDir.ProgramPath("skins\\c.txt"), list, false);
    EXPECT_EQ(list, (TStringList{"kept", "c.txt"}));
    FFiles.ListFiles(FDir.ProgramPath("nowhere\\*.skn"), list, true);
    FFiles.ListFiles(FDir.ProgramPath("skins") + "\\", list, true);
    EXPECT_EQ(list.Count(), 2u);
}

TEST(LinuxFileSystemLongPath, PathsHaveNoOtherForm) {
    LinuxFileSystem files;
    EXPECT_EQ(files.GetLongPath("\\opt\\Long Name\\PROGRA~1"), "\\opt\\Long Name\\PROGRA~1");
    EXPECT_EQ(files.GetLongPath(""), "");
}

}  // namespace
}  // namespace cloakline
