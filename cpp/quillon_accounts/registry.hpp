// The accounts registry: the table of the eight operations that the call
// protocol lists ("describe") and dispatches `op` texts through. It is the
// one table of the operations; whatever else needs to tell them apart asks
// it (`find_operation`).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "../quillon_core/operation.hpp"

namespace quillon_accounts {

class AccountsOps final : public quillon_core::operation::Registry {
public:
    quillon_core::error::Result<quillon_core::json::Value> dispatch(std::string_view op,
                                                                    std::string_view payload) const override;
    std::vector<quillon_core::operation::OpInfo> operations() const override;
};

// The one shared, read-only instance.
const AccountsOps& accounts_ops();

// The operations, in listing order.
enum class OpId : std::uint8_t { get, list, create, set_status, reconcile, credits, debits, balances };

// The operation whose name is exactly `name` ("accounts.debits", no stage),
// or nothing.
std::optional<OpId> find_operation(std::string_view name);

}  // namespace quillon_accounts
