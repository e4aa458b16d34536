// The accounts registry: one operation table drives both listing and
// dispatch.
#pragma once

#include "../quillon_core/operation.hpp"

namespace quillon_accounts {

class AccountsOps final : public quillon_core::operation::Registry {
public:
    std::optional<quillon_core::error::Result<quillon_core::json::Value>> dispatch(
        std::string_view op, std::string_view payload) const override;
    std::vector<quillon_core::operation::OpInfo> operations() const override;
};

// The one shared, read-only instance.
const AccountsOps& accounts_ops();

}  // namespace quillon_accounts
