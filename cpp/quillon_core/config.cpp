// The base URL of each environment, and URLs joined from it.
#include "config.hpp"

namespace quillon_core::config {

namespace {

// The gateway's base URLs, one per environment; no trailing slash.
constexpr std::string_view DEVELOPMENT_BASE_URL = "https://api-test.quillon-gateway.example/desarrollo";
constexpr std::string_view SANDBOX_BASE_URL = "https://api-test.quillon-gateway.example/sandbox";
constexpr std::string_view PRODUCTION_BASE_URL = "https://api.quillon-gateway.example";

}  // namespace

std::string_view base_url_of(Environment env) {
    switch (env) {
        case Environment::development: return DEVELOPMENT_BASE_URL;
        case Environment::sandbox: return SANDBOX_BASE_URL;
        case Environment::production: return PRODUCTION_BASE_URL;
    }
    return SANDBOX_BASE_URL;
}

std::string Config::url(std::string_view path) const {
    // An explicit base URL wins even when it is empty.
    std::string_view base = base_url ? std::string_view(*base_url) : base_url_of(environment);
    while (!base.empty() && base.back() == '/') base.remove_suffix(1);
    while (!path.empty() && path.front() == '/') path.remove_prefix(1);
    std::string out;
    out.reserve(base.size() + 1 + path.size());
    out.append(base);
    out.push_back('/');
    out.append(path);
    return out;
}

}  // namespace quillon_core::config
