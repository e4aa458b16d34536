// The bearer token the caller obtained and passes with a "build" call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quillon_core::token {

struct AccessToken {
    std::string access_token;
    std::string token_type;           // not read
    std::int64_t expires_at = 0;      // not read: the engine has no clock
    std::optional<std::string> scope; // not read
};

}  // namespace quillon_core::token
