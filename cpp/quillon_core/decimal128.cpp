#include "decimal128.hpp"

#include <array>

#include "uint128.hpp"

namespace quillon_core::decimal128 {

namespace {

constexpr std::array<UInt128, MAX_DIGITS + 1> POWERS = [] {
    std::array<UInt128, MAX_DIGITS + 1> p{};
    p[0] = UInt128{0, 1};
    for (std::size_t i = 1; i < p.size(); ++i) p[i] = mul_add(p[i - 1], 10, 0);
    return p;
}();

UInt128 mantissa(const amount::Amount& a) { return UInt128{a.hi, a.lo}; }

}  // namespace

amount::Amount normalised(amount::Amount a) {
    UInt128 m = mantissa(a);
    if (m == UInt128{}) return amount::Amount{};
    while (a.scale > 0) {
        std::uint32_t rem = 0;
        const UInt128 q = div_small(m, 10, rem);
        if (rem != 0) break;
        m = q;
        --a.scale;
    }
    a.lo = m.lo;
    a.hi = static_cast<std::uint32_t>(m.hi);
    return a;
}

int integer_digits(const amount::Amount& a) {
    const UInt128 m = mantissa(a);
    int digits = 0;
    while (digits < MAX_DIGITS && m >= POWERS[static_cast<std::size_t>(digits)]) ++digits;
    return digits - a.scale;
}

bool rescale(const amount::Amount& a, int scale, std::uint64_t& lo, std::uint64_t& hi) {
    if (scale < a.scale || integer_digits(a) + scale > MAX_DIGITS) return false;
    UInt128 m = mantissa(a);
    for (int i = a.scale; i < scale; ++i) m = mul_add(m, 10, 0);
    if (a.negative && m != UInt128{}) {
        // Two's complement: invert and add one.
        m = increment(UInt128{~m.hi, ~m.lo});
    }
    lo = m.lo;
    hi = m.hi;
    return true;
}

void append_at_scale(const amount::Amount& a, int scale, std::string& out) {
    const std::size_t start = out.size();
    amount::append_text(a, out);
    const std::size_t point = out.find('.', start);
    const int shown = point == std::string::npos ? 0 : static_cast<int>(out.size() - point - 1);
    if (scale <= shown) return;
    if (shown == 0) out.push_back('.');
    out.append(static_cast<std::size_t>(scale - shown), '0');
}

}  // namespace quillon_core::decimal128
