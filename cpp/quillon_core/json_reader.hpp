// The JSON reader: a pull parser over the text with exact byte positions.
// Payload records are decoded straight from the text through it; gateway
// bodies are read with it into a document (json_doc.hpp).
//
// Positions. The reader keeps one index, the number of bytes consumed. A
// failure is reported either *at* the byte the reader is looking at without
// having consumed it (index + 1, capped at the text's length) or *after* what
// has been consumed (the index itself), and written as " at line L column C"
// where C counts bytes since the last line feed.
//
// Failures. The engine's functions answer `Result<T>` (error.hpp); the reader
// is the one exception, and knowingly so: a message needs the position where
// reading stopped, and reading goes through many small steps (the payload
// records of record.hpp are decoded straight through them). So every reading
// function answers bool: false on failure, with the first failure kept in the
// reader (later ones are ignored), and the caller stops. Whoever started
// reading turns the kept failure into an `Error` once, with `error_text()`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json_value.hpp"  // Kind

namespace quillon_core::json {

// The most nested arrays and objects a document may hold, the outermost
// included; the next level fails with "recursion limit exceeded".
inline constexpr int MAX_DEPTH = 127;

// The reader's fixed messages, all in this one table. Messages that name
// what was found or expected are composed where they arise.
namespace says {
inline constexpr std::string_view eof_list = "EOF while parsing a list";
inline constexpr std::string_view eof_object = "EOF while parsing an object";
inline constexpr std::string_view eof_string = "EOF while parsing a string";
inline constexpr std::string_view eof_value = "EOF while parsing a value";
inline constexpr std::string_view expected_colon = "expected `:`";
inline constexpr std::string_view expected_comma_or_bracket = "expected `,` or `]`";
inline constexpr std::string_view expected_comma_or_brace = "expected `,` or `}`";
inline constexpr std::string_view expected_ident = "expected ident";
inline constexpr std::string_view expected_value = "expected value";
inline constexpr std::string_view invalid_escape = "invalid escape";
inline constexpr std::string_view invalid_number = "invalid number";
inline constexpr std::string_view number_out_of_range = "number out of range";
inline constexpr std::string_view invalid_code_point = "invalid unicode code point";
inline constexpr std::string_view control_character =
    "control character (\\u0000-\\u001F) found while parsing a string";
inline constexpr std::string_view key_must_be_a_string = "key must be a string";
inline constexpr std::string_view lone_leading_surrogate = "lone leading surrogate in hex escape";
inline constexpr std::string_view trailing_comma = "trailing comma";
inline constexpr std::string_view trailing_characters = "trailing characters";
inline constexpr std::string_view unexpected_end_of_escape = "unexpected end of hex escape";
inline constexpr std::string_view recursion_limit = "recursion limit exceeded";
}  // namespace says

// How a number is read, which decides a few messages and whether its value
// is computed.
enum class NumberMode : std::uint8_t {
    value,    // checked for its form, kept as literal text
    integer,  // as `value`, and its binary value is computed
    skipped,  // only checked for its form; the text ending early is "invalid number"
};

// A number scanned from the text.
struct NumberToken {
    std::string_view text;    // the literal, sign included
    bool negative = false;
    bool integral = true;     // written without fraction or exponent
};

// The binary value of a number read in an integer position.
struct NumberValue {
    enum class Kind : std::uint8_t { unsigned_int, signed_int, floating } kind = Kind::unsigned_int;
    std::uint64_t u = 0;  // unsigned_int
    std::int64_t i = 0;   // signed_int (always negative)
    std::string_view literal;  // floating: the number as written
};

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    std::string_view text() const { return text_; }
    std::size_t index() const { return index_; }

    // The byte at the index, or -1 at the end of the text.
    int peek() const {
        return index_ < text_.size() ? static_cast<unsigned char>(text_[index_]) : -1;
    }
    void eat() { ++index_; }
    // Skips spaces, tabs, line feeds and carriage returns; returns peek().
    int skip_ws() {
        while (index_ < text_.size()) {
            const char c = text_[index_];
            if (c != ' ' && c != '\n' && c != '\t' && c != '\r') return static_cast<unsigned char>(c);
            ++index_;
        }
        return -1;
    }

    // ---- failures -------------------------------------------------------
    // Each keeps the failure (if it is the first) and returns false: *at*
    // the byte at the index, or *after* what has been consumed.
    [[nodiscard]] bool fail_at(std::string_view message);
    [[nodiscard]] bool fail_after(std::string_view message);
    bool failed() const { return failed_; }
    // The first failure's description, without position.
    const std::string& message() const { return message_; }
    // The first failure's description followed by " at line L column C".
    std::string error_text() const;

    // ---- structure ------------------------------------------------------
    // Consumes the bracket at the index as one more nesting level, or fails
    // "recursion limit exceeded" at it.
    [[nodiscard]] bool enter() {
        if (depth_ == MAX_DEPTH) return fail_at(says::recursion_limit);
        ++depth_;
        ++index_;
        return true;
    }
    void leave() { --depth_; }

    // Steps over the separator before the next array element: `more` tells
    // whether an element starts at the index (else the closing "]" is there,
    // not consumed). `first` is true until the first element has been seen.
    [[nodiscard]] bool next_element(bool& first, bool& more);
    // The ":" after a key.
    [[nodiscard]] bool colon();
    // The closing "]" after the last element that was asked for.
    [[nodiscard]] bool end_seq();
    // A whole array whose "[" is at the index: `element()` is called at the
    // start of each element and reads it; then the closing "]".
    template <class F>
    [[nodiscard]] bool each_element(F&& element) {
        return each<']'>(element);
    }
    // A whole object whose "{" is at the index: `member()` is called with
    // each key's opening quotation mark consumed and reads the key, the ":"
    // and the value; then the closing "}".
    template <class F>
    [[nodiscard]] bool each_member(F&& member) {
        return each<'}'>(member);
    }
    // Only JSON whitespace may follow the document.
    [[nodiscard]] bool finish();

    // ---- scalars --------------------------------------------------------
    // The rest of a literal whose first letter has been consumed.
    [[nodiscard]] bool ident(std::string_view rest);
    // A string whose opening quotation mark has been consumed, decoded into
    // `out` (escapes resolved, surrogate pairs joined, UTF-8 checked).
    [[nodiscard]] bool read_string(std::string& out);
    // As read_string, but `out` views the text itself when the string holds
    // no escape; otherwise the string is decoded into `storage` and `out`
    // views that.
    [[nodiscard]] bool read_string_view(std::string_view& out, std::string& storage);
    // A string only checked for its form.
    [[nodiscard]] bool skip_string();
    // A number starting at the index ("-" or a digit).
    [[nodiscard]] bool scan_number(NumberMode mode, NumberToken& out);
    // A number in an integer position: scanned, then its value computed;
    // a value too large for a double fails "number out of range".
    [[nodiscard]] bool read_number_value(NumberValue& out);

    // ---- values ---------------------------------------------------------
    // Skips one value of any kind (an unknown member's value).
    [[nodiscard]] bool skip_value();
    // The value at the index is not what `expected` names: reads a scalar
    // whole and fails "invalid type: X, expected E" after it; an array or
    // object fails before its bracket; anything else "expected value".
    [[nodiscard]] bool invalid_type(std::string_view expected);

    // A scratch buffer for keys and short-lived strings.
    std::string& scratch() { return scratch_; }

private:
    [[nodiscard]] bool fail_index(std::string_view message, std::size_t index);
    // As next_element for an object: `more` when a key's quotation mark is
    // at the index (not consumed), else the closing "}" is there.
    [[nodiscard]] bool next_key(bool& first, bool& more);
    // The closing "}" after the last member.
    [[nodiscard]] bool end_map();
    // The loop of each_element (`Close` "]") and each_member ("}").
    template <char Close, class F>
    [[nodiscard]] bool each(F& item) {
        if (!enter()) return false;
        bool first = true;
        for (bool more = true;;) {
            if (!(Close == ']' ? next_element(first, more) : next_key(first, more))) return false;
            if (!more) break;
            if constexpr (Close == '}') eat();
            if (!item()) return false;
        }
        leave();
        return Close == ']' ? end_seq() : end_map();
    }
    // The code point of a \u escape (two for a surrogate pair) whose
    // backslash and "u" have been consumed.
    [[nodiscard]] bool code_point(std::uint32_t& cp);
    [[nodiscard]] bool hex4(std::uint32_t& out);
    [[nodiscard]] bool skip_seq();
    [[nodiscard]] bool skip_map();

    std::string_view text_;
    std::size_t index_ = 0;
    int depth_ = 0;
    bool failed_ = false;
    std::size_t error_index_ = 0;
    std::string message_;
    std::string scratch_;
};

// How "invalid type" messages name a found value: "boolean `true`",
// "string \"...\"" (the decoded text, escaped), "sequence", "map". Payloads
// name null "null" and a number by its value where it is an integer that
// fits 64 bits ("integer `5`", else "number"); gateway records name null
// "unit value" and every number "number". `text` is a string's content or a
// number's literal.
enum class Naming : std::uint8_t { payload, gateway };
std::string describe(Kind kind, bool boolean, std::string_view text, Naming naming);
// A number read as floating point, named by its literal's digits (at most 17
// significant ones, rounded half to even) in one of the forms 12.5, 1000.0,
// 1e20, 1.8446744073709552e19, 1e-7, -0.0.
std::string describe_float(std::string_view literal);  // floating point `12.5`
std::string format_float(std::string_view literal);

}  // namespace quillon_core::json
