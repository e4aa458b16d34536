// The headers every gateway request carries, and an operation's listing.
#include "operation.hpp"

namespace quillon_core::operation {

using error::Error;
using error::Result;
using json::Value;

namespace {

// A header value holding CR or LF could smuggle further headers (or a body)
// into the request the caller sends; NUL truncates it in many HTTP stacks.
bool unsafe_header_value(std::string_view value) {
    return value.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

constexpr const char* UNSAFE_HEADER_MESSAGE = "must not contain CR, LF or NUL characters";

}  // namespace

Result<http::Headers> Ctx::api_headers() const {
    if (token == nullptr) {
        return Error::validation("token", "an access token is required for this operation");
    }
    if (unsafe_header_value(token->access_token)) {
        return Error::validation("token", UNSAFE_HEADER_MESSAGE);
    }
    if (unsafe_header_value(config.client_id)) {
        return Error::validation("config.client_id", UNSAFE_HEADER_MESSAGE);
    }
    // Everything else is copied as received: no trimming, no emptiness check.
    return http::Headers{
        {"Accept", "application/json"},
        {"Authorization", "Bearer " + token->access_token},
        {"Content-Type", "application/json"},
        {"access_token", token->access_token},
        {"client_id", config.client_id},
    };
}

Value OpInfo::to_value() const {
    return Value::object({{"idempotent", Value::boolean(idempotent)},
                          {"kind", Value::string("operation")},
                          {"name", Value::string(std::string(name))}});
}

}  // namespace quillon_core::operation
