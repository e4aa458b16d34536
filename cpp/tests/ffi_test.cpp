// The call protocol: listing, and every failure answered as an envelope.
// (Operation and stage selection and the payloads' forms are in the
// recorded cases of tests/vectors.)
#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "check.hpp"
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
