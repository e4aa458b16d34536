// Properties that every answer of the engine must have, checked by the fuzz
// targets on each input. A broken property prints what broke and aborts, so
// that libFuzzer keeps the input as a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fuzz {

// The operations of the table, in listing order.
inline constexpr std::string_view OPERATIONS[] = {
    "accounts.get",       "accounts.list",    "accounts.create", "accounts.set_status",
    "accounts.reconcile", "accounts.credits", "accounts.debits", "accounts.balances",
};
inline constexpr std::size_t OPERATION_COUNT = sizeof OPERATIONS / sizeof OPERATIONS[0];

// The input of the parse-stage targets: first byte, the operation; second,
// the HTTP status from a table of telling ones or, with its top bit set, 15
// bits of it and the next byte; the rest, the body (made UTF-8 by
// `as_utf8`). Nothing when the input is too short.
struct ParseInput {
    std::size_t op_index = 0;
    std::uint16_t status = 0;
    std::string body;
};
std::optional<ParseInput> parse_input(const std::uint8_t* data, std::size_t size);

// A well-formed "parse" payload for the operation at `op_index`: an input
// that decodes for it, and the response.
std::string parse_payload(std::size_t op_index, std::uint16_t status, std::string_view body);

// The engine's answer for `op` and `payload`.
std::string answer(std::string_view op, std::string_view payload);

// Text arrives from Python as well-formed UTF-8: bytes that would not be
// are replaced by "?", one for one, so that offsets keep their meaning.
std::string as_utf8(std::string_view bytes);

// Aborts with `what`, the op and the answer.
[[noreturn]] void broken(std::string_view what, std::string_view op, std::string_view text);

// The answer is one compact JSON envelope, written exactly as the engine's
// own writer writes it, with the members of its kind and nothing else.
// Returns the error's kind word, or "" for a success.
std::string check_envelope(std::string_view op, std::string_view text);

// A success of a "build" stage describes one well-formed request.
void check_request(std::string_view op, std::string_view text);

// Every amount in a "parse" result is normalised decimal text that reads
// back as itself.
void check_amounts(std::string_view op, std::string_view text);

// How `reencode` rewrites a document.
enum class Style : std::uint8_t {
    spaced,   // whitespace around every token, escapes as the writer makes them
    escaped,  // compact, but every character beyond ASCII and "/" escaped
};

// The same document with other whitespace and other escapes: members keep
// their order and repeated keys stay repeated, so a decoder that reads the
// text as written sees the same values. Nothing when the text is not one
// well-formed JSON document whose strings all decode.
std::optional<std::string> reencode(std::string_view text, Style style);

// True for an "invalid payload" answer.
bool is_invalid_payload(std::string_view text);

// The answer without the reader's position (" at line L column C") at the
// end of its message, so that answers about the same decoded text compare
// equal whatever its layout.
std::string without_position(std::string_view text);

// The same call twice gives the same text, and the same decoded payload in
// another layout gives the same answer: never an "invalid payload" for one
// and a success (or any other answer) for the other.
void check_stable(std::string_view op, std::string_view payload, std::string_view text);

}  // namespace fuzz
