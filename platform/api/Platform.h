#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/api/AutoRun.h"
#include "platform/api/BrowserInventory.h"
#include "platform/api/Browsers.h"
#include "platform/api/Clock.h"
#include "platform/api/DataFolders.h"
#include "platform/api/FileSystem.h"
#include "platform/api/GuardProcess.h"
#include "platform/api/InstanceChannel.h"
#include "platform/api/Processes.h"
#include "platform/api/ProxySettingsRecorder.h"
#include "platform/api/ProxySettingsWatch.h"
#include "platform/api/SingleInstance.h"
#include "platform/api/SystemInfo.h"
#include "platform/api/SystemProxy.h"

namespace cloakline {

// The system services of the machine the program runs on.
struct Platform {
    std::unique_ptr<IFileSystem> Files;
    std::unique_ptr<IDataFolders> Folders;
    std::unique_ptr<IAutoRun> AutoRun;
    std::unique_ptr<IProcesses> Processes;
    std::unique_ptr<ISystemInfo> SystemInfo;
    std::unique_ptr<IClock> Clock;
    std::unique_ptr<ISingleInstance> SingleInstance;
    std::unique_ptr<ISystemProxy> SystemProxy;
    std::unique_ptr<IFirefox> Firefox;
    std::unique_ptr<IOperaPreferences> Opera;
    // Starts the guard that restores the user's settings if the program dies; null where there is none.
    std::unique_ptr<IGuardLauncher> GuardLauncher;
    // The browsers found and running, for the list of what is hidden; the
    // WebRTC policy of Chromium-based browsers. Either may be missing.
    std::unique_ptr<IBrowserInventory> Browsers;
    std::unique_ptr<IChromiumPolicy> ChromiumPolicy;
    // What the browser switches change, for the restore journal; may be missing.
    std::unique_ptr<IProxySettingsRecorder> ProxyRecorder;
    // Changes of the desktop's proxy settings; may be missing.
    std::unique_ptr<IProxySettingsWatch> SettingsWatch;
    // Instances of the installation named by installationId (the "App.GUID" setting).
    std::function<std::unique_ptr<IInstanceChannel>(const std::string& installationId)> MakeInstanceChannel;
};

// The backend of the platform this program was built for.
std::unique_ptr<Platform> CreateSystemPlatform();

// Masks every floating-point exception and sets rounding to nearest.
void MaskFloatingPointExceptions();

}  // namespace cloakline
