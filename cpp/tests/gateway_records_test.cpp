// The gateway record decoder's all-or-nothing filling. (The array forms
// and their lengths are in the recorded parse-stage cases.)
#include <optional>
#include <string>
#include <vector>

#include "check.hpp"
#include "quillon_accounts/gateway_records.hpp"

namespace json = quillon_core::json;
namespace wire = quillon_accounts::wire;

namespace {

// "ok", or the decoder's message.
template <class R>
std::string decode(const std::string& text, R& out) {
    const auto doc = json::Doc::parse(text);
    if (!doc) return "not JSON: " + doc.error().message;
    const auto read = wire::decode(doc.value().root(), out);
    return read ? "ok" : read.error().message;
}

}  // namespace

TEST(a_failed_decoding_keeps_nothing) {
    // The first account decodes, the second does not: the list comes back empty.
    std::vector<wire::WAccount> accounts{{"stale", std::nullopt, std::nullopt}};
    CHECK_EQ(decode(R"([{"numeroCuenta":"1"},{"alias":"x"}])", accounts), "missing field `numeroCuenta`");
    CHECK(accounts.empty());

    wire::Detail detail;
    detail.nit = "stale";
    CHECK_EQ(decode(R"({"nit":"9","cuenta":null})", detail), "invalid type: unit value, expected struct WAccount");
    CHECK_EQ(detail.nit, std::string(""));
}
