// Fuzzes the protocol entry as Python reaches it: the first byte picks `op`
// (a stage of an operation of the table, a pseudo-operation or a malformed
// name), the rest of the input is the payload. Every answer is checked for
// the properties in checks.hpp.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "checks.hpp"
#include "quillon_core/json_value.hpp"
#include "quillon_core/json_writer.hpp"

namespace {

using quillon_core::json::Value;

// Names that select no stage of any operation, or a stage that does not exist.
constexpr std::string_view MALFORMED[] = {
    "accounts.get",        "accounts.get.",      "accounts.get.fetch", "accounts.get.build.extra",
    "ACCOUNTS.GET.BUILD",  "accounts.getx.build", "",                  "x",
    "accounts",            ".build",             "accounts.get.Build", "accounts.list.parse ",
};
constexpr std::size_t STAGES = fuzz::OPERATION_COUNT * 2;
constexpr std::size_t MALFORMED_COUNT = sizeof MALFORMED / sizeof MALFORMED[0];
// stages, "describe", "version", the malformed names, then a free-form name
constexpr std::size_t CHOICES = STAGES + 2 + MALFORMED_COUNT + 1;

bool names_an_operation(std::string_view op) {
    for (std::string_view name : fuzz::OPERATIONS) {
        if (op.size() > name.size() && op.starts_with(name) && op[name.size()] == '.') return true;
    }
    return false;
}

std::string unknown_operation(std::string_view op) {
    Value error = Value::object();
    error.set("kind", Value::string("ffi"));
    error.set("message", Value::string("unknown operation `" + std::string(op) + "`"));
    error.set("retryable", Value::boolean(false));
    Value envelope = Value::object();
    envelope.set("error", std::move(error));
    envelope.set("ok", Value::boolean(false));
    return quillon_core::json::to_text(envelope);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t pick = data[0] % CHOICES;
    std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);

    std::string op;
    if (pick < STAGES) {
        op = std::string(fuzz::OPERATIONS[pick / 2]) + (pick % 2 == 0 ? ".build" : ".parse");
    } else if (pick == STAGES) {
        op = "describe";
    } else if (pick == STAGES + 1) {
        op = "version";
    } else if (pick < CHOICES - 1) {
        op = MALFORMED[pick - STAGES - 2];
    } else {
        const std::size_t end = rest.find('\n');
        op = fuzz::as_utf8(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    const std::string_view payload = rest;

    const std::string text = fuzz::answer(op, payload);
    const std::string kind = fuzz::check_envelope(op, text);

    if (op == "version") {
        if (text != R"({"ok":true,"value":{"core":"0.1.0","protocol":2}})") {
            fuzz::broken("the version answer depends on the payload", op, text);
        }
        return 0;
    }
    if (op == "describe") {
        if (kind != "" || text != fuzz::answer("describe", "")) {
            fuzz::broken("the operation list depends on the payload", op, text);
        }
        return 0;
    }
    if (!names_an_operation(op)) {
        if (text != unknown_operation(op)) fuzz::broken("an unknown operation answered otherwise", op, text);
        return 0;
    }
    const bool build = op.ends_with(".build");
    if (!build && !op.ends_with(".parse")) {
        if (kind != "ffi") fuzz::broken("an unknown stage was run", op, text);
        return 0;
    }
    if (kind.empty()) {
        if (build) {
            fuzz::check_request(op, text);
        } else {
            fuzz::check_amounts(op, text);
        }
    }
    fuzz::check_stable(op, payload, text);
    return 0;
}
