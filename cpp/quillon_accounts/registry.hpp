// The accounts registry: the table of the eight operations that the call
// protocol lists ("describe") and dispatches `op` texts through.
#pragma once

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

}  // namespace quillon_accounts
