#include <fenv.h>

#include "core/support/ShellUtils.h"
#include "platform/api/Platform.h"
#include "platform/linux/LinuxAutoRun.h"
#include "platform/linux/LinuxBrowserInventory.h"
#include "platform/linux/LinuxChromiumPolicy.h"
#include "platform/linux/LinuxClock.h"
#include "platform/linux/LinuxDataFolders.h"
#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/LinuxFirefox.h"
#include "platform/linux/LinuxGuardProcess.h"
#include "platform/linux/LinuxInstanceChannel.h"
#include "platform/linux/LinuxOperaPreferences.h"
#include "platform/linux/LinuxProcesses.h"
#include "platform/linux/LinuxProxySettingsRecorder.h"
#include "platform/linux/LinuxProxySettingsWatch.h"
#include "platform/linux/LinuxSingleInstance.h"
#include "platform/linux/LinuxSystemInfo.h"
#include "platform/linux/LinuxSystemProxy.h"
#include "platform/linux/NativePath.h"

namespace cloakline {

std::unique_ptr<Platform> CreateSystemPlatform() {
    auto platform = std::make_unique<Platform>();
    platform->Files = std::make_unique<LinuxFileSystem>();
    platform->Folders = std::make_unique<LinuxDataFolders>();
    platform->AutoRun = std::make_unique<LinuxAutoRun>();
    // Local pages open only from the folder of the shipped files, which an
    // installation keeps apart from the program file.
    platform->Processes = std::make_unique<LinuxProcesses>(ToNativePath(GetAppDir(*platform)));
    platform->SystemInfo = std::make_unique<LinuxSystemInfo>();
    platform->Clock = std::make_unique<LinuxClock>();
    platform->SingleInstance = std::make_unique<LinuxSingleInstance>();
    platform->SystemProxy = std::make_unique<LinuxSystemProxy>();
    platform->Firefox = std::make_unique<LinuxFirefox>();
    platform->Opera = std::make_unique<LinuxOperaPreferences>();
    platform->GuardLauncher = std::make_unique<LinuxGuardLauncher>();
    platform->Browsers = std::make_unique<LinuxBrowserInventory>();
    platform->ChromiumPolicy = std::make_unique<LinuxChromiumPolicy>();
    platform->ProxyRecorder = std::make_unique<LinuxProxySettingsRecorder>();
    platform->SettingsWatch = std::make_unique<LinuxProxySettingsWatch>();
    platform->MakeInstanceChannel =
        [](const std::string& installationId) -> std::unique_ptr<IInstanceChannel> {
        return std::make_unique<LinuxInstanceChannel>(installationId);
    };
    return platform;
}

void MaskFloatingPointExceptions() {
    // glibc starts with every exception masked, but a library loaded on the way may have unmasked some.
    fedisableexcept(FE_ALL_EXCEPT);
    feclearexcept(FE_ALL_EXCEPT);
    fesetround(FE_TONEAREST);
}

}  // namespace cloakline
