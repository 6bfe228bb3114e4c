#include "tests/e2e/LoopbackStack.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <filesystem>

namespace cloakline::test {

namespace {

QStringList ToQt(const std::vector<std::string>& texts) {
    QStringList list;
    for (const std::string& text : texts) {
        list.append(QString::fromStdString(text));
    }
    return list;
}

}  // namespace

int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return 0;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

std::string LoopbackHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0' ||
        std::string_view(name) == "localhost") {
        return {};
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) {
        return {};
    }
    const auto* first = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    const bool loopback = first->sin_addr.s_addr == htonl(INADDR_LOOPBACK);
    ::freeaddrinfo(found);
    return loopback ? std::string(name) : std::string();
}

std::string FindOnPath(std::string_view program) {
    const char* path = std::getenv("PATH");
    std::string_view rest = path != nullptr ? path : "/usr/bin:/bin";
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        if (folder.empty() || folder.front() != '/') {
            continue;
        }
        const std::string candidate = std::string(folder) + "/" + std::string(program);
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        ::usleep(5000);
    }
    return done();
}

void PumpFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        ::usleep(5000);
    }
}

TChildProcess::TChildProcess(const std::string& program,
                             const std::vector<std::string>& arguments,
                             std::string logFile)
    : FProcess(std::make_unique<QProcess>()), FLogFile(std::move(logFile)) {
    FProcess->setProcessChannelMode(QProcess::MergedChannels);
    FProcess->setStandardInputFile(QProcess::nullDevice());
    FProcess->setStandardOutputFile(QString::fromStdString(FLogFile));
    FProcess->start(QString::fromStdString(program), ToQt(arguments));
    FStarted = FProcess->waitForStarted(10000);
}

TChildProcess::~TChildProcess() {
    if (FProcess->state() == QProcess::NotRunning) {
        return;
    }
    FProcess->terminate();
    // A server may take several seconds to close its connections.
    if (!FProcess->waitForFinished(15000)) {
        FProcess->kill();
        FProcess->waitForFinished(5000);
    }
}

bool TChildProcess::Running() const {
    // A child that ended is only noticed once its state is looked at.
    FProcess->waitForFinished(0);
    return FProcess->state() == QProcess::Running;
}

bool TChildProcess::KillHard() {
    const qint64 pid = FProcess->processId();
    if (pid <= 0 || ::kill(static_cast<pid_t>(pid), SIGKILL) != 0) {
        return false;
    }
    return FProcess->waitForFinished(10000) && FProcess->exitStatus() == QProcess::CrashExit;
}

std::string TChildProcess::Log() const {
    QFile file(QString::fromStdString(FLogFile));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll().toStdString();
}

TRunResult RunToEnd(const std::string& program, const std::vector<std::string>& arguments, int timeoutMs) {
    TRunResult result;
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QString::fromStdString(program), ToQt(arguments));
    if (!process.waitForStarted(10000)) {
        result.Errors = "cannot start " + program;
        return result;
    }
    QByteArray output;
    QByteArray errors;
    QElapsedTimer timer;
    timer.start();
    while (process.state() != QProcess::NotRunning && timer.elapsed() < timeoutMs) {
        process.waitForFinished(20);
        output += process.readAllStandardOutput();
        errors += process.readAllStandardError();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
        result.Errors = program + " did not end within " + std::to_string(timeoutMs) + " ms";
        return result;
    }
    output += process.readAllStandardOutput();
    errors += process.readAllStandardError();
    result.Ended = process.exitStatus() == QProcess::NormalExit;
    result.ExitCode = process.exitCode();
    result.Output = output.toStdString();
    result.Errors = errors.toStdString();
    return result;
}

std::string SpanText(std::string_view page, std::string_view id) {
    const std::string open = "<span id=\"" + std::string(id) + "\">";
    const std::size_t start = page.find(open);
    if (start == std::string_view::npos) {
        return {};
    }
    const std::size_t from = start + open.size();
    const std::size_t end = page.find("</span>", from);
    return end == std::string_view::npos ? std::string() : std::string(page.substr(from, end - from));
}

TCheckIpView OpenInChromium(const std::string& chromium,
                            const std::string& url,
                            const std::string& profileFolder) {
    std::filesystem::remove_all(profileFolder);
    const TRunResult run =
        RunToEnd(chromium,
                 {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                  "--user-data-dir=" + profileFolder, "--dump-dom", url},
                 60000);
    TCheckIpView view;
    view.Errors = run.Errors;
    if (!run.Ended || run.ExitCode != 0) {
        view.Page = "chromium failed (exit " + std::to_string(run.ExitCode) + "): " + run.Errors;
        return view;
    }
    view.Page = run.Output;
    view.IP = SpanText(run.Output, "ip");
    view.Country = SpanText(run.Output, "country");
    return view;
}

}  // namespace cloakline::test
