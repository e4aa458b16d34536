// Fuzzes the parse stage on what the gateway sends: the input becomes the
// body of a well-formed "parse" payload (first byte: the operation; second:
// the HTTP status, from a table of telling ones or, with its top bit set,
// 15 bits of it and the next byte). The envelope, the value tree, the wire
// records and the amounts all see the bytes directly.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "checks.hpp"
#include "quillon_core/json_doc.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = fuzz::parse_input(data, size);
    if (!input) return 0;
    const std::size_t op_index = input->op_index;
    const std::uint16_t status = input->status;
    const std::string& body = input->body;
    const std::string op = std::string(fuzz::OPERATIONS[op_index]) + ".parse";

    const std::string text = fuzz::answer(op, fuzz::parse_payload(op_index, status, body));
    const std::string kind = fuzz::check_envelope(op, text);
    const bool success = status >= 200 && status <= 299;
    const bool refused = status == 401 || status == 403;
    const bool body_is_json = quillon_core::json::Doc::parse(body).ok();

    if (kind == "ffi") fuzz::broken("a well-formed payload was refused", op, text);
    if ((kind == "authentication") != refused) fuzz::broken("authentication failure misclassified", op, text);
    if (kind.empty()) {
        if (!success || !body_is_json) fuzz::broken("a failed response reported as a success", op, text);
        fuzz::check_amounts(op, text);
    }
    if (kind == "decode" && !success) fuzz::broken("a decode failure for a failed response", op, text);
    if (fuzz::answer(op, fuzz::parse_payload(op_index, status, body)) != text) {
        fuzz::broken("the same response answered differently", op, text);
    }
    // A refused response may quote its raw body; every other answer depends
    // only on the decoded body.
    if (refused || !body_is_json) return 0;
    for (const fuzz::Style style : {fuzz::Style::spaced, fuzz::Style::escaped}) {
        const auto again = fuzz::reencode(body, style);
        if (!again) fuzz::broken("a body that parses could not be rewritten", op, text);
        if (fuzz::answer(op, fuzz::parse_payload(op_index, status, *again)) != text) {
            fuzz::broken("the same decoded body answered differently", op, text);
        }
    }
    return 0;
}
