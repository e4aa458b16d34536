// Amounts as the 128-bit decimals of a column: one scale for a whole column,
// every value rescaled to it exactly, at most 38 digits.
#pragma once

#include <cstdint>
#include <string>

#include "amount.hpp"

namespace quillon_core::decimal128 {

constexpr int MAX_DIGITS = 38;

// The same value with its trailing fractional zeros removed: the scale its
// normalised text shows ("10.50" has scale 1 then). Zero is never negative.
amount::Amount normalised(amount::Amount a);

// The count of digits before the point of a normalised amount, less its
// scale: the value needs `integer_digits(a) + scale` digits at `scale`
// (which must not be below its own).
int integer_digits(const amount::Amount& a);

// The value at `scale` (not below its own) as a 128-bit two's complement
// integer, in two halves; false when that takes more than 38 digits.
bool rescale(const amount::Amount& a, int scale, std::uint64_t& lo, std::uint64_t& hi);

// The value's text with exactly `scale` fractional digits (not fewer than
// its normalised text has), as a decimal column of that scale shows it.
void append_at_scale(const amount::Amount& a, int scale, std::string& out);

}  // namespace quillon_core::decimal128
