#include "config.hpp"

namespace quillon_core::config {

std::string_view environment_word(Environment env) {
    switch (env) {
        case Environment::development: return "development";
        case Environment::sandbox: return "sandbox";
        case Environment::production: return "production";
    }
    return "sandbox";
}

std::string_view base_url_of(Environment) { return ""; }

std::string Config::url(std::string_view path) const { return std::string(path); }

}  // namespace quillon_core::config
