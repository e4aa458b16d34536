// Exact decimal amounts: a sign, a 96-bit mantissa and a scale of 0 to 28.
// Read from a JSON number's literal text or a trimmed JSON string, written as
// normalised plain decimal text in a JSON string. No binary floating point.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "error.hpp"
#include "json_doc.hpp"

namespace quillon_core::amount {

struct Amount {
    std::uint64_t lo = 0;   // mantissa bits 0..63
    std::uint32_t hi = 0;   // mantissa bits 64..95
    std::uint8_t scale = 0; // 0..28, kept as read (10.50 has scale 2)
    bool negative = false;

    friend bool operator==(const Amount&, const Amount&) = default;
};

// Reads an amount from a JSON number or a string (trimmed first); another
// kind of value fails "expected a number, got {json}".
error::Result<Amount> from_node(const json::Node& value);

// Reads an amount from text exactly as given (no trimming): plain decimal
// first, then scientific notation; fails "invalid amount `{text}`: {reason}".
error::Result<Amount> from_text(std::string_view text);

// Normalised plain decimal text: trailing fractional zeros removed, zero
// without sign ("10.5", "1500", "0", "-5.1").
std::string to_text(const Amount& amount);
// The same text appended to `out`.
void append_text(const Amount& amount, std::string& out);

}  // namespace quillon_core::amount
