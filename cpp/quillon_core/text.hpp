// Text helpers over UTF-8: Unicode White_Space trimming, counting in Unicode
// scalar values, ASCII-only upper-casing.
#pragma once

#include <cstddef>
#include <string_view>

namespace quillon_core::text {

// True for the characters with the Unicode White_Space property.
bool is_white_space(char32_t c);

// The text without White_Space characters at either end (a view into `s`).
std::string_view trim(std::string_view s);

// The number of Unicode scalar values in valid UTF-8 text.
std::size_t count_chars(std::string_view s);

// The first `n` characters of valid UTF-8 text (all of it when shorter).
std::string_view first_chars(std::string_view s, std::size_t n);

// Whether `s` with its ASCII letters a to z upper-cased (every other byte
// unchanged) equals `upper`, compared without making the upper-cased copy.
inline bool equals_ascii_upper(std::string_view s, std::string_view upper) {
    if (s.size() != upper.size()) return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != upper[i]) return false;
    }
    return true;
}

}  // namespace quillon_core::text
