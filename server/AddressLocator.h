#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "server/core/AddressRanges.h"

namespace cloakline::server {

// Debian's GeoIP country database, read into memory once; lookups from any
// thread.
class TGeoIpCountries {
  public:
    // nullptr when the file cannot be read.
    static std::unique_ptr<TGeoIpCountries> Open(const std::string& path);
    ~TGeoIpCountries();
    TGeoIpCountries(const TGeoIpCountries&) = delete;
    TGeoIpCountries& operator=(const TGeoIpCountries&) = delete;

    // The country of an IPv4 address (no city: the database has none).
    std::optional<TAddressPlace> Find(std::uint32_t address) const;

  private:
    explicit TGeoIpCountries(void* handle) : FHandle(handle) {}
    void* FHandle;
};

// The range table first, then the database.
class TAddressLocator {
  public:
    TAddressLocator(TAddressRanges ranges, std::unique_ptr<TGeoIpCountries> countries);
    ~TAddressLocator();

    // Nothing for an address that is no IPv4 text or that neither source knows.
    std::optional<TAddressPlace> Find(std::string_view address) const;

  private:
    TAddressRanges FRanges;
    std::unique_ptr<TGeoIpCountries> FCountries;
};

}  // namespace cloakline::server
