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

namespace {

constexpr std::uint16_t STATUSES[] = {200, 201, 204, 299, 199, 300, 400, 401,
                                      403, 404, 408, 429, 500, 502, 503, 65535};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t op_index = data[0] % fuzz::OPERATION_COUNT;
    std::uint16_t status = 0;
    std::size_t header = 2;
    if ((data[1] & 0x80) == 0) {
        status = STATUSES[data[1] % (sizeof STATUSES / sizeof STATUSES[0])];
    } else {
        if (size < 3) return 0;
        status = static_cast<std::uint16_t>((data[1] & 0x7F) << 8 | data[2]);
        header = 3;
    }
    const std::string body = fuzz::as_utf8(std::string_view(reinterpret_cast<const char*>(data) + header, size - header));
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
