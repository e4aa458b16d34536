// Client configuration, sent with every "build" call, and the gateway
// environments with their base URLs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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
