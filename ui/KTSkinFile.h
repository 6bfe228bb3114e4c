#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/support/StringList.h"

namespace cloakline {

// A skin: a Qt style sheet and the resource strings that go with it
// (name=text lines, such as "MSG_CAP_SHOWFLAG").
struct TSkinBundle {
    std::string StyleSheet;
    TStringList ResourceStrings;

    friend bool operator==(const TSkinBundle&, const TSkinBundle&) = default;
};

// Inflated skins above this size are refused.
inline constexpr std::size_t kMaxSkinPayload = 16u << 20;

// The bytes of a ".skn" file. Resource strings must not hold line breaks.
std::string EncodeSkinBundle(const TSkinBundle& bundle);
// nullopt, with the reason in error, for anything that is not a complete,
// intact skin file.
std::optional<TSkinBundle> DecodeSkinBundle(std::string_view bytes, std::string* error = nullptr);

}  // namespace cloakline
