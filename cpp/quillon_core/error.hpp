// The one failure type and the one way it travels: every function that can
// fail returns a `Result<T>` (`Result<void>` for a check), holding either
// its value or the `Error` that stopped it; nothing is thrown for it, and a
// Result cannot be dropped unread ([[nodiscard]]). The one exception is the
// JSON reader (json_reader.hpp), together with the payload records decoded
// through it (record.hpp): its messages need its position, so it keeps its
// first failure in itself and answers bool; `ffi::parse`, `json::Doc::parse`
// and `CodeData::open_list` turn that into a Result.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "json_value.hpp"

namespace quillon_core::error {

struct ApiFieldError {
    std::optional<std::string> field;
    std::string message;
    std::optional<std::string> code;
};

// Declaration order is part of the contract.
enum class ErrorKind : std::uint8_t {
    validation,
    authentication,
    api,
    ambiguous,
    decode,
    webhook_auth,
    ffi,
};

// A tagged union: each kind uses only its own fields (see `to_value`). The
// engine itself raises no `ambiguous` or `webhook_auth` error; the kinds are
// part of the shared vocabulary.
struct Error {
    ErrorKind kind = ErrorKind::ffi;
    std::string field;                  // Validation
    std::uint16_t status = 0;           // Authentication, Api
    std::string message;                // every kind
    std::vector<ApiFieldError> errors;  // Api, Ambiguous
    bool retryable = false;             // Api

    static Error validation(std::string field, std::string message);
    static Error authentication(std::uint16_t status, std::string message);
    static Error api(std::uint16_t status, std::string message, std::vector<ApiFieldError> errors,
                     bool retryable);
    static Error decode(std::string message);
    static Error ffi(std::string message);

    // True only for an Api error whose flag is set.
    bool is_retryable() const { return kind == ErrorKind::api && retryable; }

    // The kind's members plus "kind"; the protocol adds "retryable".
    json::Value to_value() const;
};

// A result or the error that stopped it.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    Error& error() & { return std::get<1>(v_); }
    const Error& error() const& { return std::get<1>(v_); }
    Error&& error() && { return std::get<1>(std::move(v_)); }

private:
    std::variant<T, Error> v_;
};

// The outcome of a check: nothing on success, else the error.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const { return !error_; }
    explicit operator bool() const { return ok(); }

    Error& error() & { return *error_; }
    const Error& error() const& { return *error_; }
    Error&& error() && { return std::move(*error_); }

private:
    std::optional<Error> error_;
};

}  // namespace quillon_core::error
