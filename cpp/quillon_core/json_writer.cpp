// Writing compact JSON text: strings escaped through a cursor, the value
// tree member by member.
#include "json_writer.hpp"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "json_scan.hpp"

namespace quillon_core::json {

namespace {

// The index of the first byte from `i` on that needs an escape, or the
// text's length.
std::size_t plain_run(std::string_view text, std::size_t i) {
    bool ignored = false;
    return scan::plain_run(text.data(), i, text.size(), ignored);
}

// The escape of one byte that needs one, written at `p`; its length.
std::size_t put_escape(unsigned char c, char* p) {
    static constexpr char hex[] = "0123456789abcdef";
    p[0] = '\\';
    switch (c) {
        case '"': p[1] = '"'; return 2;
        case '\\': p[1] = '\\'; return 2;
        case '\b': p[1] = 'b'; return 2;
        case '\t': p[1] = 't'; return 2;
        case '\n': p[1] = 'n'; return 2;
        case '\f': p[1] = 'f'; return 2;
        case '\r': p[1] = 'r'; return 2;
        default:
            std::memcpy(p + 1, "u00", 3);
            p[4] = hex[c >> 4];
            p[5] = hex[c & 0xF];
            return 6;
    }
}

}  // namespace

void write_string(std::string_view text, std::string& out) {
    const std::size_t n = text.size();
    std::size_t i = plain_run(text, 0);
    if (i == n) {  // nothing to escape: most strings
        out.push_back('"');
        out.append(text);
        out.push_back('"');
        return;
    }
    // Written through a cursor into room for the rest of the text and some
    // escapes, taken again when the escapes are denser than that (the room
    // depends on this text only, never on what `out` already holds).
    std::size_t len = out.size();
    const auto room = [&](std::size_t need) {
        if (len + need > out.size()) out.resize(len + need + (n - i) + (n - i) / 8 + 16);
    };
    room(1);
    out[len++] = '"';
    std::size_t run = 0;  // start of the pending run of bytes written as they are
    while (i < n) {
        room(i - run + 6);
        std::memcpy(out.data() + len, text.data() + run, i - run);
        len += i - run;
        len += put_escape(static_cast<unsigned char>(text[i]), out.data() + len);
        run = i + 1;
        i = plain_run(text, run);
    }
    room(n - run + 1);
    std::memcpy(out.data() + len, text.data() + run, n - run);
    len += n - run;
    out[len++] = '"';
    out.resize(len);
}

namespace {

// An object's members as (key, value) pairs: a tree's in their (sorted)
// order, a document's sorted with the last of repeated keys kept.
const std::vector<Value::Member>& members_of(const Value& value) { return value.members(); }

std::vector<std::pair<std::string_view, const Node*>> members_of(const Node& value) {
    std::vector<std::pair<std::string_view, const Node*>> out;
    for (const Member* m : sorted_members(value)) out.emplace_back(m->key, &m->value);
    return out;
}

const Value& deref(const Value& v) { return v; }
const Node& deref(const Node* v) { return *v; }

template <class V>
void write_any(const V& value, std::string& out) {
    switch (value.kind()) {
        case Kind::null: out.append("null"); break;
        case Kind::boolean: out.append(value.as_bool() ? "true" : "false"); break;
        case Kind::number:
        case Kind::raw: out.append(value.text()); break;
        case Kind::string: write_string(value.text(), out); break;
        case Kind::array: {
            out.push_back('[');
            bool first = true;
            for (const V& item : value.items()) {
                if (!std::exchange(first, false)) out.push_back(',');
                write_any(item, out);
            }
            out.push_back(']');
            break;
        }
        case Kind::object: {
            out.push_back('{');
            bool first = true;
            for (const auto& [key, member] : members_of(value)) {
                if (!std::exchange(first, false)) out.push_back(',');
                write_string(key, out);
                out.push_back(':');
                write_any(deref(member), out);
            }
            out.push_back('}');
            break;
        }
    }
}

}  // namespace

void write(const Value& value, std::string& out) { write_any(value, out); }
void write(const Node& value, std::string& out) { write_any(value, out); }

std::string to_text(const Value& value) {
    std::string out;
    write(value, out);
    return out;
}

}  // namespace quillon_core::json
