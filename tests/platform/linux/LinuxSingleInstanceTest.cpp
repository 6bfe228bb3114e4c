#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/linux/LinuxSingleInstance.h"
#include "tests/platform/linux/FakeEnv.h"
#include "tests/platform/linux/ForkedChild.h"
#include "tests/support/TempDir.h"

namespace cloakline {
namespace {

namespace fs = std::filesystem;
using test::FakeEnv;
using test::ForkedChild;
using test::SignalPipe;
using test::TempDir;

class LinuxSingleInstanceTest : public ::testing::Test {
  protected:
    LinuxSingleInstanceTest() : FEnv{{"CLOAKLINE_LOCK_DIR", FDir.Path()}} {}

    // Names are unique per test: a lock, once taken, stays with this process.
    static std::string UniqueName(const char* what) {
        return std::string("Global\\{") + what + "-" + std::to_string(::getpid()) + "}";
    }

    TempDir FDir;
    FakeEnv FEnv;
};

TEST(LinuxSingleInstanceNames, LockFilesKeepOnlyPortableCharacters) {
    EXPECT_EQ(LockFileName("Global\\{GUID}"), "Global__GUID_.lock");
    EXPECT_EQ(LockFileName("Global\\{8F0A-11}"), "Global__8F0A-11_.lock");
    EXPECT_EQ(LockFileName("a/../b c:d.e_f"), "a_.._b_c_d.e_f.lock");
    EXPECT_EQ(LockFileName("\xC3\xBC"), "__.lock");
}

TEST(LinuxSingleInstanceNames, TheLockFolderIsConfigurableOrTheUsersSessionFolder) {
    FakeEnv configured{{"CLOAKLINE_LOCK_DIR", "/some/where"}};
    EXPECT_EQ(LinuxSingleInstance(configured.Lookup()).LockFolder(), "/some/where");
    TempDir runtime;
    ::chmod(runtime.Path().c_str(), 0700);
    FakeEnv session{{"XDG_RUNTIME_DIR", runtime.Path()}};
    EXPECT_EQ(LinuxSingleInstance(session.Lookup()).LockFolder(), runtime.Path());
    // Without a session folder: the user's private one, never a shared /run/lock.
    FakeEnv unset;
    const std::string fallback = LinuxSingleInstance(unset.Lookup()).LockFolder();
    EXPECT_EQ(fallback, "/tmp/cloakline-" + std::to_string(::geteuid()));
    struct stat st {};
    ASSERT_EQ(::lstat(fallback.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(LinuxSingleInstanceTest, TheSameProcessCannotTakeANameTwice) {
    const std::string name = UniqueName("twice");
    EXPECT_TRUE(LinuxSingleInstance(FEnv.Lookup()).CreateUniqueMutex(name));
    EXPECT_FALSE(LinuxSingleInstance(FEnv.Lookup()).CreateUniqueMutex(name));
    LinuxSingleInstance same(FEnv.Lookup());
    EXPECT_FALSE(same.CreateUniqueMutex(name));
    EXPECT_TRUE(same.CreateUniqueMutex(UniqueName("other")));
    EXPECT_TRUE(fs::exists(FDir.Path() + "/" + LockFileName(name)));
}

TEST_F(LinuxSingleInstanceTest, LockFilesAreTheUsersAlone) {
    const mode_t old = ::umask(0);
    const bool created = LinuxSingleInstance(FEnv.Lookup()).CreateUniqueMutex(UniqueName("mode"));
    ::umask(old);
    ASSERT_TRUE(created);
    struct stat st {};
    ASSERT_EQ(::stat((FDir.Path() + "/" + LockFileName(UniqueName("mode"))).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(LinuxSingleInstanceTest, ALivingProcessHoldsTheNameUntilItIsKilled) {
    const std::string name = UniqueName("killed");
    SignalPipe ready;
    SignalPipe never;
    ForkedChild holder([&] {
        LinuxSingleInstance mutex(FEnv.Lookup());
        ready.Notify(mutex.CreateUniqueMutex(name) ? 'y' : 'n');
        never.Wait(60000);
        return 0;
    });
    ASSERT_EQ(ready.Wait(10000), 'y');
    EXPECT_FALSE(LinuxSingleInstance(FEnv.Lookup()).CreateUniqueMutex(name));
    // However the holder ends, the kernel lets go of its lock.
    holder.Kill();
    EXPECT_TRUE(LinuxSingleInstance(FEnv.Lookup()).CreateUniqueMutex(name));
}

TEST_F(LinuxSingleInstanceTest, AnotherProcessSeesOurName) {
    const std::string name = UniqueName("ours");
    ASSERT_TRUE(LinuxSingleInstance(FEnv.Lookup()).CreateUniqueMutex(name));
    ForkedChild second([&] {
        LinuxSingleInstance mutex(FEnv.Lookup());
        const bool sameName = mutex.CreateUniqueMutex(name);
        const bool otherName = mutex.CreateUniqueMutex(name + "-free");
        return (sameName ? 1 : 0) | (otherName ? 0 : 2);
    });
    EXPECT_EQ(second.WaitExit(10000), 0);
}

TEST_F(LinuxSingleInstanceTest, APlantedLinkIsNotFollowed) {
    const std::string name = UniqueName("planted");
    const std::string victim = FDir.Path() + "/victim";
    fs::create_symlink(victim, FDir.Path() + "/" + LockFileName(name));
    LinuxSingleInstance(FEnv.Lookup()).CreateUniqueMutex(name);
    EXPECT_FALSE(fs::exists(victim));
    EXPECT_TRUE(fs::is_symlink(FDir.Path() + "/" + LockFileName(name)));
}

}  // namespace
}  // namespace cloakline
