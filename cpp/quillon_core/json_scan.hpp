// The eight-bytes-at-a-time scan of JSON string text, shared by the reader
// (to find where a string ends or needs decoding) and the writer (to find
// the next byte that needs an escape): a quotation mark, a backslash or a
// control character.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quillon_core::json::scan {

inline constexpr std::uint64_t ONES = 0x0101010101010101ULL;
inline constexpr std::uint64_t HIGHS = 0x8080808080808080ULL;

inline std::uint64_t load8(const char* p) {
    std::uint64_t v = 0;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// A flag in the high bit of every byte of `v` that is a quotation mark, a
// backslash or a control character. The lowest flagged byte is such a byte;
// bytes above it may be flagged falsely, by the borrow of the subtraction.
inline std::uint64_t special_bytes(std::uint64_t v) {
    const std::uint64_t q = v ^ (ONES * '"');
    const std::uint64_t b = v ^ (ONES * '\\');
    return (((q - ONES) & ~q) | ((b - ONES) & ~b) | ((v - ONES * 0x20) & ~v)) & HIGHS;
}

inline bool is_special(char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return c == '"' || c == '\\' || c < 0x20;
}

// The index of the first special byte from `i` on (or `n` when there is
// none). `high` is set when a byte of 0x80 or above was passed before it.
inline std::size_t plain_run(const char* s, std::size_t i, std::size_t n, bool& high) {
    std::uint64_t seen = 0;
    while (i + 8 <= n) {
        const std::uint64_t v = load8(s + i);
        const std::uint64_t hit = special_bytes(v);
        if (hit != 0) {
            if constexpr (std::endian::native == std::endian::little) {
                const int at = std::countr_zero(hit) >> 3;
                const std::uint64_t below = at == 0 ? 0 : (~std::uint64_t{0} >> (64 - 8 * at));
                high = high || ((seen | (v & below)) & HIGHS) != 0;
                return i + static_cast<std::size_t>(at);
            }
            break;
        }
        seen |= v;
        i += 8;
    }
    high = high || (seen & HIGHS) != 0;
    for (; i < n && !is_special(s[i]); ++i) high = high || static_cast<unsigned char>(s[i]) >= 0x80;
    return i;
}

}  // namespace quillon_core::json::scan
