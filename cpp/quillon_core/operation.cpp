#include "operation.hpp"

namespace quillon_core::operation {

using json::Value;

Result<http::Headers> Ctx::api_headers() const {
    if (token == nullptr) {
        return Error::validation("token", "an access token is required for this operation");
    }
    return http::Headers{
        {"Accept", "application/json"},
        {"Authorization", "Bearer " + token->access_token},
        {"Content-Type", "application/json"},
        {"access_token", token->access_token},
        {"client_id", config.client_id},
    };
}

Value OpInfo::to_value() const {
    Value obj = Value::object();
    obj.set("name", Value::string(std::string(name)));
    if (kind == Kind::handler) {
        obj.set("kind", Value::string("handler"));
        return obj;
    }
    obj.set("kind", Value::string("operation"));
    obj.set("idempotent", Value::boolean(idempotent));
    if (timeout_secs) obj.set("timeout_secs", Value::number(std::uint64_t{*timeout_secs}));
    return obj;
}

}  // namespace quillon_core::operation
