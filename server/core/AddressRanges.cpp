#include "server/core/AddressRanges.h"

#include "server/core/Ipv4.h"
#include "server/core/TextFields.h"

namespace cloakline::server {

namespace {

constexpr std::size_t kMaxNameBytes = 128;

std::vector<std::string_view> SplitFields(std::string_view line, std::size_t count) {
    // The last field takes the rest of the line, so a city may hold commas.
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (fields.size() + 1 < count) {
        const std::size_t comma = line.find(',', start);
        if (comma == std::string_view::npos) {
            break;
        }
        fields.push_back(Trimmed(line.substr(start, comma - start)));
        start = comma + 1;
    }
    fields.push_back(Trimmed(line.substr(start)));
    return fields;
}

}  // namespace

std::optional<TAddressRanges> TAddressRanges::Parse(std::string_view text, TParseError& error) {
    TAddressRanges table;
    std::size_t lineNo = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        line = Trimmed(line);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const auto fail = [&](std::string reason) -> std::optional<TAddressRanges> {
            error = {lineNo, std::move(reason)};
            return std::nullopt;
        };
        const std::vector<std::string_view> f = SplitFields(line, 5);
        if (f.size() != 5) {
            return fail("expected FIRST,LAST,CODE,COUNTRY,CITY");
        }
        const auto first = ParseIpv4(f[0]);
        const auto last = ParseIpv4(f[1]);
        if (!first || !last) {
            return fail("not a dotted IPv4 address");
        }
        if (*first > *last) {
            return fail("the first address lies after the last");
        }
        TAddressRange range{*first, *last, {CountryCodeOf(f[2]), std::string(f[3]), std::string(f[4])}};
        if (range.Place.Code.empty()) {
            return fail("the country code is not two letters");
        }
        if (!IsSafeField(range.Place.Country, kMaxNameBytes)) {
            return fail("the country name is empty or holds a character that cannot be sent");
        }
        if (!range.Place.City.empty() && !IsSafeField(range.Place.City, kMaxNameBytes)) {
            return fail("the city holds a character that cannot be sent");
        }
        table.FRanges.push_back(std::move(range));
        if (end == text.size()) {
            break;
        }
    }
    return table;
}

std::optional<TAddressPlace> TAddressRanges::Find(std::uint32_t address) const {
    for (const TAddressRange& range : FRanges) {
        if (address >= range.First && address <= range.Last) {
            return range.Place;
        }
    }
    return std::nullopt;
}

}  // namespace cloakline::server
