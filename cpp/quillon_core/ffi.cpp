// The call protocol's answers: the listing, the dispatch, and the envelope
// written around every result or error.
#include "ffi.hpp"

#include "json_writer.hpp"

namespace quillon_core::ffi {

using error::Error;
using error::Result;
using json::Value;

namespace {

Result<Value> outcome(const operation::Registry& registry, std::string_view op, std::string_view payload) {
    if (op == "describe") {
        Value list = Value::array();
        for (const auto& info : registry.operations()) list.push(info.to_value());
        return list;
    }
    return registry.dispatch(op, payload);
}

// The envelope of a value, written around it.
std::string ok_text(Value&& value) {
    if (value.is_raw()) {
        // A result written as text already: the envelope goes around it in
        // place, without a second copy of a text that may be large.
        static constexpr std::string_view head = "{\"ok\":true,\"value\":";
        std::string text = std::move(value).take_text();
        text.reserve(text.size() + head.size() + 1);
        text.insert(0, head);
        text.push_back('}');
        return text;
    }
    std::string text;
    text.reserve(256);
    text.append("{\"ok\":true,\"value\":");
    json::write(value, text);
    text.push_back('}');
    return text;
}

}  // namespace

std::string_view version_answer() {
    static const std::string text = "{\"ok\":true,\"value\":{\"core\":\"" + std::string(CORE_VERSION) +
                                    "\",\"protocol\":" + std::to_string(PROTOCOL_VERSION) + "}}";
    return text;
}

std::string call(const operation::Registry& registry, std::string_view op, std::string_view payload) {
    if (op == "version") return std::string(version_answer());
    std::optional<Result<Value>> result;
    try {
        result.emplace(outcome(registry, op, payload));
    } catch (...) {
        // Whatever went wrong is dropped; only the operation is named.
        result.reset();
        result.emplace(Error::ffi("core panicked while handling `" + std::string(op) + "`"));
    }
    if (result->ok()) return ok_text(std::move(*result).value());

    const Error& error = result->error();
    Value object = error.to_value();
    object.set("retryable", Value::boolean(error.is_retryable()));
    std::string text = "{\"error\":";
    json::write(object, text);
    text.append(",\"ok\":false}");
    return text;
}

}  // namespace quillon_core::ffi
