// cloakline-server: the product's server on one machine.
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "server/ServerApp.h"

int main(int argc, char** argv) {
    using namespace cloakline::server;
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    auto options = ParseServerOptions(args, error);
    if (!options) {
        std::fprintf(stderr, "cloakline-server: %s\n", error.c_str());
        return 2;
    }
    // The signals wait for the main thread alone; every thread started below inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // Every open connection is a descriptor; the soft limit (often 1024) would
    // cap the clients long before memory does.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }

    TServerApp app(std::move(*options));
    if (!app.Start(error)) {
        std::fprintf(stderr, "cloakline-server: %s\n", error.c_str());
        return 1;
    }
    std::printf("cloakline-server listening on %s\n", app.ListenUrl().c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    app.Stop();
    return 0;
}
