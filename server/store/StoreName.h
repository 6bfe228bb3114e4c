#pragma once

#include <string>

namespace cloakline::server {

// The --db value as logs and errors may show it: credentials in the URL
// (user:password@, password=...) written "***".
std::string ShownStoreName(const std::string& db);

}  // namespace cloakline::server
