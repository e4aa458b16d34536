// The engine's limits on hostile input: sizes beyond what a document keeps
// are refused rather than cut short, and nesting far past the limit is
// refused without using stack for it.
#include <stdexcept>
#include <string>
#include <string_view>

#include "check.hpp"
#include "quillon_accounts/registry.hpp"
#include "quillon_core/ffi.hpp"
#include "quillon_core/json_doc.hpp"
#include "quillon_core/json_writer.hpp"

using quillon_core::json::Kind;
using quillon_core::json::Node;

namespace {

std::string call(const std::string& op, const std::string& payload) {
    return quillon_core::ffi::call(quillon_accounts::accounts_ops(), op, payload);
}

bool contains(const std::string& text, std::string_view part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(a_string_past_four_gigabytes_is_refused_not_cut_short) {
    const char byte = 'x';
    // Only the size is looked at: nothing reads past the one byte.
    const std::string_view huge(&byte, (std::size_t{1} << 32) + 5);
    bool refused = false;
    try {
        (void)Node::scalar(Kind::string, huge);
    } catch (const std::length_error&) {
        refused = true;
    }
    CHECK(refused);
    const std::string_view largest(&byte, (std::size_t{1} << 32) - 1);
    CHECK_EQ(Node::scalar(Kind::string, largest).text().size(), largest.size());
}

TEST(nesting_millions_deep_is_refused_at_the_limit) {
    const std::string deep(10'000'000, '[');
    const std::string payload_answer = call("accounts.get.build", R"({"trace":)" + deep);
    CHECK(contains(payload_answer, "invalid payload: recursion limit exceeded at line 1 column 136"));

    std::string payload = R"({"input":{"nit":"1","account_number":"1"},"response":{"status":200,"body":)";
    quillon_core::json::write_string(deep, payload);
    payload += "}}";
    const std::string body_answer = call("accounts.get.parse", payload);
    CHECK(contains(body_answer, "invalid JSON body: recursion limit exceeded at line 1 column 128"));
}
