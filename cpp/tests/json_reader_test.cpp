// The document the reader makes, its nesting limit, bytes that are not
// UTF-8, and the names it gives found strings. (Syntax faults, their
// positions and the names of numbers are in the recorded cases.)
#include <string>
#include <utility>
#include <vector>

#include "check.hpp"
#include "quillon_core/json_doc.hpp"
#include "quillon_core/json_reader.hpp"
#include "quillon_core/json_writer.hpp"

namespace json = quillon_core::json;

namespace {

// The document written back compactly (members sorted), or the reader's message.
std::string read(const std::string& text) {
    const auto doc = json::Doc::parse(text);
    if (!doc) return doc.error().message;
    std::string out;
    json::write(doc.value().root(), out);
    return out;
}

void run(const std::vector<std::pair<std::string, std::string>>& cases) {
    for (const auto& [text, expected] : cases) CHECK_EQ(text + " => " + read(text), text + " => " + expected);
}

std::string nested(int levels, char open, char close) {
    return std::string(static_cast<std::size_t>(levels), open) + std::string(static_cast<std::size_t>(levels), close);
}

}  // namespace

TEST(document_keeps_literals_and_the_last_repeat_of_a_key) {
    run({
        {" {\"b\":1.50,\"a\":[true,false,null],\"b\":-0} ", R"({"a":[true,false,null],"b":-0})"},
        {"12345678901234567890123456789", "12345678901234567890123456789"},
        {"[1e400,-1E-400,0.0e+5]", "[1e400,-1E-400,0.0e+5]"},
        {R"("a\"b\\c\/\b\f\n\r\t")", R"("a\"b\\c/\b\f\n\r\t")"},
        {R"(["\u00e9\u0041","\ud83d\ude00","\uFFFF"])", "[\"\xC3\xA9" "A\",\"\xF0\x9F\x98\x80\",\"\xEF\xBF\xBF\"]"},
    });
}

// The other syntax faults and their positions are in the recorded
// parse-stage cases; bytes that are not UTF-8 cannot be recorded there.
TEST(bytes_that_are_not_utf8) {
    run({
        {"\"\xFF\"", "invalid unicode code point at line 1 column 3"},
        {"\"\xED\xA0\x80\"", "invalid unicode code point at line 1 column 5"},
    });
}

TEST(nesting_stops_at_the_128th_level) {
    CHECK_EQ(read(nested(127, '[', ']')), nested(127, '[', ']'));
    CHECK_EQ(read(nested(128, '[', ']')), "recursion limit exceeded at line 1 column 128");
    std::string objects;
    for (int i = 0; i < 127; ++i) objects += "{\"a\":";
    const std::string deep = objects + "1" + std::string(127, '}');
    CHECK_EQ(read(deep), deep);
    CHECK_EQ(read(objects + "[]" + std::string(127, '}')),
             "recursion limit exceeded at line 1 column " + std::to_string(objects.size() + 1));
    // Levels are given back when a container closes.
    CHECK_EQ(read("[" + nested(126, '[', ']') + "," + nested(126, '[', ']') + "]").substr(0, 3), "[[[");
}

TEST(long_arrays_read_back_whole) {
    // The outermost one's buffer is taken over, a nested one copied.
    std::string zeros = "[0";
    for (int i = 0; i < 3000; ++i) zeros += ",\"s" + std::to_string(i) + "\"";
    zeros += "]";
    for (const std::string& text : {zeros, "{\"data\":" + zeros + ",\"more\":[" + zeros + "," + zeros + "]}",
                                    "[" + zeros + ",1,{\"x\":" + zeros + "}]"}) {
        CHECK(read(text) == text);
    }
}

TEST(found_strings_are_written_with_debug_escapes) {
    CHECK_EQ(json::describe(json::Kind::string, false, std::string("a\"b\\c\n\r\t\0\x1b\x7f \xC3\xA9", 14),
                            json::Naming::gateway),
             "string \"a\\\"b\\\\c\\n\\r\\t\\0\\u{1b}\\u{7f} \xC3\xA9\"");
}
