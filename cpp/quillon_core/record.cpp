#include "record.hpp"

#include <limits>

namespace quillon_core::record {

namespace {

bool is_digit(int c) { return c >= '0' && c <= '9'; }

// A failure of the record as a whole (a missing or repeated field, a short
// array) is reported once the reader has stepped over the whitespace that
// follows and over the record's closing bracket when that comes next.
bool fail_closing(Reader& r, char close, const std::string& message) {
    if (r.skip_ws() == close) r.eat();
    return r.fail_after(message);
}

std::string quoted(std::string_view name) { return "`" + std::string(name) + "`"; }

bool read_object(Reader& r, void* record, std::span<const FieldDesc> fields) {
    if (!r.enter()) return false;
    std::uint32_t seen = 0;
    bool first = true;
    for (;;) {
        const int step = r.next_key(first);
        if (step < 0) return false;
        if (step == 0) break;
        r.eat();
        std::string& key = r.scratch();
        if (!r.read_string(key)) return false;
        std::size_t i = 0;
        while (i < fields.size() && fields[i].name != key) ++i;
        if (i < fields.size() && (seen >> i & 1U) != 0) {
            return fail_closing(r, '}', "duplicate field " + quoted(fields[i].name));
        }
        if (!r.colon()) return false;
        if (i == fields.size()) {
            if (!r.skip_value()) return false;
            continue;
        }
        if (!fields[i].read(r, record)) return false;
        seen |= 1U << i;
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if ((seen >> i & 1U) == 0 && fields[i].presence == Presence::required) {
            return fail_closing(r, '}', "missing field " + quoted(fields[i].name));
        }
    }
    r.leave();
    return r.end_map();
}

bool read_array(Reader& r, void* record, std::string_view name, std::span<const FieldDesc> fields) {
    if (!r.enter()) return false;
    bool first = true;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const int step = r.next_element(first);
        if (step < 0) return false;
        if (step > 0) {
            if (!fields[i].read(r, record)) return false;
            continue;
        }
        if (fields[i].presence == Presence::defaulted) continue;
        const std::size_t n = fields.size();
        return fail_closing(r, ']',
                            "invalid length " + std::to_string(i) + ", expected struct " + std::string(name) +
                                " with " + std::to_string(n) + (n == 1 ? " element" : " elements"));
    }
    r.leave();
    return r.end_seq();
}

}  // namespace

bool read_record(Reader& r, void* record, std::string_view name, std::span<const FieldDesc> fields) {
    const int c = r.skip_ws();
    if (c == '{') return read_object(r, record, fields);
    if (c == '[') return read_array(r, record, name, fields);
    if (c == -1) return r.fail_at("EOF while parsing a value");
    return r.invalid_type("struct " + std::string(name));
}

bool read_text(Reader& r, std::string& out) {
    const int c = r.skip_ws();
    if (c == '"') {
        r.eat();
        return r.read_string(out);
    }
    if (c == -1) return r.fail_at("EOF while parsing a value");
    return r.invalid_type("a string");
}

bool read_integer(Reader& r, IntType type, std::uint64_t& out) {
    const std::string_view expected = type == IntType::u16 ? "u16" : type == IntType::i64 ? "i64" : "u64";
    const int c = r.skip_ws();
    if (c == -1) return r.fail_at("EOF while parsing a value");
    if (c != '-' && !is_digit(c)) return r.invalid_type(expected);
    json::NumberValue n;
    if (!r.read_number_value(n)) return false;
    const std::string tail = ", expected " + std::string(expected);
    switch (n.kind) {
        case json::NumberValue::Kind::unsigned_int: {
            const std::uint64_t max = type == IntType::u16   ? std::numeric_limits<std::uint16_t>::max()
                                      : type == IntType::i64 ? std::numeric_limits<std::int64_t>::max()
                                                             : std::numeric_limits<std::uint64_t>::max();
            if (n.u <= max) {
                out = n.u;
                return true;
            }
            return r.fail_after("invalid value: integer `" + std::to_string(n.u) + "`" + tail);
        }
        case json::NumberValue::Kind::signed_int:
            if (type == IntType::i64) {
                out = static_cast<std::uint64_t>(n.i);
                return true;
            }
            return r.fail_after("invalid value: integer `" + std::to_string(n.i) + "`" + tail);
        case json::NumberValue::Kind::floating: break;
    }
    return r.fail_after("invalid type: " + json::describe_float(n.literal) + tail);
}

bool read_variant(Reader& r, std::span<const std::string_view> words, std::size_t& index) {
    // The word of a string, or the fault naming it.
    const auto word = [&]() {
        std::string& s = r.scratch();
        if (!r.read_string(s)) return false;
        for (index = 0; index < words.size(); ++index) {
            if (words[index] == s) return true;
        }
        std::string message = "unknown variant `" + s + "`, expected one of ";
        for (std::size_t i = 0; i < words.size(); ++i) {
            if (i > 0) message += ", ";
            message += quoted(words[i]);
        }
        return r.fail_after(message);
    };

    int c = r.skip_ws();
    if (c == '"') {
        r.eat();
        return word();
    }
    if (c != '{') return r.fail_at(c == -1 ? "EOF while parsing a value" : "expected value");

    // {"word": null}
    if (!r.enter()) return false;
    c = r.skip_ws();
    if (c == -1) return r.fail_at("EOF while parsing a value");
    if (c != '"') return r.invalid_type("variant identifier");
    r.eat();
    if (!word() || !r.colon()) return false;
    c = r.skip_ws();
    if (c == -1) return r.fail_at("EOF while parsing a value");
    if (c != 'n') return r.invalid_type("unit");
    r.eat();
    if (!r.ident("ull")) return false;
    r.leave();
    c = r.skip_ws();
    if (c == '}') {
        r.eat();
        return true;
    }
    return r.fail_after(c == -1 ? "EOF while parsing an object" : "expected value");
}

bool read_null(Reader& r, bool& is_null) {
    is_null = r.skip_ws() == 'n';
    if (!is_null) return true;
    r.eat();
    return r.ident("ull");
}

bool read_list(Reader& r, void* list, bool (*element)(Reader&, void* list)) {
    const int c = r.skip_ws();
    if (c == -1) return r.fail_at("EOF while parsing a value");
    if (c != '[') return r.invalid_type("a sequence");
    if (!r.enter()) return false;
    bool first = true;
    for (;;) {
        const int step = r.next_element(first);
        if (step < 0) return false;
        if (step == 0) break;
        if (!element(r, list)) return false;
    }
    r.leave();
    return r.end_seq();
}

}  // namespace quillon_core::record
