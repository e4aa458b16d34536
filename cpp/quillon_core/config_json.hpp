// How the client configuration and the environment are read from JSON.
#pragma once

#include <array>
#include <string_view>

#include "config.hpp"
#include "record.hpp"

namespace quillon_core::record {

template <>
struct Words<config::Environment> {
    static constexpr std::array<std::string_view, 3> words = {"development", "sandbox", "production"};
    static config::Environment from_index(std::size_t i) { return static_cast<config::Environment>(i); }
};

// Every field but the client id may be left out, from an object or from the
// end of an array; the optional texts also accept null.
template <>
struct Table<config::Config> {
    static constexpr std::string_view name = "Config";
    static constexpr std::array fields = {
        field<&config::Config::client_id>("client_id"),
        field<&config::Config::client_secret>("client_secret", Presence::defaulted),
        field<&config::Config::basic_token>("basic_token", Presence::defaulted),
        field<&config::Config::environment>("environment", Presence::defaulted),
        field<&config::Config::base_url>("base_url", Presence::defaulted),
    };
};

}  // namespace quillon_core::record
