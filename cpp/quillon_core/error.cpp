// The error constructors and the JSON form of an error.
#include "error.hpp"

namespace quillon_core::error {

using json::Value;

// Every member given, in declaration order: kind, field, status, message,
// errors, retryable.
Error Error::validation(std::string field, std::string message) {
    return {ErrorKind::validation, std::move(field), 0, std::move(message), {}, false};
}

Error Error::authentication(std::uint16_t status, std::string message) {
    return {ErrorKind::authentication, {}, status, std::move(message), {}, false};
}

Error Error::api(std::uint16_t status, std::string message, std::vector<ApiFieldError> errors, bool retryable) {
    return {ErrorKind::api, {}, status, std::move(message), std::move(errors), retryable};
}

Error Error::decode(std::string message) { return {ErrorKind::decode, {}, 0, std::move(message), {}, false}; }

Error Error::ffi(std::string message) { return {ErrorKind::ffi, {}, 0, std::move(message), {}, false}; }

namespace {
Value optional_text(const std::optional<std::string>& text) {
    return text ? Value::string(*text) : Value::null();
}

Value errors_value(const std::vector<ApiFieldError>& errors) {
    std::vector<Value> list;
    list.reserve(errors.size());
    for (const auto& fe : errors) {
        Value item = Value::object();
        item.set("code", optional_text(fe.code));
        item.set("field", optional_text(fe.field));
        item.set("message", Value::string(fe.message));
        list.push_back(std::move(item));
    }
    return Value::array(std::move(list));
}

const char* kind_word(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::validation: return "validation";
        case ErrorKind::authentication: return "authentication";
        case ErrorKind::api: return "api";
        case ErrorKind::ambiguous: return "ambiguous";
        case ErrorKind::decode: return "decode";
        case ErrorKind::webhook_auth: return "webhook_auth";
        case ErrorKind::ffi: return "ffi";
    }
    return "ffi";
}

}  // namespace

Value Error::to_value() const {
    Value obj = Value::object();
    obj.set("kind", Value::string(kind_word(kind)));
    obj.set("message", Value::string(message));
    switch (kind) {
        case ErrorKind::validation: obj.set("field", Value::string(field)); break;
        case ErrorKind::authentication: obj.set("status", Value::number(std::uint64_t{status})); break;
        case ErrorKind::api:
            obj.set("status", Value::number(std::uint64_t{status}));
            obj.set("errors", errors_value(errors));
            obj.set("retryable", Value::boolean(retryable));
            break;
        case ErrorKind::ambiguous: obj.set("errors", errors_value(errors)); break;
        case ErrorKind::decode:
        case ErrorKind::webhook_auth:
        case ErrorKind::ffi: break;
    }
    return obj;
}

}  // namespace quillon_core::error
