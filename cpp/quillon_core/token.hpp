// The bearer token the caller obtained and passes with a "build" call, and
// how it is read from the payload.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "record.hpp"

namespace quillon_core::token {

struct AccessToken {
    std::string access_token;
    std::string token_type;           // not read
    std::int64_t expires_at = 0;      // not read: the engine has no clock
    std::optional<std::string> scope; // not read
};

}  // namespace quillon_core::token

namespace quillon_core::record {

// The scope may be missing or null in an object, but an array must hold all
// four elements.
template <>
struct Table<token::AccessToken> {
    static constexpr std::string_view name = "AccessToken";
    static constexpr std::array fields = {
        field<&token::AccessToken::access_token>("access_token"),
        field<&token::AccessToken::token_type>("token_type"),
        field<&token::AccessToken::expires_at>("expires_at"),
        field<&token::AccessToken::scope>("scope", Presence::optional),
    };
};

}  // namespace quillon_core::record
