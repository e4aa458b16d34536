#include "ffi.hpp"

#include "json_writer.hpp"

namespace quillon_core::ffi {

using json::Value;

namespace {

Result<Value> outcome(const operation::Registry& registry, std::string_view op, std::string_view payload) {
    if (op == "describe") {
        Value list = Value::array();
        for (const auto& info : registry.operations()) list.push(info.to_value());
        return list;
    }
    if (op == "version") {
        Value version = Value::object();
        version.set("core", Value::string(std::string(CORE_VERSION)));
        version.set("protocol", Value::number(std::int64_t{PROTOCOL_VERSION}));
        return version;
    }
    if (auto result = registry.dispatch(op, payload)) return std::move(*result);
    return Error::ffi("unknown operation `" + std::string(op) + "`");
}

// The envelope of a value, written around it.
std::string ok_text(Value&& value) {
    if (value.is_raw()) {
        // A result written as text already: the envelope goes around it in
        // place, without a second copy of a text that may be large.
        static constexpr std::string_view head = "{\"ok\":true,\"value\":";
        std::string text = std::move(value.text());
        value = Value();
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
    // Written once, by the path every value takes; no registry is consulted.
    struct NoOperations final : operation::Registry {
        std::optional<Result<Value>> dispatch(std::string_view, std::string_view) const override {
            return std::nullopt;
        }
        std::vector<operation::OpInfo> operations() const override { return {}; }
    };
    static const std::string text = ok_text(std::move(outcome(NoOperations(), "version", "")).value());
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
