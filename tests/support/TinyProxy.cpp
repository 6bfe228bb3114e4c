#include "tests/support/TinyProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "tests/support/LoopbackHttpServer.h"

namespace cloakline::test {

bool WaitLoopbackPort(std::uint16_t port, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool up = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        if (up) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TLoopbackProxyProcess::TLoopbackProxyProcess() : FPort(UnusedLoopbackPort()) {}

TLoopbackProxyProcess::~TLoopbackProxyProcess() {
    if (FPid > 0) {
        kill(FPid, SIGTERM);
        waitpid(FPid, nullptr, 0);
    }
}

void TLoopbackProxyProcess::Spawn(const char* program, const char* const* arguments) {
    FPid = fork();
    if (FPid == 0) {
        execvp(program, const_cast<char* const*>(arguments));
        _exit(127);
    }
}

void TLoopbackProxyProcess::Kill() {
    if (FPid > 0) {
        kill(FPid, SIGKILL);
        waitpid(FPid, nullptr, 0);
        FPid = -1;
    }
}

TTinyProxy::TTinyProxy(const TempDir& dir, std::optional<TProxyLogin> login) {
    const std::string config = dir.Path() + "/tinyproxy-" + std::to_string(FPort) + ".conf";
    std::string text =
        "Port " + std::to_string(FPort) + "\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 20\nLogLevel Error\n";
    if (login) {
        text += "BasicAuth " + login->User + " " + login->Password + "\n";
    }
    dir.WriteFile("tinyproxy-" + std::to_string(FPort) + ".conf", text);
    const char* const arguments[] = {"tinyproxy", "-d", "-c", config.c_str(), nullptr};
    Spawn("tinyproxy", arguments);
}

bool TTinyProxy::Installed() {
    return std::system("command -v tinyproxy >/dev/null 2>&1") == 0;
}

TMicroSocks::TMicroSocks(std::optional<TProxyLogin> login) {
    const std::string port = std::to_string(FPort);
    std::vector<const char*> arguments = {"microsocks", "-i", "127.0.0.1", "-p", port.c_str()};
    if (login) {
        arguments.insert(arguments.end(), {"-u", login->User.c_str(), "-P", login->Password.c_str()});
    }
    arguments.push_back(nullptr);
    Spawn("microsocks", arguments.data());
}

bool TMicroSocks::Installed() {
    return std::system("command -v microsocks >/dev/null 2>&1") == 0;
}

}  // namespace cloakline::test
