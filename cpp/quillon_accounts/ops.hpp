// The eight accounts operations. Each type names its input and result
// records, builds its HTTP request ("build" stage) and turns the gateway's
// response into its result ("parse" stage).
#pragma once

#include <string_view>
#include <vector>

#include "../quillon_core/error.hpp"
#include "../quillon_core/http.hpp"
#include "../quillon_core/operation.hpp"
#include "model.hpp"
#include "model_json.hpp"

namespace quillon_accounts::ops {

using quillon_core::error::Result;
using quillon_core::http::HttpRequest;
using quillon_core::http::HttpResponse;
using quillon_core::operation::Ctx;

// The base path of every accounts request.
inline constexpr std::string_view BASE_PATH = "cuentas-comercios/v1/cuentas";

#define QUILLON_ACCOUNTS_OPERATION(Type, Name, In, Out)                         \
    struct Type {                                                              \
        static constexpr std::string_view NAME = Name;                         \
        using Input = In;                                                      \
        using Output = Out;                                                    \
        static Result<HttpRequest> request(const Ctx& ctx, const Input& input); \
        static Result<Output> parse_response(const Input& input,               \
                                             const HttpResponse& response);    \
    }

QUILLON_ACCOUNTS_OPERATION(GetAccount, "accounts.get", model::AccountRef, model::MerchantAccount);
QUILLON_ACCOUNTS_OPERATION(ListAccounts, "accounts.list", model::MerchantRef, model::MerchantAccounts);
QUILLON_ACCOUNTS_OPERATION(Create, "accounts.create", model::CreateAccounts, model::CreatedAccounts);
// The results that are lists of records (a `Reconciliation` holds two) can be
// long: they are converted element by element straight into their JSON text.
QUILLON_ACCOUNTS_OPERATION(ChangeStatus, "accounts.set_status", model::StatusChanges,
                           model::Written);  // list of StatusChanged
QUILLON_ACCOUNTS_OPERATION(Reconcile, "accounts.reconcile", model::MerchantRange,
                           model::Written);  // Reconciliation
QUILLON_ACCOUNTS_OPERATION(Credits, "accounts.credits", model::AccountRange,
                           model::Written);  // list of Movement
QUILLON_ACCOUNTS_OPERATION(Debits, "accounts.debits", model::AccountRange,
                           model::Written);  // list of Movement
QUILLON_ACCOUNTS_OPERATION(Balances, "accounts.balances", model::BalancesQuery,
                           model::Written);  // list of Balance

#undef QUILLON_ACCOUNTS_OPERATION

}  // namespace quillon_accounts::ops
