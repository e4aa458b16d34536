// Every recorded payload case through the call protocol: a malformed payload
// must be refused with exactly the recorded message, a well-formed one must
// not be refused as a payload at all.
#include <fstream>
#include <string>

#include "check.hpp"
#include "quillon_accounts/accounts_ops.hpp"
#include "quillon_core/ffi.hpp"
#include "quillon_core/json_reader.hpp"

#ifndef QUILLON_SOURCE_DIR
#define QUILLON_SOURCE_DIR "."
#endif

namespace json = quillon_core::json;

TEST(recorded_payload_cases) {
    std::ifstream in(std::string(QUILLON_SOURCE_DIR) + "/tests/vectors/payload-decoding.jsonl");
    CHECK(in.good());
    std::string line;
    int cases = 0;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        std::string message;
        const auto vector = json::parse(line, message);
        CHECK(vector.has_value());
        if (!vector) continue;
        ++cases;
        const std::string& op = vector->find("op")->text();
        const std::string& payload = vector->find("payload")->text();
        const json::Value* expected = vector->find("message");

        const std::string answer = quillon_core::ffi::call(quillon_accounts::accounts_ops(), op, payload);
        const auto envelope = json::parse(answer, message);
        CHECK(envelope.has_value());
        if (!envelope) continue;
        const json::Value* error = envelope->find("error");
        const std::string got = error != nullptr ? error->find("message")->text() : std::string();
        if (expected->is_null()) {
            CHECK_EQ(op + " " + payload + " -> " + got.substr(0, 16), op + " " + payload + " -> " +
                     (got.starts_with("invalid payload") ? std::string("(not a payload fault)") : got.substr(0, 16)));
        } else {
            CHECK_EQ(op + " " + payload + " -> " + got, op + " " + payload + " -> " + expected->text());
        }
    }
    CHECK(cases >= 300);
}
