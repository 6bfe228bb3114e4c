#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "core/framework/CommandLineSwitches.h"
#include "core/framework/KTSettings.h"
#include "core/proxy/InfoFetcher.h"
#include "core/proxy/UpstreamGateway.h"
#include "net/SingleDownloader.h"
#include "platform/api/Platform.h"

namespace cloakline {

// Hands a callback to the main thread without waiting for it to run.
using TMainThreadPoster = std::function<void(std::function<void()>)>;
// Creates the local gateway; its callbacks reach the main thread through the poster.
using TGatewayFactory = std::function<std::unique_ptr<IUpstreamGateway>(TMainThreadPoster)>;

// The program's own gateway, with an I/O thread of its own.
TGatewayFactory LocalGatewayFactory();

// What the main window is created with.
struct TAppContext {
    Platform& System;
    TKTSettings& Settings;
    IInstanceChannel& Instances;
    const TCommandLineSwitches& Switches;
    // The server's small requests; answers arrive on the main thread.
    IInfoFetcher& InfoFetcher;
    // What the window's downloaders are created with.
    const TDownloaderContext& Downloader;
    // The local gateway that Hide sends the browsers through ("Gateway.Enabled");
    // without one the browsers are pointed at the proxies themselves.
    TGatewayFactory Gateway = {};
};

// A bounded wait for each reply of another instance: a hung instance must not
// hold up a new start for ever.
inline constexpr int kInstanceReplyTimeoutMs = 3000;

// What the run routine asks of a main window beyond showing it; a window
// without it is shown unless started hidden, and ended by leaving the loop.
class IMainForm {
  public:
    virtual ~IMainForm() = default;
    // The first show: hidden only where the user can reach the window again.
    virtual void ShowAtStart(bool startHidden) = 0;
    // Ends the program exactly as the window's own Exit does.
    virtual void EndProgram() = 0;
};

using MainFormFactory = std::function<std::unique_ptr<QWidget>(const TAppContext&)>;

// The run routine: switches, debug mode, one instance per installation, the
// main window and the message loop. Returns the process exit code.
int RunApplication(int argc,
                   char** argv,
                   const MainFormFactory& createMainForm,
                   const std::function<bool()>& preStart);

template <class TForm>
int RunApplication(int argc, char** argv, TForm*& mainForm, const std::function<bool()>& preStart = {}) {
    return RunApplication(
        argc, argv,
        [&mainForm](const TAppContext& context) {
            auto form = std::make_unique<TForm>(context);
            mainForm = form.get();
            return std::unique_ptr<QWidget>(std::move(form));
        },
        preStart);
}

// False when the program must not run on this system; tells the user why.
bool CheckSystemRegion(const ISystemInfo& system, const std::function<void(const std::string&)>& showMessage);
// The plain message box of the entry, before any application object exists.
void ShowPlainMessage(int argc, char** argv, const std::string& text);

}  // namespace cloakline
