#pragma once

#include <chrono>
#include <string>

#include "core/proxy/ProxyAddress.h"
#include "core/proxy/UpstreamGateway.h"
#include "gateway/Asio.h"
#include "gateway/Watchdog.h"

namespace cloakline::gateway {

// GETs checkUrl (http:// only) through upstream and reads the check page;
// the whole exchange within timeout.
boost::asio::awaitable<TCheckAnswer> CheckThrough(TProxyAddress upstream,
                                                  std::string checkUrl,
                                                  std::chrono::milliseconds timeout,
                                                  TGuardRegistry& guards);

}  // namespace cloakline::gateway
