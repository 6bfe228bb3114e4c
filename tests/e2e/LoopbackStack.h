#pragma once

#include <QProcess>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace cloakline::test {

// A TCP port on 127.0.0.1 that was free when asked.
int FreeLoopbackPort();

// This machine's host name when it resolves to 127.0.0.1 and is not
// "localhost" (browsers never send loopback literals or "localhost" through
// a proxy); empty otherwise.
std::string LoopbackHostName();

// The program's full path when it is on the search path, else empty.
std::string FindOnPath(std::string_view program);

// Runs the main thread's events until done() holds or timeoutMs have passed;
// answers done() at the end.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);
// Runs the main thread's events for ms milliseconds.
void PumpFor(int ms);

// A program running beside the test with its output (both channels) in a
// log file. Ended when the object goes: asked to end first, killed when it
// does not within 15 seconds.
class TChildProcess {
  public:
    TChildProcess(const std::string& program, const std::vector<std::string>& arguments, std::string logFile);
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    bool Started() const { return FStarted; }
    bool Running() const;
    // SIGKILL, as a crash or the OOM killer would end it; true once it has
    // ended by that signal.
    bool KillHard();
    std::string Log() const;

  private:
    std::unique_ptr<QProcess> FProcess;
    std::string FLogFile;
    bool FStarted = false;
};

struct TRunResult {
    // False when the program could not start or did not end in time (it is killed then).
    bool Ended = false;
    int ExitCode = -1;
    std::string Output;
    std::string Errors;
};

// Runs a program to its end with this process's environment, the main
// thread's events running meanwhile.
TRunResult RunToEnd(const std::string& program, const std::vector<std::string>& arguments, int timeoutMs);

// What the check-IP page showed.
struct TCheckIpView {
    std::string IP;
    std::string Country;
    // The page as the browser saw it, or why there is none.
    std::string Page;
    // What the browser wrote to its standard error; a page that did not
    // load is named there ("Page load failed: net::ERR_...").
    std::string Errors;
};

// The text of <span id="name">...</span> in an HTML page; empty when absent.
std::string SpanText(std::string_view page, std::string_view id);

// Opens the page in headless Chromium, which follows the desktop's proxy
// settings of this process's environment, with a fresh profile folder.
TCheckIpView OpenInChromium(const std::string& chromium,
                            const std::string& url,
                            const std::string& profileFolder);

}  // namespace cloakline::test
