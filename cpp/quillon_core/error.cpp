// The error constructors and the JSON form of an error.
#include "error.hpp"

namespace quillon_core::error {

using json::Value;

Error Error::validation(std::string field, std::string message) {
    Error e;
    e.kind = ErrorKind::validation;
    e.field = std::move(field);
    e.message = std::move(message);
    return e;
}

Error Error::authentication(std::uint16_t status, std::string message) {
    Error e;
    e.kind = ErrorKind::authentication;
    e.status = status;
    e.message = std::move(message);
    return e;
}

Error Error::api(std::uint16_t status, std::string message, std::vector<ApiFieldError> errors,
                 bool retryable) {
    Error e;
    e.kind = ErrorKind::api;
    e.status = status;
    e.message = std::move(message);
    e.errors = std::move(errors);
    e.retryable = retryable;
    return e;
}

Error Error::ambiguous(std::string message, std::vector<ApiFieldError> errors) {
    Error e;
    e.kind = ErrorKind::ambiguous;
    e.message = std::move(message);
    e.errors = std::move(errors);
    return e;
}

namespace {
Error with_message(ErrorKind kind, std::string message) {
    Error e;
    e.kind = kind;
    e.message = std::move(message);
    return e;
}

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
}  // namespace

Error Error::decode(std::string message) { return with_message(ErrorKind::decode, std::move(message)); }
Error Error::webhook_auth(std::string message) {
    return with_message(ErrorKind::webhook_auth, std::move(message));
}
Error Error::ffi(std::string message) { return with_message(ErrorKind::ffi, std::move(message)); }

namespace {

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
