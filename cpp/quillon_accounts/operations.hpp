// The eight accounts operations, each declared once: its name, whether
// sending it twice is safe, its input and result records, the "build" stage
// that makes its HTTP request (request_building.cpp) and the "parse" stage that turns
// the gateway's response into its result (response_handling.cpp).
#pragma once

#include <string_view>
#include <vector>

#include "../quillon_core/error.hpp"
#include "../quillon_core/http.hpp"
#include "../quillon_core/operation.hpp"
#include "inputs.hpp"
#include "result_json.hpp"
#include "results.hpp"

namespace quillon_accounts::ops {

// The base path of every accounts request.
inline constexpr std::string_view BASE_PATH = "cuentas-comercios/v1/cuentas";

// What every operation's two stages take and give.
template <class In, class Out>
struct Operation {
    using Input = In;
    using Output = Out;
    using Ctx = quillon_core::operation::Ctx;
    using Request = quillon_core::error::Result<quillon_core::http::HttpRequest>;
    using Response = quillon_core::http::HttpResponse;
    using Parsed = quillon_core::error::Result<Out>;
};

struct GetAccount : Operation<model::AccountRef, model::MerchantAccount> {
    static constexpr std::string_view name = "accounts.get";
    static constexpr bool idempotent = true;
    static Request request(const Ctx& ctx, const Input& in);
    static Parsed parse_response(const Response& response);
};

struct ListAccounts : Operation<model::MerchantRef, model::MerchantAccounts> {
    static constexpr std::string_view name = "accounts.list";
    static constexpr bool idempotent = true;
    static Request request(const Ctx& ctx, const Input& in);
    static Parsed parse_response(const Response& response);
};

// Opening accounts twice opens them twice.
struct Create : Operation<model::CreateAccounts, model::CreatedAccounts> {
    static constexpr std::string_view name = "accounts.create";
    static constexpr bool idempotent = false;
    static Request request(const Ctx& ctx, const Input& in);
    static Parsed parse_response(const Response& response);
};

// The results that are lists can be long: they are converted element by
// element straight into their JSON text (`Written`).
struct ChangeStatus : Operation<model::StatusChanges, model::Written<std::vector<model::StatusChanged>>> {
    static constexpr std::string_view name = "accounts.set_status";
    static constexpr bool idempotent = true;
    static Request request(const Ctx& ctx, const Input& in);
    static Parsed parse_response(const Response& response);
};

struct Reconcile : Operation<model::MerchantRange, model::Written<model::Reconciliation>> {
    static constexpr std::string_view name = "accounts.reconcile";
    static constexpr bool idempotent = true;
    static Request request(const Ctx& ctx, const Input& in);
    static Parsed parse_response(const Response& response);
};

struct Credits : Operation<model::AccountRange, model::Written<std::vector<model::Movement>>> {
    static constexpr std::string_view name = "accounts.credits";
    static constexpr bool idempotent = true;
    static Request request(const Ctx& ctx, const Input& in);
    static Parsed parse_response(const Response& response);
};

struct Debits : Operation<model::AccountRange, model::Written<std::vector<model::Movement>>> {
    static constexpr std::string_view name = "accounts.debits";
    static constexpr bool idempotent = true;
    static Request request(const Ctx& ctx, const Input& in);
    static Parsed parse_response(const Response& response);
};

struct Balances : Operation<model::BalancesQuery, model::Written<std::vector<model::Balance>>> {
    static constexpr std::string_view name = "accounts.balances";
    static constexpr bool idempotent = true;
    static Request request(const Ctx& ctx, const Input& in);
    static Parsed parse_response(const Response& response);
};

}  // namespace quillon_accounts::ops
