#pragma once

#include <memory>
#include <string>
// Before any Asio header: Boost 1.74's awaitable.hpp uses std::exchange
// without including it.
#include <utility>

#include "tests/e2e/LoopbackStack.h"

namespace cloakline::test {

// What one tab showed once its page had loaded.
struct TTabView {
    bool Loaded = false;
    // Where the tab ended: the address asked for, or Chromium's error page
    // ("chrome-error://...") when the page could not be fetched.
    std::string Url;
    // The HTTP status of the page; 0 for an error page.
    int Status = 0;
    std::string Html;
    // The check-IP page's fields; empty on any other page.
    std::string IP;
    std::string Country;
    // Why nothing loaded.
    std::string Failure;
};

// Headless Chromium kept running beside the test and driven through its
// DevTools endpoint, so that a page can be loaded again and again within a
// second, without a browser start each time. It follows the desktop's proxy
// settings of this process's environment.
class TRunningChromium {
  public:
    TRunningChromium(const std::string& chromium,
                     const std::string& profileFolder,
                     const std::string& logFile);
    ~TRunningChromium();
    TRunningChromium(const TRunningChromium&) = delete;
    TRunningChromium& operator=(const TRunningChromium&) = delete;

    // The DevTools endpoint answered within the time.
    bool WaitReady(int timeoutMs);
    // Loads url in a new tab and reads what the tab shows once the load has
    // ended (error pages included), within timeoutMs; the main thread's
    // events keep running meanwhile. The tab is closed afterwards.
    TTabView Open(const std::string& url, int timeoutMs);
    std::string Log() const { return FProcess->Log(); }

  private:
    int FPort = 0;
    std::unique_ptr<TChildProcess> FProcess;
};

}  // namespace cloakline::test
