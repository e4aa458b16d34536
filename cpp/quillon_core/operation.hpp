// The operation framework: the request context, the description of a
// registry entry and the registry interface the protocol dispatches through.
// Each family of operations is one registry.
#pragma once

#include <string_view>
#include <vector>

#include "config.hpp"
#include "error.hpp"
#include "http.hpp"
#include "json_value.hpp"
#include "token.hpp"

namespace quillon_core::operation {

// What a request needs besides its input; borrows from the decoded payload.
struct Ctx {
    const config::Config& config;
    const token::AccessToken* token = nullptr;  // null when the payload has none

    // The five headers of every gateway request, or the validation error for
    // a missing or unusable token.
    error::Result<http::Headers> api_headers() const;
};

// An operation as "describe" lists it.
struct OpInfo {
    std::string_view name;
    bool idempotent = false;  // safe to send again

    // {"idempotent":...,"kind":"operation","name":...}
    json::Value to_value() const;
};

// Runs one stage of one operation on the payload text.
using StageFn = error::Result<json::Value> (*)(std::string_view stage, std::string_view payload);

class Registry {
public:
    virtual ~Registry() = default;
    // Runs the stage after "{operation name}." in `op`; an "ffi" error when
    // no operation name followed by "." starts `op`.
    virtual error::Result<json::Value> dispatch(std::string_view op, std::string_view payload) const = 0;
    virtual std::vector<OpInfo> operations() const = 0;
};

}  // namespace quillon_core::operation
