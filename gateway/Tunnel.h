#pragma once

#include "gateway/Asio.h"
#include "gateway/Watchdog.h"

namespace cloakline::gateway {

// Copies both ways between the two sockets until both sides have finished,
// with one fixed buffer per direction; takes the sockets over.
void StartTunnel(boost::asio::ip::tcp::socket client,
                 boost::asio::ip::tcp::socket upstream,
                 TGuardRegistry& guards);

}  // namespace cloakline::gateway
