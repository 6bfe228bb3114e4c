#pragma once

#include <functional>
#include <string>

namespace cloakline {

// Receives the body of a small server answer, on the main thread.
using TOnInfoGot = std::function<void(const std::string& aRet)>;

// Sends one plain GET that never goes through a proxy, off the main thread.
// onInfoGot runs on the main thread, only for a successful transfer with a
// non-empty body; a failed transfer ends silently.
class IInfoFetcher {
  public:
    virtual ~IInfoFetcher() = default;
    virtual void Fetch(const std::string& url, TOnInfoGot onInfoGot) = 0;
};

}  // namespace cloakline
