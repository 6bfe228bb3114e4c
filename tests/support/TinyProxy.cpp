#include "tests/support/TinyProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "tests/support/LoopbackHttpServer.h"

namespace cloakline::test {

TTinyProxy::TTinyProxy(const TempDir& dir) : FPort(UnusedLoopbackPort()) {
    const std::string config = dir.Path() + "/tinyproxy.conf";
    dir.WriteFile("tinyproxy.conf", "Port " + std::to_string(FPort) +
                                        "\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 20\nLogLevel Error\n");
    FPid = fork();
    if (FPid == 0) {
        execlp("tinyproxy", "tinyproxy", "-d", "-c", config.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
}

TTinyProxy::~TTinyProxy() {
    if (FPid > 0) {
        kill(FPid, SIGTERM);
        waitpid(FPid, nullptr, 0);
    }
}

bool TTinyProxy::Installed() {
    return std::system("command -v tinyproxy >/dev/null 2>&1") == 0;
}

bool TTinyProxy::WaitListening(std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(FPort);
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

}  // namespace cloakline::test
