// Exact decimal amounts, read and written without binary floating point.
//
// Reading, in order:
//   1. plain decimal: [+|-] digits [. digits] (either side of the point may
//      be empty, not both); no digit-group separators, no white space;
//   2. when that fails and the text holds an "e" or "E": scientific notation,
//      lenient: a scale above 28 is rounded to 28;
//   3. scientific notation again, strictly (no rounding, no exponent above
//      28); its message is the one reported.
//
// Rounding, wherever digits have to be dropped, is half to even. A plain
// decimal keeps at most 28 fractional digits and never more digits than the
// 96-bit mantissa holds: surplus fractional digits are rounded away, while an
// integral part that does not fit is an error.
//
// No step loops over the exponent's value, so an exponent of four billion
// costs no more than an exponent of one.
#include "amount.hpp"

#include <cstddef>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>

#include "json_writer.hpp"
#include "text.hpp"
#include "uint128.hpp"

namespace quillon_core::amount {

using error::Error;
using error::Result;

namespace {

constexpr int MAX_SCALE = 28;
constexpr UInt128 MAX_MANTISSA{0xFFFF'FFFFu, ~std::uint64_t{0}};  // 2^96 - 1
// 10^29, the first power of ten above the largest mantissa.
constexpr std::int64_t DIGITS_ABOVE_MAX = 29;

struct Decimal {
    UInt128 mantissa{};
    std::int64_t scale = 0;
    bool negative = false;
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// m * 10 + d.
UInt128 push_digit(UInt128 m, int d) { return mul_add(m, 10, static_cast<std::uint32_t>(d)); }

// Divides by 10^k rounding half to even; k >= 1. The digits are dropped one
// at a time (k is at most 29 here): the last one dropped decides the rounding
// together with whether any digit below it was non-zero.
UInt128 divide_pow10_rounded(UInt128 m, std::int64_t k) {
    // Every mantissa lies below 10^29, so below half of any larger power.
    if (k > DIGITS_ABOVE_MAX) return UInt128{};
    std::uint32_t dropped = 0;
    bool sticky = false;
    for (std::int64_t i = 0; i < k; ++i) {
        sticky = sticky || dropped != 0;
        m = div_small(m, 10, dropped);
    }
    const bool odd = (m.lo & 1) != 0;
    return (dropped > 5 || (dropped == 5 && (sticky || odd))) ? increment(m) : m;
}

// The reasons a text is no amount: the message of a "decode" error, which
// `from_text` puts behind "invalid amount `{text}`: ".
Error reason(std::string text) { return Error::decode(std::move(text)); }

// Plain decimal text.
Result<Decimal> read_plain(std::string_view s) {
    if (s.empty()) return reason("Invalid decimal: empty");
    std::size_t i = 0;
    Decimal out;
    if (s[0] == '+' || s[0] == '-') {
        out.negative = s[0] == '-';
        i = 1;
    }
    if (i < s.size() && !is_digit(s[i]) && s[i] != '.') {
        return reason("Invalid decimal: must start lead with a number");
    }
    UInt128 m{};
    std::int64_t scale = 0;
    bool point = false;
    bool any_digit = false;
    // Fractional digits past what the mantissa or scale can hold.
    bool dropping = false;
    int first_dropped = 0;
    bool sticky = false;  // a non-zero digit after the first dropped one
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '.') {
            if (point) return reason("Invalid decimal: two decimal points");
            point = true;
            continue;
        }
        if (!is_digit(c)) return reason("Invalid decimal: unknown character");
        any_digit = true;
        const int d = c - '0';
        if (!point) {
            m = push_digit(m, d);
            if (m > MAX_MANTISSA) return reason("Invalid decimal: overflow from too many digits");
        } else if (dropping) {
            sticky = sticky || d != 0;
        } else if (scale < MAX_SCALE && push_digit(m, d) <= MAX_MANTISSA) {
            m = push_digit(m, d);
            ++scale;
        } else {
            dropping = true;
            first_dropped = d;
        }
    }
    if (!any_digit) return reason("Invalid decimal: no digits found");
    if (dropping && (first_dropped > 5 || (first_dropped == 5 && (sticky || (m.lo & 1) != 0)))) {
        m = increment(m);
        if (m > MAX_MANTISSA) {
            // The kept digits were the largest mantissa (ending in 5) and the
            // dropped ones at least a half: one digit fewer rounds up exactly.
            if (scale == 0) return reason("Invalid decimal: overflow from mantissa after rounding");
            std::uint32_t rest = 0;
            m = increment(div_small(MAX_MANTISSA, 10, rest));
            --scale;
        }
    }
    out.mantissa = m;
    out.scale = scale;
    return out;
}

// An exponent: an optional "-", then an unsigned 32-bit decimal that may
// itself carry a leading "+". Nothing when the text is not one.
std::optional<std::int64_t> read_exponent(std::string_view s) {
    bool negative = false;
    if (!s.empty() && s[0] == '-') {
        negative = true;
        s.remove_prefix(1);
    }
    if (!s.empty() && s[0] == '+') s.remove_prefix(1);
    if (s.empty()) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : s) {
        if (!is_digit(c)) return std::nullopt;
        v = v * 10 + static_cast<unsigned>(c - '0');
        if (v > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    }
    return negative ? -static_cast<std::int64_t>(v) : static_cast<std::int64_t>(v);
}

// Scientific notation. `strict` refuses a scale above 28 instead of rounding,
// and an exponent above 28 outright.
Result<Decimal> read_scientific(std::string_view s, bool strict) {
    const std::size_t e = s.find_first_of("eE");
    const std::optional<std::int64_t> written =
        e == std::string_view::npos ? std::nullopt : read_exponent(s.substr(e + 1));
    if (!written) return reason("Failed to parse");
    const std::int64_t exponent = *written;
    auto plain = read_plain(s.substr(0, e));
    if (!plain) return plain;
    Decimal& out = plain.value();
    if (exponent < 0) {
        const std::int64_t magnitude = -exponent;
        const std::int64_t scale = out.scale + magnitude;
        if (scale > MAX_SCALE) {
            if (strict) {
                return reason("Scale exceeds the maximum precision allowed: " +
                              std::to_string(magnitude > MAX_SCALE ? magnitude : scale) + " > " +
                              std::to_string(MAX_SCALE));
            }
            out.mantissa = divide_pow10_rounded(out.mantissa, scale - MAX_SCALE);
            out.scale = MAX_SCALE;
        } else {
            out.scale = scale;
        }
    } else if (exponent <= out.scale) {
        out.scale -= exponent;
    } else {
        // The strict reading refuses an exponent above the largest scale
        // before it tries to scale the mantissa up.
        if (strict && exponent > MAX_SCALE) {
            return reason("Scale exceeds the maximum precision allowed: " + std::to_string(exponent) + " > " +
                          std::to_string(MAX_SCALE));
        }
        const std::int64_t k = exponent - out.scale;
        out.scale = 0;
        if (out.mantissa != UInt128{}) {
            // A mantissa of at least 1 passes the largest after at most 29
            // steps, so the loop is short whatever k is.
            for (std::int64_t i = 0; i < k; ++i) {
                out.mantissa = mul_add(out.mantissa, 10, 0);
                if (out.mantissa > MAX_MANTISSA) {
                    return reason("Number exceeds maximum value that can be represented.");
                }
            }
        }
    }
    return plain;
}

Amount to_amount(const Decimal& d) {
    Amount a;
    a.lo = d.mantissa.lo;
    a.hi = static_cast<std::uint32_t>(d.mantissa.hi);
    a.scale = static_cast<std::uint8_t>(d.scale);
    a.negative = d.negative;
    return a;
}

}  // namespace

Result<Amount> from_text(std::string_view text) {
    if (auto plain = read_plain(text)) return to_amount(plain.value());
    if (text.find_first_of("eE") != std::string_view::npos) {
        if (auto lenient = read_scientific(text, false)) return to_amount(lenient.value());
    }
    // The lenient reading accepts all that the strict one does; the strict
    // one runs only for its message.
    auto strict = read_scientific(text, true);
    if (strict) return to_amount(strict.value());
    return Error::decode("invalid amount `" + std::string(text) + "`: " + strict.error().message);
}

Result<Amount> from_node(const json::Node& value) {
    if (value.is_number()) return from_text(value.text());
    if (value.is_string()) return from_text(text::trim(value.text()));
    std::string message = "expected a number, got ";
    json::write(value, message);
    return Error::decode(std::move(message));
}

void append_text(const Amount& amount, std::string& out) {
    // Digits are produced from the last one backwards; 96 bits are at most 29
    // digits, and the point and leading zeros of a scale of 28 fit beside them.
    char buf[64];
    char* const end = buf + sizeof buf;
    char* p = end;
    int scale = amount.scale;
    if (amount.hi == 0) {
        std::uint64_t m = amount.lo;
        while (scale > 0 && m % 10 == 0) {
            m /= 10;
            --scale;
        }
        if (m == 0) {
            out.push_back('0');
            return;
        }
        for (; m != 0; m /= 10) *--p = static_cast<char>('0' + m % 10);
    } else {
        UInt128 m{amount.hi, amount.lo};
        std::uint32_t digit = 0;
        for (UInt128 q = div_small(m, 10, digit); scale > 0 && digit == 0; q = div_small(m, 10, digit)) {
            m = q;
            --scale;
        }
        while (m != UInt128{}) {
            m = div_small(m, 10, digit);
            *--p = static_cast<char>('0' + digit);
        }
    }
    if (scale > 0) {
        while (end - p <= scale) *--p = '0';  // at least one digit before the point
        char* const point = end - scale;
        p -= 1;
        std::memmove(p, p + 1, static_cast<std::size_t>(point - 1 - p));
        point[-1] = '.';
    }
    if (amount.negative) *--p = '-';
    out.append(p, static_cast<std::size_t>(end - p));
}

std::string to_text(const Amount& amount) {
    std::string out;
    append_text(amount, out);
    return out;
}

}  // namespace quillon_core::amount
