#include "server/AddressLocator.h"

#include <GeoIP.h>

#include "server/core/Ipv4.h"

namespace cloakline::server {

std::unique_ptr<TGeoIpCountries> TGeoIpCountries::Open(const std::string& path) {
    GeoIP* gi = GeoIP_open(path.c_str(), GEOIP_MEMORY_CACHE | GEOIP_SILENCE);
    if (!gi) {
        return nullptr;
    }
    GeoIP_set_charset(gi, GEOIP_CHARSET_UTF8);
    return std::unique_ptr<TGeoIpCountries>(new TGeoIpCountries(gi));
}

TGeoIpCountries::~TGeoIpCountries() {
    GeoIP_delete(static_cast<GeoIP*>(FHandle));
}

std::optional<TAddressPlace> TGeoIpCountries::Find(std::uint32_t address) const {
    auto* gi = static_cast<GeoIP*>(FHandle);
    // The lookup record keeps the call free of shared state, so threads may share gi.
    GeoIPLookup lookup{};
    const int id = GeoIP_id_by_ipnum_gl(gi, address, &lookup);
    if (id <= 0 || static_cast<unsigned>(id) >= GeoIP_num_countries()) {
        return std::nullopt;
    }
    const char* code = GeoIP_code_by_id(id);
    const char* name = GeoIP_utf8_country_name[id];
    // "--", "A1", "A2", "AP", "EU" are no countries of their own.
    if (!code || !name || code[0] == '-' || std::string_view(code) == "A1" ||
        std::string_view(code) == "A2") {
        return std::nullopt;
    }
    return TAddressPlace{code, name, ""};
}

TAddressLocator::TAddressLocator(TAddressRanges ranges, std::unique_ptr<TGeoIpCountries> countries)
    : FRanges(std::move(ranges)), FCountries(std::move(countries)) {}

TAddressLocator::~TAddressLocator() = default;

std::optional<TAddressPlace> TAddressLocator::Find(std::string_view address) const {
    // A v4 peer on a dual-stack socket reads "::ffff:a.b.c.d".
    if (address.rfind("::ffff:", 0) == 0) {
        address.remove_prefix(7);
    }
    const auto ip = ParseIpv4(address);
    if (!ip) {
        return std::nullopt;
    }
    if (auto place = FRanges.Find(*ip)) {
        return place;
    }
    return FCountries ? FCountries->Find(*ip) : std::nullopt;
}

}  // namespace cloakline::server
