#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/uFlashForm.h"
#include "app/uMain.h"
#include "core/framework/GlobalPlatform.h"
#include "tests/e2e/LoopbackStack.h"
#include "tests/support/TempDir.h"
#include "ui/QtNetworkRuntime.h"

namespace cloakline::test {

// The one application object of the test program (offscreen unless the
// environment names a platform).
QApplication& App();

// One proxy of the test: a loopback address of its own, on which it listens
// and from which its traffic goes out, and what the server's address table
// says of that address.
struct TDemoProxy {
    std::string Code;
    std::string Country;
    std::string City;
    std::string Outgoing;
    bool Super = false;
    int Port = 0;
    std::unique_ptr<TChildProcess> Process;

    std::string Address() const { return Outgoing + ":" + std::to_string(Port); }
};

// The whole product on loopback: the reference server with a fresh database,
// tinyproxies that send their traffic from their own loopback addresses,
// an installation whose constants point at that server with empty proxy
// lists, the real main window on the real platform with its desktop proxy
// settings in GSettings' key file, and headless Chromium following them.
class LoopbackProductTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // The proxies the server hands out; every address must be a loopback
    // address of its own.
    virtual std::vector<TDemoProxy> DemoProxies() const;

    // The main window, shown, over the test's installation.
    TfrmMain& Start();
    // Waits until the start-up has the local information and the proxy lists.
    void WaitUntilReady(TfrmMain& main);
    // The server's check-IP page as headless Chromium sees it through the
    // desktop's proxy settings.
    TCheckIpView Browse();
    // The demo proxy the record names (a test failure when it is none of them).
    TDemoProxy& ProxyAt(const TProxyRec& rec);
    static const TFlashCardView& Card(TFlashCard which);
    // Hide and Stop are refused less than a second after the previous action.
    static void WaitPastPaceRule() { PumpFor(1100); }
    std::string ServerUrl(const std::string& path) const;

    TempDir Work;
    std::string Chromium;
    std::string Host;
    std::vector<TDemoProxy> Proxies;
    int ServerPort = 0;
    std::string CheckIpUrl;
    std::string Database;
    std::unique_ptr<TChildProcess> Server;
    std::unique_ptr<Platform> System;
    std::unique_ptr<TQtNetworkRuntime> Network;
    TDownloaderContext Downloads;
    TNoInstanceChannel Channel;
    TCommandLineSwitches Switches{{}, true};
    // The local gateway, for tests of hiding through it; without it the
    // browsers are pointed at the proxies themselves.
    TGatewayFactory GatewayFactory;
    std::unique_ptr<TAppContext> Context;
    std::unique_ptr<TfrmMain> Main;
    int Browsed = 0;

  private:
    void PrepareDesktop();
    void StartProxy(TDemoProxy& proxy, const std::string& tinyproxy);
    void StartServer();
    void LayOutInstallation();
};

}  // namespace cloakline::test
