// The eight operations in listing order, each with its id: the one list that
// the registry's table (listing and dispatch, registry.cpp) and the lookup by
// name (operation_lookup.cpp) are made from. The lookup lives apart from the
// dispatch table, so that code which only names operations (the `_objects`
// module) does not link every operation's stages.
#pragma once

#include "operations.hpp"
#include "registry.hpp"

namespace quillon_accounts {

template <class Op, OpId Id>
struct Listed {
    using Operation = Op;
    static constexpr OpId id = Id;
};

template <class... Ls>
struct OperationList {};

using Operations = OperationList<Listed<ops::GetAccount, OpId::get>, Listed<ops::ListAccounts, OpId::list>,
                                 Listed<ops::Create, OpId::create>, Listed<ops::ChangeStatus, OpId::set_status>,
                                 Listed<ops::Reconcile, OpId::reconcile>, Listed<ops::Credits, OpId::credits>,
                                 Listed<ops::Debits, OpId::debits>, Listed<ops::Balances, OpId::balances>>;

}  // namespace quillon_accounts
