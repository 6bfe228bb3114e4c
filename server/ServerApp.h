#pragma once

#include <memory>
#include <string>
#include <thread>

#include "server/AddressLocator.h"
#include "server/HealthChecker.h"
#include "server/HttpService.h"
#include "server/ServerLog.h"
#include "server/core/CommandLine.h"
#include "server/store/StoreDecorators.h"

namespace cloakline::server {

// The whole server wired from its options: log, store, address lookup, HTTP
// service on a thread of its own, health checker.
class TServerApp {
  public:
    explicit TServerApp(TServerOptions options);
    ~TServerApp();
    TServerApp(const TServerApp&) = delete;
    TServerApp& operator=(const TServerApp&) = delete;

    // Opens everything and starts serving; false with the reason in error.
    bool Start(std::string& error);
    void Stop();

    int Port() const { return FPort; }
    // "http://ADDR:PORT" of the listening socket.
    std::string ListenUrl() const;
    // As requests see it: reads cached, touches queued.
    IProxyStore& Store() { return *FTouches; }
    TTouchBatchingStore& Touches() { return *FTouches; }
    THealthChecker& Health() { return *FHealth; }

  private:
    TServerOptions FOptions;
    int FPort = -1;
    std::unique_ptr<TServerLog> FLog;
    std::unique_ptr<IProxyStore> FStore;
    std::unique_ptr<TCachedReadsStore> FCachedReads;
    std::unique_ptr<TTouchBatchingStore> FTouches;
    std::unique_ptr<TAddressLocator> FLocator;
    std::unique_ptr<THttpService> FHttp;
    std::unique_ptr<THealthChecker> FHealth;
    std::thread FServing;
};

// The folder of flag pictures when no --flags-dir is given.
std::string DefaultFlagsDir();

}  // namespace cloakline::server
