#pragma once

#include <memory>
#include <string>
#include <vector>

#include "server/ProxyStore.h"

namespace cloakline::server {

// The store that --db names: PostgreSQL for a postgresql:// URL (its schema
// must be migrated already), an SQLite file for a path (created or brought
// up to date on opening). Throws TStoreError.
std::unique_ptr<IProxyStore> OpenProxyStore(const std::string& db);

// Brings the store's schema up to date; what was done, one line each.
std::vector<std::string> MigrateProxyStore(const std::string& db);

}  // namespace cloakline::server
