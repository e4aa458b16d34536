// The pull reader: structure, strings (decoded or skipped), numbers, and the
// names that "invalid type" messages give found values.
#include "json_reader.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <limits>
#include <utility>

#include "json_scan.hpp"

namespace quillon_core::json {

namespace {

bool is_digit(int c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

using scan::HIGHS;
using scan::is_special;
using scan::load8;

// The UTF-8 form of a code point written at `dst`; the number of bytes.
std::size_t put_utf8(std::uint32_t cp, char* dst) {
    if (cp < 0x80) {
        dst[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        dst[0] = static_cast<char>(0xC0 | (cp >> 6));
        dst[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        dst[0] = static_cast<char>(0xE0 | (cp >> 12));
        dst[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        dst[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    dst[0] = static_cast<char>(0xF0 | (cp >> 18));
    dst[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    dst[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    dst[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool valid_utf8(std::string_view s) {
    std::size_t i = 0;
    const std::size_t n = s.size();
    while (i < n) {
        if (i + 8 <= n && (load8(s.data() + i) & HIGHS) == 0) {
            i += 8;
            continue;
        }
        const auto b0 = static_cast<unsigned char>(s[i]);
        if (b0 < 0x80) {
            ++i;
            continue;
        }
        std::size_t len = 0;
        unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            len = 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            len = 3;
            if (b0 == 0xE0) lo = 0xA0;
            if (b0 == 0xED) hi = 0x9F;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            len = 4;
            if (b0 == 0xF0) lo = 0x90;
            if (b0 == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (i + len > n) return false;
        const auto b1 = static_cast<unsigned char>(s[i + 1]);
        if (b1 < lo || b1 > hi) return false;
        for (std::size_t k = 2; k < len; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        }
        i += len;
    }
    return true;
}

// Unsigned decimal digits to a value; false when they do not fit 64 bits.
bool digits_to_u64(std::string_view digits, std::uint64_t& out) {
    const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), out);
    return ec == std::errc() && ptr == digits.data() + digits.size();
}

// A well-formed JSON number as decimal digits: its value is
// 0.<digits> x 10^exponent, with no leading zero in `digits` (empty for zero)
// and at most KEPT_DIGITS of them; `beyond` tells whether a non-zero digit
// was cut off after those.
struct DecimalDigits {
    static constexpr std::size_t KEPT_DIGITS = 320;
    std::string digits;
    std::int64_t exponent = 0;
    bool beyond = false;
    bool negative = false;
};

DecimalDigits decimal_digits(std::string_view text) {
    DecimalDigits d;
    d.negative = !text.empty() && text.front() == '-';
    if (d.negative) text.remove_prefix(1);
    const std::size_t e_pos = text.find_first_of("eE");
    const std::string_view mantissa = text.substr(0, e_pos);
    // The written exponent, held within +-10^12 so that no sum below can
    // overflow; anything that large is far outside every range that matters.
    constexpr std::int64_t EXP_CAP = 1'000'000'000'000LL;
    std::int64_t exponent = 0;
    if (e_pos != std::string_view::npos) {
        std::string_view exp_text = text.substr(e_pos + 1);
        bool exp_negative = false;
        if (!exp_text.empty() && (exp_text.front() == '+' || exp_text.front() == '-')) {
            exp_negative = exp_text.front() == '-';
            exp_text.remove_prefix(1);
        }
        for (char c : exp_text) exponent = std::min(exponent * 10 + (c - '0'), EXP_CAP);
        if (exp_negative) exponent = -exponent;
    }
    // Digits before the point count up the exponent; leading zeros after the
    // point count it down.
    std::int64_t position = 0;
    bool point = false;
    for (char c : mantissa) {
        if (c == '.') {
            point = true;
            continue;
        }
        if (d.digits.empty() && c == '0') {
            if (point) --position;
            continue;
        }
        if (!point) ++position;
        if (d.digits.size() < DecimalDigits::KEPT_DIGITS) {
            d.digits.push_back(c);
        } else if (c != '0') {
            d.beyond = true;
        }
    }
    while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
    if (!d.digits.empty()) d.exponent = position + exponent;
    return d;
}

// The smallest magnitude that a double rounds to infinity: the largest
// double plus half of its last unit, 2^1024 - 2^970, here as 0.<digits> x
// 10^309. It rounds up, as its tie is broken towards the even significand.
constexpr std::string_view DOUBLE_OVERFLOW_DIGITS =
    "17976931348623158079372897140530341507993413271003782693617377898044496829276475094664901797758"
    "72070963302864166928879109465555478519404026306574886715058206819089020007083836762738548458177"
    "11531764475730270069855571366959622842914819860834936475292719074168444365510704342711559699508"
    "093042880177904174497792";
constexpr std::int64_t DOUBLE_OVERFLOW_EXPONENT = 309;

// Whether a well-formed JSON number is too large in magnitude for a double.
bool exceeds_double(std::string_view text) {
    const DecimalDigits d = decimal_digits(text);
    if (d.digits.empty() || d.exponent < DOUBLE_OVERFLOW_EXPONENT) return false;
    if (d.exponent > DOUBLE_OVERFLOW_EXPONENT) return true;
    // Same exponent: compare digit by digit, a missing digit being zero.
    for (std::size_t i = 0; i < DOUBLE_OVERFLOW_DIGITS.size(); ++i) {
        const char c = i < d.digits.size() ? d.digits[i] : '0';
        if (c != DOUBLE_OVERFLOW_DIGITS[i]) return c > DOUBLE_OVERFLOW_DIGITS[i];
    }
    return true;
}

// Rust-style debug escaping of a found string.
void append_debug_escaped(std::string_view s, std::string& out) {
    static constexpr char hex[] = "0123456789abcdef";
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\0': out += "\\0"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += "\\u{";
                    if (c >= 0x10) out.push_back(hex[c >> 4]);
                    out.push_back(hex[c & 0xF]);
                    out.push_back('}');
                } else {
                    out.push_back(ch);
                }
        }
    }
}

// How a number's literal is named when it is found where something else was
// expected: integers that fit 64 bits by their value, everything else "number".
std::string describe_number(std::string_view literal) {
    if (literal.find_first_of(".eE") == std::string_view::npos) {
        if (literal.front() != '-') {
            std::uint64_t u = 0;
            if (digits_to_u64(literal, u)) return "integer `" + std::to_string(u) + "`";
        } else {
            std::uint64_t magnitude = 0;
            if (digits_to_u64(literal.substr(1), magnitude) && magnitude <= (std::uint64_t{1} << 63)) {
                const std::int64_t i = magnitude == 0 ? 0 : static_cast<std::int64_t>(0 - magnitude);
                return "integer `" + std::to_string(i) + "`";
            }
        }
    }
    return "number";
}

}  // namespace

// ---- failures ---------------------------------------------------------

bool Reader::fail_index(std::string_view message, std::size_t index) {
    if (!failed_) {
        failed_ = true;
        message_.assign(message);
        error_index_ = index;
    }
    return false;
}

bool Reader::fail_at(std::string_view message) {
    return fail_index(message, std::min(text_.size(), index_ + 1));
}

bool Reader::fail_after(std::string_view message) { return fail_index(message, index_); }

std::string Reader::error_text() const {
    const std::string_view before = text_.substr(0, error_index_);
    const std::size_t last_newline = before.rfind('\n');
    const std::size_t line_start = last_newline == std::string_view::npos ? 0 : last_newline + 1;
    const std::size_t line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
    return message_ + " at line " + std::to_string(line) + " column " +
           std::to_string(error_index_ - line_start);
}

// ---- structure --------------------------------------------------------

bool Reader::next_element(bool& first, bool& more) {
    int c = skip_ws();
    more = c != ']';
    if (!more) return true;
    if (c == ',' && !first) {
        eat();
        c = skip_ws();
        if (c == ']') return fail_at(says::trailing_comma);
        if (c == -1) return fail_at(says::eof_value);
        return true;
    }
    if (c == -1) return fail_at(says::eof_list);
    if (!first) return fail_at(says::expected_comma_or_bracket);
    first = false;
    return true;
}

bool Reader::next_key(bool& first, bool& more) {
    int c = skip_ws();
    more = c != '}';
    if (!more) return true;
    if (c == ',' && !first) {
        eat();
        c = skip_ws();
    } else if (c == -1) {
        return fail_at(says::eof_object);
    } else if (first) {
        first = false;
    } else {
        return fail_at(says::expected_comma_or_brace);
    }
    if (c == '"') return true;
    if (c == '}') return fail_at(says::trailing_comma);
    if (c == -1) return fail_at(says::eof_value);
    return fail_at(says::key_must_be_a_string);
}

bool Reader::colon() {
    const int c = skip_ws();
    if (c == ':') {
        eat();
        return true;
    }
    if (c == -1) return fail_at(says::eof_object);
    return fail_at(says::expected_colon);
}

bool Reader::end_seq() {
    int c = skip_ws();
    if (c == ']') {
        eat();
        return true;
    }
    if (c == ',') {
        eat();
        c = skip_ws();
        return fail_at(c == ']' ? says::trailing_comma : says::trailing_characters);
    }
    if (c == -1) return fail_at(says::eof_list);
    return fail_at(says::trailing_characters);
}

bool Reader::end_map() {
    const int c = skip_ws();
    if (c == '}') {
        eat();
        return true;
    }
    if (c == ',') return fail_at(says::trailing_comma);
    if (c == -1) return fail_at(says::eof_object);
    return fail_at(says::trailing_characters);
}

bool Reader::finish() {
    if (skip_ws() != -1) return fail_at(says::trailing_characters);
    return true;
}

// ---- scalars ----------------------------------------------------------

bool Reader::ident(std::string_view rest) {
    for (char expected : rest) {
        if (index_ == text_.size()) return fail_after(says::eof_value);
        if (text_[index_++] != expected) return fail_after(says::expected_ident);
    }
    return true;
}

bool Reader::hex4(std::uint32_t& out) {
    if (text_.size() - index_ < 4) {
        index_ = text_.size();
        return fail_after(says::eof_string);
    }
    out = 0;
    bool ok = true;
    for (std::size_t k = 0; k < 4; ++k) {
        const int h = hex_value(text_[index_ + k]);
        ok = ok && h >= 0;
        out = (out << 4) | static_cast<std::uint32_t>(h & 0xF);
    }
    index_ += 4;
    return ok || fail_after(says::invalid_escape);
}

bool Reader::code_point(std::uint32_t& cp) {
    std::uint32_t n = 0;
    if (!hex4(n)) return false;
    if (n >= 0xDC00 && n <= 0xDFFF) return fail_after(says::lone_leading_surrogate);
    if (n < 0xD800 || n > 0xDBFF) {
        cp = n;
        return true;
    }
    // A leading surrogate: a trailing one must follow as another \u escape.
    for (const char expected : {'\\', 'u'}) {
        if (index_ == text_.size()) return fail_after(says::eof_string);
        if (text_[index_++] != expected) return fail_after(says::unexpected_end_of_escape);
    }
    std::uint32_t n2 = 0;
    if (!hex4(n2)) return false;
    if (n2 < 0xDC00 || n2 > 0xDFFF) return fail_after(says::lone_leading_surrogate);
    cp = (((n - 0xD800) << 10) | (n2 - 0xDC00)) + 0x10000;
    return true;
}

bool Reader::read_string(std::string& out) {
    const char* const s = text_.data();
    const std::size_t n = text_.size();
    const std::size_t start = index_;
    bool beyond_ascii = false;
    std::size_t i = scan::plain_run(s, start, n, beyond_ascii);
    if (i < n && s[i] == '"') {  // no escape: most strings
        out.assign(s + start, i - start);
        index_ = i + 1;
        if (beyond_ascii && !valid_utf8(out)) return fail_after(says::invalid_code_point);
        return true;
    }

    // Decoded through a cursor, eight bytes at a time copied while they are
    // tested. Decoding never makes a string longer than its text, so `out`
    // is kept longer than the text read so far by one step and one escape;
    // a long string (a whole body inside a payload) gets room for the rest
    // of the text at once instead of doubling its way there.
    constexpr std::size_t LONG = 64 * 1024;
    constexpr std::size_t SLACK = 16;
    std::size_t len = 0;
    const auto room = [&](std::size_t need) {
        if (need <= out.size()) return;
        out.resize(need > LONG ? std::max(need, n - start + SLACK) : std::max(need, 2 * out.size()));
    };
    const auto done = [&](bool ok) {
        out.resize(len);
        if (out.capacity() > 2 * len + LONG) out.shrink_to_fit();
        return ok;
    };
    out.clear();
    room(std::min(n - start, std::size_t{256}) + SLACK);
    std::uint64_t seen = 0;
    for (;;) {
        // The plain bytes up to the next special one.
        for (;;) {
            room(len + SLACK);
            char* const dst = out.data() + len;
            if (index_ + 8 > n) {
                while (index_ < n) {
                    const auto c = static_cast<unsigned char>(s[index_]);
                    if (c == '"' || c == '\\' || c < 0x20) break;
                    beyond_ascii = beyond_ascii || c >= 0x80;
                    out[len++] = s[index_++];
                }
                break;
            }
            const std::uint64_t v = load8(s + index_);
            std::memcpy(dst, &v, sizeof v);
            const std::uint64_t hit = scan::special_bytes(v);
            if (hit == 0) {
                seen |= v;
                len += 8;
                index_ += 8;
                continue;
            }
            std::size_t at = 0;
            if constexpr (std::endian::native == std::endian::little) {
                at = static_cast<std::size_t>(std::countr_zero(hit) >> 3);
            } else {
                while (!is_special(s[index_ + at])) ++at;
            }
            seen |= at == 0 ? 0 : v & (~std::uint64_t{0} >> (64 - 8 * at));
            len += at;
            index_ += at;
            break;
        }
        beyond_ascii = beyond_ascii || (seen & HIGHS) != 0;
        if (index_ == n) return done(fail_after(says::eof_string));
        const char c = s[index_++];
        if (c == '"') {
            done(true);
            if (beyond_ascii && !valid_utf8(out)) return fail_after(says::invalid_code_point);
            return true;
        }
        if (c != '\\') return done(fail_after(says::control_character));
        if (index_ == n) return done(fail_after(says::eof_string));
        char* const dst = out.data() + len;
        switch (s[index_++]) {
            case '"': *dst = '"'; ++len; break;
            case '\\': *dst = '\\'; ++len; break;
            case '/': *dst = '/'; ++len; break;
            case 'b': *dst = '\b'; ++len; break;
            case 'f': *dst = '\f'; ++len; break;
            case 'n': *dst = '\n'; ++len; break;
            case 'r': *dst = '\r'; ++len; break;
            case 't': *dst = '\t'; ++len; break;
            case 'u': {
                std::uint32_t cp = 0;
                if (!code_point(cp)) return done(false);
                len += put_utf8(cp, dst);  // at most 4 bytes, from at least 6 read
                break;
            }
            default: return done(fail_after(says::invalid_escape));
        }
    }
}

bool Reader::read_string_view(std::string_view& out, std::string& storage) {
    const std::size_t start = index_;
    bool beyond_ascii = false;
    const std::size_t end = scan::plain_run(text_.data(), start, text_.size(), beyond_ascii);
    if (end < text_.size() && text_[end] == '"') {
        index_ = end + 1;
        const std::string_view s = text_.substr(start, end - start);
        if (beyond_ascii && !valid_utf8(s)) return fail_after(says::invalid_code_point);
        out = s;
        return true;
    }
    // An escape, a control character or the end of the text: the full reading.
    if (!read_string(storage)) return false;
    out = storage;
    return true;
}

bool Reader::skip_string() {
    const std::size_t n = text_.size();
    for (;;) {
        bool ignored = false;
        index_ = scan::plain_run(text_.data(), index_, n, ignored);
        if (index_ == n) return fail_after(says::eof_string);
        const char c = text_[index_];
        if (c == '"') {
            ++index_;
            return true;
        }
        // A control byte is reported where it stands, unconsumed.
        if (c != '\\') return fail_after(says::control_character);
        ++index_;
        if (index_ == n) return fail_after(says::eof_string);
        switch (text_[index_++]) {
            case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't': break;
            case 'u': {
                std::uint32_t unused = 0;
                if (!hex4(unused)) return false;
                break;
            }
            default: return fail_after(says::invalid_escape);
        }
    }
}

bool Reader::scan_number(NumberMode mode, NumberToken& out) {
    const std::size_t start = index_;
    const bool skipped = mode == NumberMode::skipped;
    // Where a digit must come and the text has ended.
    const std::string_view ended = skipped ? says::invalid_number : says::eof_value;
    out.negative = peek() == '-';
    out.integral = true;
    if (out.negative) eat();

    if (index_ == text_.size()) return fail_after(ended);
    const char first = text_[index_++];
    bool significant = first != '0';  // a non-zero digit in the mantissa
    if (first == '0') {
        if (is_digit(peek())) return fail_at(says::invalid_number);
    } else if (is_digit(first)) {
        while (is_digit(peek())) eat();
    } else {
        return fail_after(says::invalid_number);
    }

    if (peek() == '.') {
        eat();
        out.integral = false;
        if (!is_digit(peek())) return fail_at(peek() == -1 ? ended : says::invalid_number);
        while (is_digit(peek())) {
            significant |= peek() != '0';
            eat();
        }
    }
    if (peek() == 'e' || peek() == 'E') {
        eat();
        out.integral = false;
        bool exp_positive = true;
        if (peek() == '+' || peek() == '-') {
            exp_positive = peek() == '+';
            eat();
        }
        if (index_ == text_.size()) return fail_after(ended);
        const char d = text_[index_++];
        if (!is_digit(d)) return fail_after(says::invalid_number);
        // In an integer position an exponent beyond 32 bits is refused as
        // soon as its digits overflow, when it would make the value infinite.
        constexpr std::int64_t exp_max = std::numeric_limits<std::int32_t>::max();
        std::int64_t exponent = d - '0';
        bool overflowed = false;
        while (is_digit(peek())) {
            const int digit = peek() - '0';
            eat();
            if (overflowed) continue;
            if (exponent * 10 + digit > exp_max) {
                if (mode == NumberMode::integer && significant && exp_positive) {
                    return fail_after(says::number_out_of_range);
                }
                overflowed = true;
                continue;
            }
            exponent = exponent * 10 + digit;
        }
    }
    out.text = text_.substr(start, index_ - start);
    return true;
}

bool Reader::read_number_value(NumberValue& out) {
    NumberToken t;
    if (!scan_number(NumberMode::integer, t)) return false;
    if (t.integral) {
        std::uint64_t magnitude = 0;
        if (digits_to_u64(t.negative ? t.text.substr(1) : t.text, magnitude)) {
            if (!t.negative) {
                out.kind = NumberValue::Kind::unsigned_int;
                out.u = magnitude;
                return true;
            }
            if (magnitude != 0 && magnitude <= (std::uint64_t{1} << 63)) {
                out.kind = NumberValue::Kind::signed_int;
                out.i = static_cast<std::int64_t>(0 - magnitude);
                return true;
            }
        }
    }
    // A fraction, an exponent, -0, or an integer beyond 64 bits.
    out.kind = NumberValue::Kind::floating;
    out.literal = t.text;
    if (exceeds_double(t.text)) return fail_after(says::number_out_of_range);
    return true;
}

// ---- values -----------------------------------------------------------

bool Reader::skip_seq() {
    bool first = true;
    for (;;) {
        const int c = skip_ws();
        if (c == ']') {
            eat();
            return true;
        }
        if (c == ',' && !first) {
            eat();
        } else if (c == -1) {
            return fail_at(says::eof_list);
        } else if (first) {
            first = false;
        } else {
            return fail_at(says::expected_comma_or_bracket);
        }
        if (!skip_value()) return false;
    }
}

bool Reader::skip_map() {
    bool first = true;
    for (;;) {
        int c = skip_ws();
        if (c == '}') {
            eat();
            return true;
        }
        if (c == ',' && !first) {
            eat();
            c = skip_ws();
        } else if (c == -1) {
            return fail_at(says::eof_object);
        } else if (first) {
            first = false;
        } else {
            return fail_at(says::expected_comma_or_brace);
        }
        // Unlike a decoded object, the end of the text right after a `,` is
        // the object's end.
        if (c == -1) return fail_at(says::eof_object);
        if (c != '"') return fail_at(says::key_must_be_a_string);
        eat();
        if (!skip_string() || !colon() || !skip_value()) return false;
    }
}

bool Reader::skip_value() {
    const int c = skip_ws();
    switch (c) {
        case -1: return fail_at(says::eof_value);
        case 'n': eat(); return ident("ull");
        case 't': eat(); return ident("rue");
        case 'f': eat(); return ident("alse");
        case '"': eat(); return skip_string();
        case '[': {
            if (!enter()) return false;
            const bool ok = skip_seq();
            leave();
            return ok;
        }
        case '{': {
            if (!enter()) return false;
            const bool ok = skip_map();
            leave();
            return ok;
        }
        default: {
            if (c == '-' || is_digit(c)) {
                NumberToken ignored;
                return scan_number(NumberMode::skipped, ignored);
            }
            return fail_at(says::expected_value);
        }
    }
}

bool Reader::invalid_type(std::string_view expected) {
    const auto fail_found = [&](Kind kind, bool boolean, std::string_view text) {
        return fail_after("invalid type: " + describe(kind, boolean, text, Naming::payload) + ", expected " +
                          std::string(expected));
    };
    const int c = peek();
    switch (c) {
        case 'n': eat(); return ident("ull") && fail_found(Kind::null, false, {});
        case 't': eat(); return ident("rue") && fail_found(Kind::boolean, true, {});
        case 'f': eat(); return ident("alse") && fail_found(Kind::boolean, false, {});
        case '"': {
            eat();
            std::string s;
            return read_string(s) && fail_found(Kind::string, false, s);
        }
        case '[': return fail_found(Kind::array, false, {});
        case '{': return fail_found(Kind::object, false, {});
        default: {
            if (c == '-' || is_digit(c)) {
                NumberToken t;
                return scan_number(NumberMode::value, t) && fail_found(Kind::number, false, t.text);
            }
            return fail_at(says::expected_value);
        }
    }
}

// ---- descriptions -----------------------------------------------------

std::string describe(Kind kind, bool boolean, std::string_view text, Naming naming) {
    switch (kind) {
        case Kind::null: return naming == Naming::payload ? "null" : "unit value";
        case Kind::boolean: return boolean ? "boolean `true`" : "boolean `false`";
        case Kind::number: return naming == Naming::payload ? describe_number(text) : "number";
        case Kind::string: {
            std::string out = "string \"";
            append_debug_escaped(text, out);
            out.push_back('"');
            return out;
        }
        case Kind::array: return "sequence";
        default: return "map";
    }
}

std::string format_float(std::string_view literal) {
    DecimalDigits d = decimal_digits(literal);
    std::string out = d.negative ? "-" : "";
    if (d.digits.empty()) return out + "0.0";
    // At most 17 significant digits (as many as a double can need), rounded
    // half to even.
    constexpr std::size_t SHOWN_DIGITS = 17;
    if (d.digits.size() > SHOWN_DIGITS) {
        const char first_cut = d.digits[SHOWN_DIGITS];
        const bool rest = d.beyond || d.digits.find_first_not_of('0', SHOWN_DIGITS + 1) != std::string::npos;
        d.digits.resize(SHOWN_DIGITS);
        const bool odd = (d.digits.back() - '0') % 2 != 0;
        if (first_cut > '5' || (first_cut == '5' && (rest || odd))) {
            std::size_t i = SHOWN_DIGITS;
            while (i > 0 && d.digits[i - 1] == '9') d.digits[--i] = '0';
            if (i == 0) {
                d.digits.insert(d.digits.begin(), '1');
                ++d.exponent;
            } else {
                ++d.digits[i - 1];
            }
        }
        while (d.digits.back() == '0') d.digits.pop_back();
    }
    const std::string& digits = d.digits;
    const auto length = static_cast<std::int64_t>(digits.size());
    const std::int64_t kk = d.exponent;  // the value lies in [10^(kk-1), 10^kk)
    const std::int64_t k = kk - length;  // the exponent of the last digit
    if (k >= 0 && kk <= 16) {            // 1234e7 -> 12340000000.0
        out += digits;
        out.append(static_cast<std::size_t>(k), '0');
        out += ".0";
    } else if (kk > 0 && kk <= 16) {     // 1234e-2 -> 12.34
        out += digits.substr(0, static_cast<std::size_t>(kk));
        out += '.';
        out += digits.substr(static_cast<std::size_t>(kk));
    } else if (kk > -5 && kk <= 0) {     // 1234e-6 -> 0.001234
        out += "0.";
        out.append(static_cast<std::size_t>(-kk), '0');
        out += digits;
    } else {                             // 1e30, 1.234e33, 1e-7
        out += digits.substr(0, 1);
        if (length > 1) {
            out += '.';
            out += digits.substr(1);
        }
        out += 'e';
        out += std::to_string(kk - 1);
    }
    return out;
}

std::string describe_float(std::string_view literal) {
    return "floating point `" + format_float(literal) + "`";
}

}  // namespace quillon_core::json
