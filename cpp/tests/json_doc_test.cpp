// The document reader's strings against the string decoder (same text, same
// messages and positions), the eight-bytes-at-a-time scanning finding every
// special byte wherever it falls.
#include <string>
#include <vector>

#include "check.hpp"
#include "quillon_core/json_doc.hpp"
#include "quillon_core/json_reader.hpp"
#include "quillon_core/json_writer.hpp"

namespace json = quillon_core::json;

namespace {

// The document's reading of a string against the string decoder's: the text,
// or the message with its position.
void same_string(const std::string& text) {
    const auto doc = json::Doc::parse(text);
    const std::string from_doc = doc ? std::string(doc.value().root().text()) : doc.error().message;
    json::Reader reader(text);
    reader.eat();  // the opening quotation mark
    std::string decoded;
    const std::string expected = reader.read_string(decoded) && reader.finish() ? decoded : reader.error_text();
    CHECK_EQ(text.substr(0, 60) + " => " + from_doc, text.substr(0, 60) + " => " + expected);
}

// The special bytes of a JSON string (and a multi-byte character) at every
// offset of strings longer and shorter than one eight-byte step.
std::vector<std::string> strings_with_a_byte_at_every_offset() {
    const std::vector<std::string> specials = {"\\\"", "\\\\", "\\n", "\\u0001", "\x01", "\x1f",
                                               "\xc3\xa9", "\xc3", "\xed\xa0\x80", "\"", "\x7f"};
    std::vector<std::string> out;
    for (std::size_t len = 0; len <= 19; ++len) {
        for (const auto& special : specials) {
            for (std::size_t at = 0; at <= len; ++at) {
                out.push_back("\"" + std::string(at, 'a') + special + std::string(len - at, 'b') + "\"");
            }
        }
    }
    return out;
}

}  // namespace

TEST(document_strings_read_as_the_decoder_reads_them) {
    for (const auto& text : strings_with_a_byte_at_every_offset()) same_string(text);
}

TEST(find_gives_the_last_repeat_and_sorted_members_keep_it_alone) {
    const auto doc = json::Doc::parse(R"({"b":1,"a":2,"b":3,"c":{},"a":4})");
    CHECK(doc.ok());
    const json::Node& root = doc.value().root();
    CHECK_EQ(std::string(root.find("b")->text()), std::string("3"));
    CHECK_EQ(std::string(root.find("a")->text()), std::string("4"));
    CHECK(root.find("z") == nullptr);
    std::string order;
    for (const json::Member* m : json::sorted_members(root)) {
        order += std::string(m->key) + "=" + (m->value.is_object() ? "{}" : std::string(m->value.text())) + " ";
    }
    CHECK_EQ(order, std::string("a=4 b=3 c={} "));
}

TEST(written_strings_escape_every_special_byte_wherever_it_falls) {
    // The writer against a byte-by-byte rendering of the same rules.
    const auto reference = [](const std::string& s) {
        static constexpr char hex[] = "0123456789abcdef";
        std::string out = "\"";
        for (const char ch : s) {
            const auto c = static_cast<unsigned char>(ch);
            if (c == '"') out += "\\\"";
            else if (c == '\\') out += "\\\\";
            else if (c == '\b') out += "\\b";
            else if (c == '\t') out += "\\t";
            else if (c == '\n') out += "\\n";
            else if (c == '\f') out += "\\f";
            else if (c == '\r') out += "\\r";
            else if (c < 0x20) out += std::string("\\u00") + hex[c >> 4] + hex[c & 0xF];
            else out += ch;
        }
        return out + "\"";
    };
    for (std::size_t len = 0; len <= 19; ++len) {
        for (const char special : {'"', '\\', '\x00', '\x1f', '\n', '\x7f', '\x80', ' '}) {
            for (std::size_t at = 0; at < len; ++at) {
                std::string s(len, 'x');
                s[at] = special;
                std::string out;
                json::write_string(s, out);
                CHECK_EQ(out, reference(s));
            }
        }
    }
}

TEST(escaped_strings_of_any_length_decode_to_their_text) {
    // Texts with escapes at every spacing, short and longer than the point
    // (64 KiB) where the reader sizes its buffer for the rest of the text.
    for (const std::size_t length : {std::size_t{1}, std::size_t{9}, std::size_t{70'000}, std::size_t{200'000}}) {
        for (const std::size_t every : {std::size_t{1}, std::size_t{3}, std::size_t{8}, std::size_t{17}}) {
            std::string raw;
            for (std::size_t i = 0; raw.size() < length; ++i) {
                raw += i % every == 0 ? (i % 3 == 0 ? "\"" : i % 3 == 1 ? "\xc3\xa9" : "\n") : "a";
            }
            std::string escaped;
            json::write_string(raw, escaped);
            // Also with \u escapes for the non-ASCII letter, as an ASCII-only writer sends it.
            std::string ascii;
            for (std::size_t i = 0; i < escaped.size(); ++i) {
                if (escaped.compare(i, 2, "\xc3\xa9") == 0) {
                    ascii += "\\u00e9";
                    ++i;
                } else {
                    ascii += escaped[i];
                }
            }
            for (const std::string& text : {escaped, ascii, "[" + escaped + ",1]"}) {
                const auto doc = json::Doc::parse(text);
                CHECK(doc.ok());
                if (!doc) continue;
                const json::Node& root = doc.value().root();
                const std::string_view got = root.is_array() ? root.items()[0].text() : root.text();
                CHECK_EQ(got.size(), raw.size());
                CHECK(got == raw);
            }
        }
    }
}
