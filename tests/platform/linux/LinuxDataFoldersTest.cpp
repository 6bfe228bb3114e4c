#include <errno.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>

#include "platform/linux/LinuxDataFolders.h"
#include "tests/platform/linux/FakeEnv.h"
#include "tests/support/TempDir.h"

namespace cloakline {
namespace {

using test::FakeEnv;

std::string PasswdHome() {
    const passwd* entry = ::getpwuid(::getuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

TEST(LinuxDataFolders, ExeNameIsThisTestProgram) {
    LinuxDataFolders folders;
    const std::string exe = folders.GetExeName();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(exe.front(), '\\');
    EXPECT_EQ(exe.find('/'), std::string::npos);
    const auto expected = std::filesystem::canonical(program_invocation_name);
    EXPECT_EQ(exe, test::ToProgramForm(expected.string()));
}

TEST(LinuxDataFolders, AppDataIsTheConfigHome) {
    FakeEnv explicitConfig{{"XDG_CONFIG_HOME", "/srv/cfg/"}, {"HOME", "/home/u"}};
    EXPECT_EQ(LinuxDataFolders(explicitConfig.Lookup()).GetShellFolder("AppData"), "\\srv\\cfg");
    EXPECT_EQ(LinuxDataFolders(explicitConfig.Lookup()).GetShellFolder("appdata"), "\\srv\\cfg");

    FakeEnv homeOnly{{"HOME", "/home/u"}};
    EXPECT_EQ(LinuxDataFolders(homeOnly.Lookup()).GetShellFolder("AppData"), "\\home\\u\\.config");

    // The XDG rules ignore empty and relative values.
    FakeEnv relative{{"XDG_CONFIG_HOME", "cfg"}, {"HOME", "/home/u"}};
    EXPECT_EQ(LinuxDataFolders(relative.Lookup()).GetShellFolder("AppData"), "\\home\\u\\.config");
    FakeEnv empty{{"XDG_CONFIG_HOME", ""}, {"HOME", "/home/u/"}};
    EXPECT_EQ(LinuxDataFolders(empty.Lookup()).GetShellFolder("AppData"), "\\home\\u\\.config");
}

TEST(LinuxDataFolders, WithoutHomeTheUserDatabaseDecides) {
    const std::string home = PasswdHome();
    if (home.empty() || home == "/") {
        GTEST_SKIP() << "this user has no home folder of its own";
    }
    FakeEnv nothing{};
    EXPECT_EQ(LinuxDataFolders(nothing.Lookup()).GetShellFolder("AppData"),
              test::ToProgramForm(home + "/.config"));
    EXPECT_EQ(LinuxDataFolders(nothing.Lookup()).GetShellFolder("Local AppData"),
              test::ToProgramForm(home + "/.local/share"));
}

TEST(LinuxDataFolders, LocalAppDataIsTheDataHome) {
    FakeEnv explicitData{{"XDG_DATA_HOME", "/srv/data"}, {"HOME", "/home/u"}};
    EXPECT_EQ(LinuxDataFolders(explicitData.Lookup()).GetShellFolder("Local AppData"), "\\srv\\data");
    FakeEnv homeOnly{{"HOME", "/home/u"}};
    EXPECT_EQ(LinuxDataFolders(homeOnly.Lookup()).GetShellFolder("Local AppData"),
              "\\home\\u\\.local\\share");
}

TEST(LinuxDataFolders, OtherShellNamesFallBackToTheCommonFolders) {
    FakeEnv env{{"HOME", "/home/u"}, {"CLOAKLINE_COMMON_APPDATA", "/opt/shared"}};
    LinuxDataFolders folders(env.Lookup());
    EXPECT_EQ(folders.GetShellFolder("Common AppData"), "\\opt\\shared");
    EXPECT_EQ(folders.GetShellFolder("Personal"), "");
    EXPECT_EQ(folders.GetShellFolder(""), "");
}

TEST(LinuxDataFolders, CommonAppDataIsConfigurable) {
    FakeEnv configured{{"CLOAKLINE_COMMON_APPDATA", "/opt/shared/"}};
    EXPECT_EQ(LinuxDataFolders(configured.Lookup()).GetCommonShellFolder("Common AppData"), "\\opt\\shared");
    FakeEnv unset{};
    // Root gets none: it would otherwise create the folder of every user by itself.
    const std::string shared = ::geteuid() == 0 ? "" : "\\var\\lib";
    EXPECT_EQ(LinuxDataFolders(unset.Lookup()).GetCommonShellFolder("Common AppData"), shared);
    EXPECT_EQ(LinuxDataFolders(unset.Lookup()).GetCommonShellFolder("common appdata"), shared);
    EXPECT_EQ(LinuxDataFolders(unset.Lookup()).GetCommonShellFolder("AppData"), "");
}

TEST(LinuxDataFolders, TempDirEndsWithOneBackslash) {
    FakeEnv configured{{"TMPDIR", "/var/tmp/me/"}};
    EXPECT_EQ(LinuxDataFolders(configured.Lookup()).GetTempDir(), "\\var\\tmp\\me\\");
    FakeEnv bare{{"TMPDIR", "/scratch"}};
    EXPECT_EQ(LinuxDataFolders(bare.Lookup()).GetTempDir(), "\\scratch\\");
    FakeEnv unset{};
    EXPECT_EQ(LinuxDataFolders(unset.Lookup()).GetTempDir(), "\\tmp\\");
}

TEST(LinuxDataFolders, DefaultReadsTheProcessEnvironment) {
    test::TempDir dir;
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old != nullptr ? old : "";
    ASSERT_EQ(::setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1), 0);
    const std::string seen = LinuxDataFolders().GetShellFolder("AppData");
    if (old != nullptr) {
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
    EXPECT_EQ(seen, dir.ProgramPath());
}

}  // namespace
}  // namespace cloakline
