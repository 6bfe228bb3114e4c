#include <float.h>

#include "platform/api/Platform.h"
#include "platform/win32/Win32AutoRun.h"
#include "platform/win32/Win32Browsers.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32DataFolders.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32InstanceChannel.h"
#include "platform/win32/Win32Processes.h"
#include "platform/win32/Win32ProxySettingsRecorder.h"
#include "platform/win32/Win32ProxySettingsWatch.h"
#include "platform/win32/Win32SingleInstance.h"
#include "platform/win32/Win32SystemInfo.h"
#include "platform/win32/Win32SystemProxy.h"

namespace cloakline {

std::unique_ptr<Platform> CreateSystemPlatform() {
    auto platform = std::make_unique<Platform>();
    platform->Files = std::make_unique<Win32FileSystem>();
    platform->Folders = std::make_unique<Win32DataFolders>();
    platform->AutoRun = std::make_unique<Win32AutoRun>();
    platform->Processes = std::make_unique<Win32Processes>();
    platform->SystemInfo = std::make_unique<Win32SystemInfo>();
    platform->Clock = std::make_unique<Win32Clock>();
    platform->SingleInstance = std::make_unique<Win32SingleInstance>();
    platform->SystemProxy = std::make_unique<Win32SystemProxy>();
    platform->Firefox = std::make_unique<Win32Firefox>();
    platform->Opera = std::make_unique<Win32OperaPreferences>();
    platform->SettingsWatch = std::make_unique<Win32ProxySettingsWatch>();
    platform->ProxyRecorder = std::make_unique<Win32ProxySettingsRecorder>();
    // Main windows are found by class on the whole desktop; "App.ID" tells installations apart.
    platform->MakeInstanceChannel = [](const std::string&) -> std::unique_ptr<IInstanceChannel> {
        return std::make_unique<Win32InstanceChannel>();
    };
    return platform;
}

void MaskFloatingPointExceptions() {
    _clearfp();
    // Every exception masked, rounding to nearest; the precision control of
    // the x87 unit (64 bits) exists on 32-bit x86 only.
    _controlfp(_MCW_EM, _MCW_EM);
    _controlfp(_RC_NEAR, _MCW_RC);
#if defined(_M_IX86) || defined(__i386__)
    _controlfp(_PC_64, _MCW_PC);
#endif
}

}  // namespace cloakline
