#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "core/support/RandomGenerator.h"
#include "core/support/ShellUtils.h"
#include "tests/support/FakeDataFolders.h"
#include "tests/support/RecordingProcesses.h"
#include "tests/support/TempDir.h"

namespace cloakline {
namespace {

using Lines = std::vector<std::string>;

std::string NativeForm(std::string_view programPath) {
    std::string s(programPath);
    for (char& c : s) {
        if (c == '\\') {
            c = '/';
        }
    }
    return s;
}

// Answers existence from the real disk (program paths of a POSIX system) and
// everything else from what the test sets up.
class DiskBackedFiles : public IFileSystem {
  public:
    std::map<std::string, std::string> LongForms;
    Lines ListedNames;
    mutable std::vector<std::pair<std::string, bool>> ListCalls;
    mutable std::atomic<int> ExistsCalls{0};

    std::optional<std::string> ReadFile(std::string_view, std::size_t) const override { return std::nullopt; }
    bool ReplaceFile(std::string_view, std::string_view) override { return false; }
    bool WriteTextFile(std::string_view, std::string_view) override { return false; }
    bool RemoveFile(std::string_view) override { return false; }
    bool RenameFile(std::string_view, std::string_view) override { return false; }
    bool FileExists(std::string_view path) const override {
        ++ExistsCalls;
        std::error_code ec;
        return std::filesystem::exists(NativeForm(path), ec);
    }
    bool DirectoryExists(std::string_view path) const override {
        std::error_code ec;
        return std::filesystem::is_directory(NativeForm(path), ec);
    }
    bool ForceDirectories(std::string_view) override { return false; }
    bool CheckFileAccess(std::uint32_t, std::string_view) const override { return false; }
    bool GetFileCreationTime(std::string_view, TFileTime&) const override { return false; }
    void ListFiles(std::string_view mask, TStringList& list, bool withFolder) const override {
        ListCalls.emplace_back(std::string(mask), withFolder);
        const std::string folder(mask.substr(0, mask.rfind('\\') + 1));
        for (const std::string& name : ListedNames) {
            list.Add(withFolder ? folder + name : name);
        }
    }
    std::string GetLongPath(std::string_view path) const override {
        const auto it = LongForms.find(std::string(path));
        return it != LongForms.end() ? it->second : std::string(path);
    }
};

struct TestPlatform {
    Platform P;
    DiskBackedFiles* Files;
    test::FakeDataFolders* Folders;
    test::RecordingProcesses* Processes;

    TestPlatform() {
        auto files = std::make_unique<DiskBackedFiles>();
        auto folders = std::make_unique<test::FakeDataFolders>();
        auto processes = std::make_unique<test::RecordingProcesses>();
        Files = files.get();
        Folders = folders.get();
        Processes = processes.get();
        P.Files = std::move(files);
        P.Folders = std::move(folders);
        P.Processes = std::move(processes);
    }
};

TEST(ProgramFolder, AppPathEndsWithBackslashAndAppDirNever) {
    struct Row {
        std::string ExeName;
        std::map<std::string, std::string> LongForms;
        std::string AppPath;
    };
    const std::vector<Row> rows = {
        {"\\opt\\cloakline\\cloakline", {}, "\\opt\\cloakline\\"},
        {"C:\\PROGRA~1\\Cloak\\Cloak.exe",
         {{"C:\\PROGRA~1\\Cloak\\", "C:\\Program Files\\Cloak\\"}},
         "C:\\Program Files\\Cloak\\"},
        // A long form given without the separator still yields one.
        {"\\home\\u\\APP~1\\run",
         {{"\\home\\u\\APP~1\\", "\\home\\u\\Application"}},
         "\\home\\u\\Application\\"},
        {"\\cloakline", {}, "\\"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.ExeName);
        TestPlatform tp;
        tp.Folders->ExeName = row.ExeName;
        tp.Files->LongForms = row.LongForms;
        EXPECT_EQ(GetExeName(tp.P), row.ExeName);
        const std::string appPath = GetAppPath(tp.P);
        EXPECT_EQ(appPath, row.AppPath);
        const std::string appDir = GetAppDir(tp.P);
        EXPECT_EQ(appDir + "\\", appPath);
        EXPECT_FALSE(appDir.ends_with('\\'));
    }
}

TEST(ProgramFolder, ShippedFilesBesideTheProgramWinOverTheInstalledTree) {
    test::TempDir dir;
    dir.WriteFile("usr/share/cloakline/const.dat", "[App]\n");
    dir.WriteFile("usr/libexec/cloakline/cloakline-guard", "");
    TestPlatform tp;
    tp.Folders->ExeName = dir.ProgramPath("usr/bin/cloakline");
    // Installed: nothing beside /usr/bin/cloakline.
    EXPECT_EQ(GetAppPath(tp.P), dir.ProgramPath("usr/share/cloakline") + "\\");
    EXPECT_EQ(GetAppDir(tp.P), dir.ProgramPath("usr/share/cloakline"));
    EXPECT_EQ(GetGuardProgram(tp.P), dir.ProgramPath("usr/libexec/cloakline/cloakline-guard"));

    // A build tree or portable copy: its own files count, even with an installation beside it.
    dir.WriteFile("usr/bin/const.dat", "[App]\n");
    dir.WriteFile("usr/bin/cloakline-guard", "");
    EXPECT_EQ(GetAppPath(tp.P), dir.ProgramPath("usr/bin") + "\\");
    EXPECT_EQ(GetGuardProgram(tp.P), dir.ProgramPath("usr/bin/cloakline-guard"));

    // Found nowhere: the program's own folder, where the user expects them.
    tp.Folders->ExeName = dir.ProgramPath("opt/bin/cloakline");
    EXPECT_EQ(GetAppPath(tp.P), dir.ProgramPath("opt/bin") + "\\");
    EXPECT_EQ(GetGuardProgram(tp.P), dir.ProgramPath("opt/bin/cloakline-guard"));
}

TEST(ProgramFolder, TempDirComesFromTheSystemFolders) {
    TestPlatform tp;
    tp.Folders->TempDir = "\\var\\tmp\\";
    EXPECT_EQ(GetTempDir(tp.P), "\\var\\tmp\\");
}

TEST(GetUniqueFileName, GivesAFreshNameInTheFolder) {
    test::TempDir dir;
    TestPlatform tp;
    const std::string folder = dir.ProgramPath() + "\\";
    const std::regex shape("sg([1-9A-F][0-9A-F]{0,4}|0)\\.tmp");
    for (const std::string& base : {folder, dir.ProgramPath()}) {
        SCOPED_TRACE(base);
        for (int i = 0; i < 50; ++i) {
            const std::string path = GetUniqueFileName(tp.P, base, "sg", "tmp");
            ASSERT_TRUE(path.starts_with(folder)) << path;
            const std::string name = path.substr(folder.size());
            EXPECT_TRUE(std::regex_match(name, shape)) << name;
            EXPECT_FALSE(dir.Exists(name)) << "the file must not be created";
        }
    }
    EXPECT_TRUE(RandomGenerator::IsSeeded());
}

TEST(GetUniqueFileName, SkipsNamesOfExistingFilesAndFolders) {
    test::TempDir dir;
    TestPlatform tp;
    const std::string folder = dir.ProgramPath() + "\\";
    constexpr std::uint64_t kSeed = 2024;

    // With the same seed every call walks the same names; each round occupies
    // the name the previous round returned, so the next one must step past it.
    std::set<std::string> taken;
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        RandomGenerator::Seed(kSeed);
        tp.Files->ExistsCalls = 0;
        const std::string path = GetUniqueFileName(tp.P, folder, "sg", "tmp");
        EXPECT_EQ(taken.count(path), 0u) << path;
        EXPECT_EQ(tp.Files->ExistsCalls.load(), round + 1);
        const std::string name = path.substr(folder.size());
        if (round % 2 == 0) {
            dir.WriteFile(name, "x");
        } else {
            std::filesystem::create_directory(dir.Path() + "/" + name);
        }
        taken.insert(path);
    }
}

TEST(GetUniqueFileName, ConcurrentCallersGetValidNames) {
    test::TempDir dir;
    TestPlatform tp;
    const std::string folder = dir.ProgramPath() + "\\";
    dir.WriteFile("keep.txt", "");
    constexpr int kThreads = 4;
    constexpr int kCalls = 300;
    std::vector<Lines> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kCalls; ++i) {
                results[static_cast<std::size_t>(t)].push_back(GetUniqueFileName(tp.P, folder, "dl", "part"));
            }
        });
    }
    // The main thread draws at the same time, as proxy choice does.
    std::set<std::uint32_t> coins;
    for (int i = 0; i < 10000; ++i) {
        coins.insert(RandomGenerator::Next(2));
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(coins, (std::set<std::uint32_t>{0, 1}));
    const std::regex shape("dl([1-9A-F][0-9A-F]{0,4}|0)\\.part");
    for (const Lines& names : results) {
        ASSERT_EQ(names.size(), static_cast<std::size_t>(kCalls));
        for (const std::string& path : names) {
            ASSERT_TRUE(path.starts_with(folder)) << path;
            EXPECT_TRUE(std::regex_match(path.substr(folder.size()), shape)) << path;
        }
    }
}

TEST(RunProgram, ResolvesTheProgramAndSplitsItsArguments) {
    struct Row {
        std::string Name;
        std::string Path;
        std::string Params;
        std::string Program;
        Lines Arguments;
        std::string Folder;
    };
    const std::vector<Row> rows = {
        {"relative to the program",
         "ff\\firefox",
         "-url \"http://x y/\"",
         "\\opt\\app\\ff\\firefox",
         {"-url", "http://x y/"},
         "\\opt\\app\\ff\\"},
        {"forward slashes", "bin/helper.sh", "", "\\opt\\app\\bin\\helper.sh", {}, "\\opt\\app\\bin\\"},
        {"drive path", "C:\\Prog\\f.exe", "a b", "C:\\Prog\\f.exe", {"a", "b"}, "C:\\Prog\\"},
        {"rooted path", "\\usr\\bin\\opera", "\"\"", "\\usr\\bin\\opera", {""}, "\\usr\\bin\\"},
        {"whole command line", "", "\"\\usr\\bin\\my prog\" -a  b", "\\usr\\bin\\my prog", {"-a", "b"}, ""},
        {"bare command", "", "xdg-open", "xdg-open", {}, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        TestPlatform tp;
        tp.Folders->ExeName = "\\opt\\app\\cloakline";
        EXPECT_TRUE(RunProgram(tp.P, row.Path, row.Params, false, INFINITE_WAIT));
        ASSERT_EQ(tp.Processes->Spawns.size(), 1u);
        const auto& call = tp.Processes->Spawns[0];
        EXPECT_EQ(call.Program, row.Program);
        EXPECT_EQ(call.Arguments.Lines(), row.Arguments);
        EXPECT_EQ(call.WorkingFolder, row.Folder);
        EXPECT_FALSE(call.HideAndWait);
    }
}

TEST(RunProgram, PassesWaitingOnAndReportsFailure) {
    TestPlatform tp;
    tp.Folders->ExeName = "\\opt\\app\\cloakline";
    EXPECT_TRUE(RunProgram(tp.P, "tool", "", true, 5000));
    ASSERT_EQ(tp.Processes->Spawns.size(), 1u);
    EXPECT_TRUE(tp.Processes->Spawns[0].HideAndWait);
    EXPECT_EQ(tp.Processes->Spawns[0].TimeoutMs, 5000u);

    tp.Processes->SpawnResult = false;
    EXPECT_FALSE(RunProgram(tp.P, "tool", "", false, 0));

    // Nothing to start at all.
    tp.Processes->Spawns.clear();
    tp.Processes->SpawnResult = true;
    EXPECT_FALSE(RunProgram(tp.P, "", "   ", false, 0));
    EXPECT_TRUE(tp.Processes->Spawns.empty());
}

TEST(FindFiles, ListsFolderPlusMaskAndAppends) {
    struct Row {
        std::string Folder;
        std::string Mask;
        std::string ExpectedMask;
    };
    const std::vector<Row> rows = {
        {"C:/App/Skins", "*.skn", "C:\\App\\Skins\\*.skn"},
        {"C:\\App\\Skins\\", "*.skn", "C:\\App\\Skins\\*.skn"},
        {"\\opt\\app\\lang", "*.lan", "\\opt\\app\\lang\\*.lan"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Folder);
        TestPlatform tp;
        tp.Files->ListedNames = {"a.x", "b.x"};
        TStringList list{"before"};
        FindFiles(tp.P, row.Folder, list, row.Mask);
        ASSERT_EQ(tp.Files->ListCalls.size(), 1u);
        EXPECT_EQ(tp.Files->ListCalls[0].first, row.ExpectedMask);
        const std::string folder = row.ExpectedMask.substr(0, row.ExpectedMask.rfind('\\') + 1);
        EXPECT_EQ(list.Lines(), Lines({"before", folder + "a.x", folder + "b.x"}));
    }
}

TEST(FileTimeToDateTime, CountsDaysFrom1899InUtc) {
    constexpr std::uint64_t kDay = 864000000000ull;
    constexpr std::uint64_t k1970 = 116444736000000000ull;
    struct Row {
        std::string Name;
        TFileTime Time;
        TDateTime Expected;
    };
    const std::vector<Row> rows = {
        {"1601-01-01", 0, -109205.0},
        {"1899-12-30", 109205 * kDay, 0.0},
        {"1899-12-30 12:00", 109205 * kDay + kDay / 2, 0.5},
        {"1970-01-01", k1970, 25569.0},
        {"1970-01-01 06:00", k1970 + kDay / 4, 25569.25},
        {"2000-01-01", 125911584000000000ull, 36526.0},
        // Calendar fields end at the millisecond.
        {"below a millisecond", k1970 + 9999, 25569.0},
        {"one millisecond", k1970 + 10000, 25569.0 + 1.0 / 86400000.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_DOUBLE_EQ(FileTimeToDateTime(row.Time), row.Expected);
    }
}

TEST(AutoRunEntryName, ComesFromTheInstallationIdentityOnly) {
    EXPECT_EQ(AutoRunEntryName("{6F1C2A7E-3B4D-4E8A-9C21-5D7F0B3A8E64}"),
              "Cloakline-6F1C2A7E-3B4D-4E8A-9C21-5D7F0B3A8E64");
    EXPECT_EQ(AutoRunEntryName("../firefox"), "Cloakline-firefox") << "no separators or dots survive";
    EXPECT_EQ(AutoRunEntryName(""), "Cloakline");
}

}  // namespace
}  // namespace cloakline
