// The two engines of the record tables (record.hpp): payload records read
// straight from the text, gateway records read from a document.
#include "record.hpp"

#include <limits>

namespace quillon_core::record {

using json::Reader;
using FieldDesc = Field<TextRead>;

namespace {

bool is_digit(int c) { return c >= '0' && c <= '9'; }

// A failure of the record as a whole (a repeated field, a short array) is
// reported once the reader has stepped over the whitespace that follows and
// over the record's closing bracket when that comes next.
bool fail_closing(Reader& r, char close, const std::string& message) {
    if (r.skip_ws() == close) r.eat();
    return r.fail_after(message);
}

std::string quoted(std::string_view name) { return "`" + std::string(name) + "`"; }

bool read_object(Reader& r, void* record, std::span<const FieldDesc> fields) {
    std::uint32_t seen = 0;
    const bool read = r.each_member([&] {
        std::string& key = r.scratch();
        if (!r.read_string(key)) return false;
        std::size_t i = 0;
        while (i < fields.size() && fields[i].name != key) ++i;
        if (i < fields.size() && (seen >> i & 1U) != 0) {
            return fail_closing(r, '}', "duplicate field " + quoted(fields[i].name));
        }
        if (!r.colon()) return false;
        if (i == fields.size()) return r.skip_value();
        if (!fields[i].read(r, record)) return false;
        seen |= 1U << i;
        return true;
    });
    if (!read) return false;
    // Reported after the closing "}", which has been read.
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if ((seen >> i & 1U) == 0 && fields[i].presence == Presence::required) {
            return r.fail_after("missing field " + quoted(fields[i].name));
        }
    }
    return true;
}

bool read_array(Reader& r, void* record, std::string_view name, std::span<const FieldDesc> fields) {
    if (!r.enter()) return false;
    bool first = true;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        bool more = false;
        if (!r.next_element(first, more)) return false;
        if (more) {
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
    if (c == -1) return r.fail_at(json::says::eof_value);
    return r.invalid_type("struct " + std::string(name));
}

bool read_text(Reader& r, std::string& out) {
    const int c = r.skip_ws();
    if (c == '"') {
        r.eat();
        return r.read_string(out);
    }
    if (c == -1) return r.fail_at(json::says::eof_value);
    return r.invalid_type("a string");
}

bool read_integer(Reader& r, IntType type, std::uint64_t& out) {
    const std::string_view expected = type == IntType::u16 ? "u16" : type == IntType::i64 ? "i64" : "u64";
    const int c = r.skip_ws();
    if (c == -1) return r.fail_at(json::says::eof_value);
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
    if (c != '{') return r.fail_at(c == -1 ? json::says::eof_value : json::says::expected_value);

    // {"word": null}
    if (!r.enter()) return false;
    c = r.skip_ws();
    if (c == -1) return r.fail_at(json::says::eof_value);
    if (c != '"') return r.invalid_type("variant identifier");
    r.eat();
    if (!word() || !r.colon()) return false;
    c = r.skip_ws();
    if (c == -1) return r.fail_at(json::says::eof_value);
    if (c != 'n') return r.invalid_type("unit");
    r.eat();
    if (!r.ident("ull")) return false;
    r.leave();
    c = r.skip_ws();
    if (c == '}') {
        r.eat();
        return true;
    }
    return r.fail_after(c == -1 ? json::says::eof_object : json::says::expected_value);
}

bool read_null(Reader& r, bool& is_null) {
    is_null = r.skip_ws() == 'n';
    if (!is_null) return true;
    r.eat();
    return r.ident("ull");
}

bool read_list(Reader& r, void* list, bool (*element)(Reader&, void* list)) {
    const int c = r.skip_ws();
    if (c == -1) return r.fail_at(json::says::eof_value);
    if (c != '[') return r.invalid_type("a sequence");
    return r.each_element([&] { return element(r, list); });
}

// ---- gateway records ---------------------------------------------------------

namespace {

using NodeField = Field<NodeRead>;
using json::Node;

error::Result<void> fail(std::string message) { return error::Error::decode(std::move(message)); }

void reset_all(void* record, std::span<const NodeField> fields) {
    for (const NodeField& f : fields) f.reset(record);
}

std::size_t field_index(std::span<const NodeField> fields, std::string_view key, std::size_t previous,
                        KeyOrder& order) {
    const std::size_t guess = order.next[previous];
    if (guess < fields.size() && fields[guess].named(key)) return guess;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].named(key)) {
            order.next[previous] = static_cast<std::uint8_t>(i);
            return i;
        }
    }
    return fields.size();
}

// The members in ascending key order, the last of repeated keys winning, each
// field read as met; then the first required field not seen, in declaration
// order. This is the decoding as defined; `read_object` gets the same result
// faster whenever it can.
error::Result<void> read_sorted(const Node& v, void* out, std::span<const NodeField> fields) {
    reset_all(out, fields);
    std::uint32_t seen = 0;
    for (const json::Member* member : json::sorted_members(v)) {
        std::size_t i = 0;
        while (i < fields.size() && !fields[i].named(member->key)) ++i;
        if (i == fields.size()) continue;  // unknown key: not examined
        const std::uint32_t bit = std::uint32_t{1} << i;
        if (seen & bit) return fail("duplicate field `" + std::string(fields[i].name) + "`");
        seen |= bit;
        if (auto read = fields[i].read(member->value, out); !read) return read;
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].presence == Presence::required && !(seen & (std::uint32_t{1} << i))) {
            return fail("missing field `" + std::string(fields[i].name) + "`");
        }
    }
    return {};
}

// Object form, in the order of the text. Reading a field does not depend on
// the other fields, so while no key repeats (or meets its alias) and no field
// fails, this order gives what the sorted order gives. Otherwise the record
// is read again by `read_sorted`, which settles the outcome and the message.
// A second way kept for speed: with the document it took 100,000 movements
// from 3.32 s to 1.55 s per call (bench/RESULTS.md), sorting nothing.
error::Result<void> read_object(const Node& v, void* out, std::span<const NodeField> fields, KeyOrder& order) {
    std::uint32_t seen = 0;
    std::size_t previous = KeyOrder::MAX_FIELDS;
    for (const json::Member& member : v.members()) {
        const std::size_t i = field_index(fields, member.key, previous, order);
        if (i == fields.size()) continue;
        previous = i;
        const std::uint32_t bit = std::uint32_t{1} << i;
        if ((seen & bit) || !fields[i].read(member.value, out)) return read_sorted(v, out, fields);
        seen |= bit;
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (seen & (std::uint32_t{1} << i)) continue;
        if (fields[i].presence == Presence::required) {
            return fail("missing field `" + std::string(fields[i].name) + "`");
        }
        fields[i].reset(out);
    }
    return {};
}

// Array form: element i is field i; a short array leaves optional fields at
// their defaults and fails at the first required one; a long one fails.
error::Result<void> read_array(const Node& v, void* out, std::string_view name, std::span<const NodeField> fields) {
    reset_all(out, fields);
    const auto items = v.items();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i < items.size()) {
            if (auto read = fields[i].read(items[i], out); !read) return read;
        } else if (fields[i].presence == Presence::required) {
            return fail("invalid length " + std::to_string(i) + ", expected struct " + std::string(name) + " with " +
                        std::to_string(fields.size()) + " elements");
        }
    }
    if (items.size() > fields.size()) {
        return fail("invalid length " + std::to_string(items.size()) + ", expected fewer elements in array");
    }
    return {};
}

}  // namespace

std::string invalid_type(const Node& found, std::string_view expected) {
    return "invalid type: " + json::describe(found.kind(), found.as_bool(), found.text(), json::Naming::gateway) +
           ", expected " + std::string(expected);
}

error::Result<void> read_record(const Node& node, void* record, std::string_view name,
                                std::span<const NodeField> fields, KeyOrder& order) {
    auto read = node.is_object()  ? read_object(node, record, fields, order)
                : node.is_array() ? read_array(node, record, name, fields)
                                  : fail(invalid_type(node, "struct " + std::string(name)));
    if (!read) reset_all(record, fields);
    return read;
}

}  // namespace quillon_core::record
