// Client configuration, sent with every "build" call, the gateway
// environments with their base URLs, and how both are read from the payload.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "record.hpp"

namespace quillon_core::config {

// Declaration order is part of the contract.
enum class Environment : std::uint8_t { development, sandbox, production };

struct Config {
    std::string client_id;
    std::optional<std::string> client_secret;  // kept, never sent or returned
    std::optional<std::string> basic_token;    // kept, never sent or returned
    Environment environment = Environment::sandbox;
    std::optional<std::string> base_url;

    // The base URL (without trailing slashes) joined by one "/" to the path
    // (without leading slashes).
    std::string url(std::string_view path) const;
};

std::string_view base_url_of(Environment env);

}  // namespace quillon_core::config

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
