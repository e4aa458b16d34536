// Unicode White_Space, trimming and counting over UTF-8.
#include "text.hpp"

namespace quillon_core::text {

bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

namespace {

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Decodes the character starting at s[i]; sets `len` to its byte length.
// Invalid sequences decode as one byte that is not white space.
char32_t decode_at(std::string_view s, std::size_t i, std::size_t& len) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t n = b0 < 0x80 ? 1 : (b0 >> 5) == 0x6 ? 2 : (b0 >> 4) == 0xE ? 3 : (b0 >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || i + n > s.size()) {
        len = 1;
        return 0xFFFD;
    }
    char32_t c = n == 1 ? b0 : n == 2 ? (b0 & 0x1F) : n == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    for (std::size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if (!is_continuation(b)) {
            len = 1;
            return 0xFFFD;
        }
        c = (c << 6) | (b & 0x3F);
    }
    len = n;
    return c;
}

}  // namespace

std::string_view trim(std::string_view s) {
    // Most texts start and end with a printable ASCII character: nothing to
    // decode. (A UTF-8 sequence never starts or ends with such a byte.)
    const auto plain = [](char ch) { return ch > 0x20 && ch < 0x7F; };
    if (s.empty() || (plain(s.front()) && plain(s.back()))) return s;
    std::size_t begin = 0;
    while (begin < s.size()) {
        std::size_t len = 0;
        if (!is_white_space(decode_at(s, begin, len))) break;
        begin += len;
    }
    std::size_t end = s.size();
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && is_continuation(static_cast<unsigned char>(s[start]))) --start;
        std::size_t len = 0;
        const char32_t c = decode_at(s, start, len);
        if (start + len != end || !is_white_space(c)) break;
        end = start;
    }
    return s.substr(begin, end - begin);
}

std::size_t count_chars(std::string_view s) {
    std::size_t n = 0;
    for (char ch : s) n += !is_continuation(static_cast<unsigned char>(ch));
    return n;
}

std::string_view first_chars(std::string_view s, std::size_t n) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (!is_continuation(static_cast<unsigned char>(s[i]))) {
            if (seen == n) return s.substr(0, i);
            ++seen;
        }
    }
    return s;
}

}  // namespace quillon_core::text
