// The accounts registry: one table of the eight operations, in listing
// order, drives both the listing and the dispatch.
#include "registry.hpp"

#include <array>

#include "../quillon_core/ffi.hpp"
#include "operations.hpp"

namespace quillon_accounts {

namespace {

using quillon_core::operation::OpInfo;

struct Entry {
    OpInfo info;
    quillon_core::operation::StageFn stage;
};

template <class Op>
constexpr Entry entry() {
    return Entry{{Op::name, Op::idempotent}, &quillon_core::ffi::run<Op>};
}

constexpr std::array<Entry, 8> TABLE = {
    entry<ops::GetAccount>(),   entry<ops::ListAccounts>(), entry<ops::Create>(),
    entry<ops::ChangeStatus>(), entry<ops::Reconcile>(),    entry<ops::Credits>(),
    entry<ops::Debits>(),       entry<ops::Balances>(),
};

}  // namespace

quillon_core::error::Result<quillon_core::json::Value> AccountsOps::dispatch(std::string_view op,
                                                                             std::string_view payload) const {
    for (const Entry& e : TABLE) {
        const std::string_view name = e.info.name;
        if (op.size() > name.size() && op.starts_with(name) && op[name.size()] == '.') {
            return e.stage(op.substr(name.size() + 1), payload);
        }
    }
    return quillon_core::error::Error::ffi("unknown operation `" + std::string(op) + "`");
}

std::vector<OpInfo> AccountsOps::operations() const {
    std::vector<OpInfo> list;
    list.reserve(TABLE.size());
    for (const Entry& e : TABLE) list.push_back(e.info);
    return list;
}

const AccountsOps& accounts_ops() {
    static const AccountsOps instance;
    return instance;
}

}  // namespace quillon_accounts
