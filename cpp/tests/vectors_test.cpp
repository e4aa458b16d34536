// The recorded engine cases of tests/vectors, read by the pytest driver too:
// every stage case answers exactly the recorded text, and every malformed
// payload is refused with exactly the recorded message.
#include <fstream>
#include <string>
#include <string_view>

#include "check.hpp"
#include "quillon_accounts/registry.hpp"
#include "quillon_core/ffi.hpp"
#include "quillon_core/json_doc.hpp"
#include "quillon_core/json_writer.hpp"

namespace json = quillon_core::json;

namespace {

std::string call(std::string_view op, std::string_view payload) {
    return quillon_core::ffi::call(quillon_accounts::accounts_ops(), op, payload);
}

std::string member(const json::Node& c, std::string_view key) {
    std::string out;
    json::write(*c.find(key), out);
    return out;
}

// The payload as text, or made of its parts (see tests/test_vectors.py).
std::string payload_of(const json::Node& c) {
    if (const auto* text = c.find("payload")) {
        std::string payload(text->text());
        if (const auto* repeat = c.find("repeat")) {
            for (const auto& run : repeat->items()) {
                std::string units;
                const auto times = std::stoul(std::string(run.items()[1].text()));
                for (unsigned long i = 0; i < times; ++i) units += run.items()[0].text();
                payload.replace(payload.find("@REPEAT@"), 8, units);
            }
        }
        return payload;
    }
    if (const auto* body = c.find("body")) {
        std::string out = R"({"input":)" + member(c, "input") + R"(,"response":{"status":)";
        out += std::string(c.find("status")->text()) + R"(,"body":)";
        json::write_string(body->text(), out);
        return out + "}}";
    }
    return R"({"config":)" + member(c, "config") + R"(,"input":)" + member(c, "input") +
           R"(,"token":)" + member(c, "token") + "}";
}

// Runs `check` on every case of one file; answers how many there were.
template <class F>
int each_case(const char* name, F check) {
    std::ifstream file(std::string(QUILLON_SOURCE_DIR) + "/tests/vectors/" + name);
    int count = 0;
    for (std::string line; std::getline(file, line);) {
        if (line.empty()) continue;
        auto doc = json::Doc::parse(line);
        CHECK(static_cast<bool>(doc));
        if (!doc) continue;
        ++count;
        check(doc.value().root(), count);
    }
    return count;
}

}  // namespace

TEST(stage_cases_answer_the_recorded_text) {
    for (const char* name : {"parse-stage.jsonl", "build-stage.jsonl"}) {
        const int count = each_case(name, [&](const json::Node& c, int n) {
            const auto answer = call(c.find("op")->text(), payload_of(c));
            if (answer != c.find("answer")->text()) {
                check::fail(name, n, "answer: " + answer.substr(0, 400));
            }
        });
        CHECK(count >= 60);
    }
}

TEST(malformed_payloads_are_refused_with_the_recorded_message) {
    const int count = each_case("payload-decoding.jsonl", [](const json::Node& c, int n) {
        const auto answer = call(c.find("op")->text(), c.find("payload")->text());
        const auto& message = *c.find("message");
        if (message.is_null()) {
            if (answer.find(R"("message":"invalid payload)") != std::string::npos) {
                check::fail("payload-decoding.jsonl", n, "refused: " + answer);
            }
            return;
        }
        std::string expected = R"({"error":{"kind":"ffi","message":)";
        json::write_string(message.text(), expected);
        expected += R"(,"retryable":false},"ok":false})";
        if (answer != expected) check::fail("payload-decoding.jsonl", n, "answer: " + answer);
    });
    CHECK(count >= 300);
}
