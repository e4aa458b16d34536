#include "json_writer.hpp"

#include <cstdint>
#include <cstring>

namespace quillon_core::json {

namespace {

// The index of the first byte from `i` on that needs an escape (a quotation
// mark, a backslash or a control character), or the text's length; eight
// bytes at a time.
std::size_t plain_run(std::string_view text, std::size_t i) {
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    constexpr std::uint64_t highs = 0x8080808080808080ULL;
    const std::size_t n = text.size();
    while (i + 8 <= n) {
        std::uint64_t v;
        std::memcpy(&v, text.data() + i, sizeof v);
        const std::uint64_t q = v ^ (ones * '"');
        const std::uint64_t b = v ^ (ones * '\\');
        if ((((q - ones) & ~q) | ((b - ones) & ~b) | ((v - ones * 0x20) & ~v)) & highs) break;
        i += 8;
    }
    return i;
}

}  // namespace

void write_string(std::string_view text, std::string& out) {
    static constexpr char hex[] = "0123456789abcdef";
    out.push_back('"');
    std::size_t run = 0;  // start of the pending run of bytes written as they are
    for (std::size_t i = plain_run(text, 0); i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(text.data() + run, i - run);
        run = i + 1;
        switch (c) {
            case '"': out.append("\\\""); break;
            case '\\': out.append("\\\\"); break;
            case '\b': out.append("\\b"); break;
            case '\t': out.append("\\t"); break;
            case '\n': out.append("\\n"); break;
            case '\f': out.append("\\f"); break;
            case '\r': out.append("\\r"); break;
            default:
                out.append("\\u00");
                out.push_back(hex[c >> 4]);
                out.push_back(hex[c & 0xF]);
        }
    }
    out.append(text.data() + run, text.size() - run);
    out.push_back('"');
}

void write(const Value& value, std::string& out) {
    switch (value.kind()) {
        case Kind::Null: out.append("null"); break;
        case Kind::Bool: out.append(value.as_bool() ? "true" : "false"); break;
        case Kind::Number:
        case Kind::Raw: out.append(value.text()); break;
        case Kind::String: write_string(value.text(), out); break;
        case Kind::Array: {
            out.push_back('[');
            bool first = true;
            for (const auto& item : value.items()) {
                if (!first) out.push_back(',');
                first = false;
                write(item, out);
            }
            out.push_back(']');
            break;
        }
        case Kind::Object: {
            out.push_back('{');
            bool first = true;
            for (const auto& [key, member] : value.members()) {
                if (!first) out.push_back(',');
                first = false;
                write_string(key, out);
                out.push_back(':');
                write(member, out);
            }
            out.push_back('}');
            break;
        }
    }
}

std::string to_text(const Value& value) {
    std::string out;
    write(value, out);
    return out;
}

}  // namespace quillon_core::json
