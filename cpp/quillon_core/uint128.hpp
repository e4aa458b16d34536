// An unsigned 128-bit integer from two 64-bit halves, with the few operations
// exact decimal amounts need: multiplying by and dividing by a small factor,
// adding one, comparing. Standard C++ only (no compiler-specific wide type).
#pragma once

#include <compare>
#include <cstdint>

namespace quillon_core {

struct UInt128 {
    std::uint64_t hi = 0;
    std::uint64_t lo = 0;

    friend constexpr bool operator==(const UInt128&, const UInt128&) = default;
    friend constexpr std::strong_ordering operator<=>(const UInt128& a, const UInt128& b) {
        return a.hi != b.hi ? a.hi <=> b.hi : a.lo <=> b.lo;
    }
};

// a * mul + add, modulo 2^128.
constexpr UInt128 mul_add(UInt128 a, std::uint32_t mul, std::uint32_t add) {
    if (a.hi == 0 && (mul == 0 || a.lo <= (UINT64_MAX - add) / mul)) return {0, a.lo * mul + add};
    constexpr std::uint64_t low32 = 0xFFFF'FFFFu;
    const std::uint64_t l0 = (a.lo & low32) * mul + add;
    const std::uint64_t l1 = (a.lo >> 32) * mul + (l0 >> 32);
    const std::uint64_t l2 = (a.hi & low32) * mul + (l1 >> 32);
    const std::uint64_t l3 = (a.hi >> 32) * mul + (l2 >> 32);
    return {(l3 << 32) | (l2 & low32), (l1 << 32) | (l0 & low32)};
}

// a + 1, modulo 2^128.
constexpr UInt128 increment(UInt128 a) {
    return {a.lo == UINT64_MAX ? a.hi + 1 : a.hi, a.lo + 1};
}

// a / div (div > 0), the remainder left in `rem`: long division by 32-bit
// digits, so that every step fits 64 bits.
constexpr UInt128 div_small(UInt128 a, std::uint32_t div, std::uint32_t& rem) {
    if (a.hi == 0) {
        rem = static_cast<std::uint32_t>(a.lo % div);
        return {0, a.lo / div};
    }
    const std::uint64_t limbs[4] = {a.hi >> 32, a.hi & 0xFFFF'FFFFu, a.lo >> 32, a.lo & 0xFFFF'FFFFu};
    std::uint64_t q[4] = {};
    std::uint64_t r = 0;
    for (int i = 0; i < 4; ++i) {
        const std::uint64_t cur = (r << 32) | limbs[i];
        q[i] = cur / div;
        r = cur % div;
    }
    rem = static_cast<std::uint32_t>(r);
    return {(q[0] << 32) | q[1], (q[2] << 32) | q[3]};
}

}  // namespace quillon_core
