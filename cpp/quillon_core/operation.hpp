// The operation framework: the request context, the description of a
// registry entry and the registry interface the protocol dispatches through.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "config.hpp"
#include "error.hpp"
#include "http.hpp"
#include "json_value.hpp"
#include "token.hpp"

namespace quillon_core::operation {

using error::Error;
using error::Result;

// What a request needs besides its input; borrows from the decoded payload.
struct Ctx {
    const config::Config& config;
    const token::AccessToken* token = nullptr;  // null when the payload has none

    // The five headers of every gateway request, or the validation error for
    // a missing or unusable token.
    Result<http::Headers> api_headers() const;
};

struct OpInfo {
    enum class Kind : std::uint8_t { operation, handler };
    Kind kind = Kind::operation;
    std::string_view name;
    bool idempotent = false;                   // operation only
    std::optional<std::uint32_t> timeout_secs; // operation only

    json::Value to_value() const;
};

// Runs one stage of one operation on the payload text.
using StageFn = Result<json::Value> (*)(std::string_view stage, std::string_view payload);

class Registry {
public:
    virtual ~Registry() = default;
    // Nothing when no operation name followed by "." starts `op`.
    virtual std::optional<Result<json::Value>> dispatch(std::string_view op,
                                                        std::string_view payload) const = 0;
    virtual std::vector<OpInfo> operations() const = 0;
};

}  // namespace quillon_core::operation
