#include <fenv.h>
#include <gtest/gtest.h>

#include <cmath>

#include "platform/api/Platform.h"
#include "platform/linux/LinuxAutoRun.h"
#include "platform/linux/LinuxClock.h"
#include "platform/linux/LinuxDataFolders.h"
#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/LinuxInstanceChannel.h"
#include "platform/linux/LinuxProcesses.h"
#include "platform/linux/LinuxProxySettingsWatch.h"
#include "platform/linux/LinuxSingleInstance.h"
#include "platform/linux/LinuxSystemInfo.h"
#include "tests/platform/linux/ForkedChild.h"

namespace cloakline {
namespace {

TEST(PlatformFactory, FillsEveryServiceWithTheLinuxBackend) {
    const auto platform = CreateSystemPlatform();
    ASSERT_NE(platform, nullptr);
    EXPECT_NE(dynamic_cast<LinuxFileSystem*>(platform->Files.get()), nullptr);
    EXPECT_NE(dynamic_cast<LinuxDataFolders*>(platform->Folders.get()), nullptr);
    EXPECT_NE(dynamic_cast<LinuxAutoRun*>(platform->AutoRun.get()), nullptr);
    EXPECT_NE(dynamic_cast<LinuxProcesses*>(platform->Processes.get()), nullptr);
    EXPECT_NE(dynamic_cast<LinuxSystemInfo*>(platform->SystemInfo.get()), nullptr);
    EXPECT_NE(dynamic_cast<LinuxClock*>(platform->Clock.get()), nullptr);
    EXPECT_NE(dynamic_cast<LinuxSingleInstance*>(platform->SingleInstance.get()), nullptr);
    EXPECT_NE(dynamic_cast<LinuxProxySettingsWatch*>(platform->SettingsWatch.get()), nullptr);
    ASSERT_TRUE(platform->MakeInstanceChannel);
    const auto channel = platform->MakeInstanceChannel("{id}");
    EXPECT_NE(dynamic_cast<LinuxInstanceChannel*>(channel.get()), nullptr);
}

TEST(PlatformFactory, FloatingPointExceptionsEndMaskedWithRoundingToNearest) {
    // In a child: should masking fail, the trap ends the child, not the test program.
    test::ForkedChild child([] {
        feenableexcept(FE_DIVBYZERO | FE_INVALID | FE_OVERFLOW);
        fesetround(FE_UPWARD);
        if (fegetexcept() == 0 || fegetround() != FE_UPWARD) {
            return 10;
        }
        MaskFloatingPointExceptions();
        if (fegetexcept() != 0) {
            return 1;
        }
        if (fegetround() != FE_TONEAREST) {
            return 2;
        }
        volatile double zero = 0.0;
        volatile double big = 1e308;
        const double inf = 1.0 / zero;
        const double nan = zero / zero;
        const double overflow = big * 10.0;
        return std::isinf(inf) && std::isnan(nan) && std::isinf(overflow) ? 0 : 3;
    });
    EXPECT_EQ(child.WaitExit(10000), 0);
}

}  // namespace
}  // namespace cloakline
