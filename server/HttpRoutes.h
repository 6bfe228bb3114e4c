#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "server/AddressLocator.h"
#include "server/ProxyStore.h"
#include "server/core/Answers.h"
#include "server/core/Requests.h"

namespace cloakline::server {

// What the pages and answers need besides the store.
struct TRouteSettings {
    std::string MagicWord;
    TPageAddresses Pages;
    std::string FlagsDir;
};

// One answer, before it goes on the wire. A status of 400 or more is a
// refusal, with its reason for the log.
struct THttpAnswer {
    int Status = 200;
    std::string ContentType;  // empty: no body
    std::string Body;
    std::string Refusal;
};

// The server's pages and answers by request target: no sockets. Every answer
// is built from the store at the time of the request. Any thread.
class THttpRoutes {
  public:
    THttpRoutes(IProxyStore& store, const TAddressLocator& locator, TRouteSettings settings);

    // True for targets whose answer waits for the store or the disk.
    static bool Blocks(std::string_view target);
    // The answer to a GET of target from client; a failing store gives 503.
    THttpAnswer Answer(std::string_view target, const std::string& client);
    // Answers that the store could not give.
    std::uint64_t StoreFailures() const { return FStoreFailures.load(); }

  private:
    THttpAnswer Route(std::string_view path, std::string_view target, const std::string& client);
    THttpAnswer AnswerUpdate(const TQuery& query);

    IProxyStore& FStore;
    const TAddressLocator& FLocator;
    const TRouteSettings FSettings;
    std::atomic<std::uint64_t> FStoreFailures{0};
};

// The path of a request target: what comes before its "?".
std::string_view PathOfTarget(std::string_view target);

}  // namespace cloakline::server
