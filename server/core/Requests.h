#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cloakline::server {

// The parameters of a request target, decoded ("+" is a space, "%XX" a byte).
class TQuery {
  public:
    // nullopt when a "%" is not followed by two hexadecimal digits, or a
    // decoded name or value holds a NUL, CR or LF.
    static std::optional<TQuery> Parse(std::string_view target);

    // The first parameter of that name (ASCII case ignored); nullopt when absent.
    std::optional<std::string> Get(std::string_view name) const;
    std::size_t Size() const { return FParams.size(); }

  private:
    std::vector<std::pair<std::string, std::string>> FParams;
};

// "%XX" and "+" decoded; nullopt for a broken escape.
std::optional<std::string> PercentDecode(std::string_view text);

// The check of an update request: the page asked for is "Update", and the
// product and its version (eight hexadecimal digits) are there.
struct TUpdateRequest {
    std::uint32_t ClientVersion = 0;
    std::string Product;
};
std::optional<TUpdateRequest> ReadUpdateRequest(const TQuery& query, std::string& reason);

// The country code of a flag picture's file name "xx.png" (any letter case),
// upper-cased; empty for any other name.
std::string FlagCodeOfFileName(std::string_view fileName);

// What a touch names: a proxy address host:port, or a host alone (the program
// sends the address of the proxy without its port).
struct TTouchTarget {
    std::string Host;
    std::optional<std::uint16_t> Port;
};
std::optional<TTouchTarget> ReadTouchTarget(std::string_view text);

}  // namespace cloakline::server
