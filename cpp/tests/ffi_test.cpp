// The call protocol: listing, operation and stage selection, payloads
// decoded and handed on, and every failure answered as an envelope.
#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "check.hpp"
#include "quillon_accounts/inputs.hpp"
#include "quillon_accounts/registry.hpp"
#include "quillon_core/ffi.hpp"
#include "quillon_core/json_writer.hpp"

namespace ffi = quillon_core::ffi;
using quillon_core::error::Error;
using quillon_core::error::Result;
using quillon_core::json::Value;
using quillon_core::operation::OpInfo;
using quillon_core::operation::Registry;

namespace {

std::string accounts(const std::string& op, const std::string& payload = "") {
    return ffi::call(quillon_accounts::accounts_ops(), op, payload);
}

// A registry whose every operation does what the test asks of it.
struct FakeRegistry final : Registry {
    Result<Value> (*behaviour)();
    explicit FakeRegistry(Result<Value> (*b)()) : behaviour(b) {}
    Result<Value> dispatch(std::string_view, std::string_view) const override { return behaviour(); }
    std::vector<OpInfo> operations() const override { return {{"t.slow", false}}; }
};

std::string fake(Result<Value> (*behaviour)(), const std::string& op = "t.x.build") {
    return ffi::call(FakeRegistry(behaviour), op, "");
}

// An operation that reports what the protocol handed it.
struct Probe {
    struct Output {
        std::string seen;
        Value to_value() const { return Value::string(seen); }
    };
    static constexpr std::string_view name = "probe.op";
    using Input = quillon_accounts::model::AccountRef;
    static Result<quillon_core::http::HttpRequest> request(const quillon_core::operation::Ctx& ctx,
                                                           const Input& input) {
        quillon_core::http::HttpRequest r;
        r.url = ctx.config.client_id + "/" + input.account_number;
        r.headers["token"] = ctx.token ? ctx.token->access_token : "(none)";
        return r;
    }
    static Result<Output> parse_response(const quillon_core::http::HttpResponse& response) {
        if (response.status == 500) return Error::api(500, "down", {}, true);
        return Output{std::to_string(response.status) + " " + response.body};
    }
};

std::string probe(std::string_view stage, const std::string& payload) {
    auto result = ffi::run<Probe>(stage, payload);
    if (!result) return "error: " + result.error().message;
    return quillon_core::json::to_text(result.value());
}

}  // namespace

TEST(describe_lists_operations_and_ignores_the_payload) {
    const std::string describe = accounts("describe", "{");
    CHECK(describe.starts_with(R"({"ok":true,"value":[{"idempotent":true,"kind":"operation","name":"accounts.get"},)"));
    CHECK(describe.find(R"({"idempotent":false,"kind":"operation","name":"accounts.create"})") != std::string::npos);
    CHECK(describe.ends_with(R"({"idempotent":true,"kind":"operation","name":"accounts.balances"}]})"));
    CHECK_EQ(std::count(describe.begin(), describe.end(), '{'), 9);
    CHECK_EQ(fake([] { return Result<Value>(Value::null()); }, "describe"),
             R"({"ok":true,"value":[{"idempotent":false,"kind":"operation","name":"t.slow"}]})");
}

TEST(operation_and_stage_selection) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"accounts.get", "unknown operation `accounts.get`"},
        {"ACCOUNTS.GET.BUILD", "unknown operation `ACCOUNTS.GET.BUILD`"},
        {"accounts.get.", "unknown stage `` for `accounts.get`"},
        {"accounts.get.parse.now", "unknown stage `parse.now` for `accounts.get`"},
        {"accounts.list.build", "invalid payload: EOF while parsing a value at line 1 column 0"},
    };
    for (const auto& [op, message] : cases) {
        // The stage is judged before the payload, which here is not JSON.
        CHECK_EQ(accounts(op, ""), R"({"error":{"kind":"ffi","message":")" + message +
                                       R"(","retryable":false},"ok":false})");
    }
}

TEST(operations_are_found_by_their_exact_name_in_listing_order) {
    using quillon_accounts::find_operation;
    using quillon_accounts::OpId;
    const auto listed = quillon_accounts::accounts_ops().operations();
    CHECK_EQ(listed.size(), std::size_t{8});
    for (std::size_t i = 0; i < listed.size(); ++i) {
        const auto found = find_operation(listed[i].name);
        CHECK(found && static_cast<std::size_t>(*found) == i);
    }
    CHECK(find_operation("accounts.debits") == OpId::debits);
    for (const std::string_view name : {"accounts.debits.build", "accounts.debit", "ACCOUNTS.GET", "", "describe"}) {
        CHECK(!find_operation(name));
    }
}

TEST(stages_decode_their_payloads_and_hand_them_on) {
    const std::string config = R"({"client_id":"cid"})";
    const std::string input = R"({"nit":"900","account_number":"77"})";
    CHECK_EQ(probe("build", R"({"config":)" + config + R"(,"input":)" + input + "}"),
             R"x({"body":null,"headers":{"token":"(none)"},"method":"GET","url":"cid/77"})x");
    CHECK_EQ(probe("build", "[" + config + ",null," + input + "]"),
             R"x({"body":null,"headers":{"token":"(none)"},"method":"GET","url":"cid/77"})x");
    CHECK_EQ(probe("build", R"({"trace":1,"input":)" + input + R"(,"token":{"access_token":"tk","token_type":"B",)"
                            R"("expires_at":0},"config":)" + config + "}"),
             R"({"body":null,"headers":{"token":"tk"},"method":"GET","url":"cid/77"})");
    CHECK_EQ(probe("parse", R"({"response":{"body":"b","status":204},"input":)" + input + "}"), R"("204 b")");
    CHECK_EQ(probe("parse", "[" + input + R"(,[200,"x"]] )"), R"("200 x")");

    CHECK_EQ(probe("build", "[" + config + "]"),
             "error: invalid payload: invalid length 2, expected struct Build with 3 elements at line 1 column 21");
    CHECK_EQ(probe("parse", R"({"response":[200,""]})"),
             "error: invalid payload: missing field `input` at line 1 column 21");
}

TEST(error_envelope_sets_retryable_from_the_error) {
    CHECK_EQ(fake([] { return Result<Value>(Error::api(503, "busy", {}, true)); }),
             R"({"error":{"errors":[],"kind":"api","message":"busy","retryable":true,"status":503},"ok":false})");
    CHECK_EQ(fake([] { return Result<Value>(Error::api(400, "no", {{"f", "m", std::nullopt}}, false)); }),
             R"({"error":{"errors":[{"code":null,"field":"f","message":"m"}],"kind":"api","message":"no",)"
             R"("retryable":false,"status":400},"ok":false})");
    CHECK_EQ(fake([] { return Result<Value>(Error::validation("token", "missing")); }),
             R"({"error":{"field":"token","kind":"validation","message":"missing","retryable":false},"ok":false})");
    CHECK_EQ(fake([] { return Result<Value>(Value::string("caf\xC3\xA9\n")); }),
             "{\"ok\":true,\"value\":\"caf\xC3\xA9\\n\"}");
}

TEST(faults_inside_an_operation_become_ffi_errors) {
    const std::string panicked =
        R"({"error":{"kind":"ffi","message":"core panicked while handling `t.x.build`","retryable":false},"ok":false})";
    CHECK_EQ(fake([]() -> Result<Value> { throw std::runtime_error("broken"); }), panicked);
    CHECK_EQ(fake([]() -> Result<Value> { throw 42; }), panicked);
    // The registry is still usable afterwards.
    CHECK_EQ(fake([] { return Result<Value>(Value::null()); }), R"({"ok":true,"value":null})");
}
