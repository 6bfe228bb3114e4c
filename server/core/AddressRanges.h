#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cloakline::server {

// Where an address lies, as the local-information answer tells it.
struct TAddressPlace {
    std::string Code;     // two upper-case letters
    std::string Country;  // display name
    std::string City;     // may be empty
    friend bool operator==(const TAddressPlace&, const TAddressPlace&) = default;
};

struct TAddressRange {
    std::uint32_t First = 0;
    std::uint32_t Last = 0;
    TAddressPlace Place;
};

// A table of inclusive IPv4 ranges that is asked before the country database,
// for private and test networks. Text lines "FIRST,LAST,CODE,COUNTRY,CITY",
// "#" comments and blank lines; the first matching line wins.
class TAddressRanges {
  public:
    struct TParseError {
        std::size_t Line = 0;  // 1-based
        std::string Reason;
    };

    // The whole table, or the first line that is wrong: a table that says
    // something else than meant must not half apply.
    static std::optional<TAddressRanges> Parse(std::string_view text, TParseError& error);

    std::optional<TAddressPlace> Find(std::uint32_t address) const;
    std::size_t Size() const { return FRanges.size(); }

  private:
    std::vector<TAddressRange> FRanges;
};

}  // namespace cloakline::server
