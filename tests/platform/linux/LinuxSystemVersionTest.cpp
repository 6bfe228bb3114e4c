#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <cstdio>

#include "platform/api/SystemVersion.h"

namespace cloakline::test {
namespace {

TEST(LinuxSystemVersionTest, KernelReleaseGivesMajorAndMinor) {
    struct Row {
        const char* release;
        std::uint32_t major;
        std::uint32_t minor;
    };
    const Row rows[] = {
        {"6.1.0-18-amd64", 6, 1},
        {"5.15.153.1-microsoft-standard-WSL2", 5, 15},
        {"4.19", 4, 19},
        {"3", 3, 0},
        {"", 0, 0},
        {"generic", 0, 0},
        {"6.x", 6, 0},
        {"99999999999.2", 0xFFFFFFFFu, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.release);
        const TSystemVersion v = ParseKernelRelease(row.release);
        EXPECT_EQ(v.Major, row.major);
        EXPECT_EQ(v.Minor, row.minor);
        EXPECT_EQ(v.ServicePack, "") << "Linux has no service packs";
    }
}

TEST(LinuxSystemVersionTest, ReadsTheRunningKernel) {
    struct utsname names {};
    ASSERT_EQ(::uname(&names), 0);
    unsigned major = 0;
    unsigned minor = 0;
    ASSERT_EQ(std::sscanf(names.release, "%u.%u", &major, &minor), 2) << names.release;
    const TSystemVersion v = ReadSystemVersion();
    EXPECT_EQ(v.Major, major);
    EXPECT_EQ(v.Minor, minor);
    EXPECT_EQ(v.ServicePack, "");
}

}  // namespace
}  // namespace cloakline::test
