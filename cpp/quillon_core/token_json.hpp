// How the access token is read from JSON.
#pragma once

#include <array>
#include <string_view>

#include "record.hpp"
#include "token.hpp"

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
