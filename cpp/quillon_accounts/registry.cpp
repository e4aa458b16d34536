// The accounts registry: one table of the eight operations, in listing
// order, drives the listing, the dispatch and the lookup by name.
#include "registry.hpp"

#include <array>

#include "../quillon_core/ffi.hpp"
#include "operations.hpp"

namespace quillon_accounts {

namespace {

using quillon_core::operation::OpInfo;

struct Entry {
    OpId id;
    OpInfo info;
    quillon_core::operation::StageFn stage;
};

template <class Op>
constexpr Entry entry(OpId id) {
    return Entry{id, {Op::name, Op::idempotent}, &quillon_core::ffi::run<Op>};
}

constexpr std::array TABLE = {
    entry<ops::GetAccount>(OpId::get),
    entry<ops::ListAccounts>(OpId::list),
    entry<ops::Create>(OpId::create),
    entry<ops::ChangeStatus>(OpId::set_status),
    entry<ops::Reconcile>(OpId::reconcile),
    entry<ops::Credits>(OpId::credits),
    entry<ops::Debits>(OpId::debits),
    entry<ops::Balances>(OpId::balances),
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

std::optional<OpId> find_operation(std::string_view name) {
    for (const Entry& e : TABLE) {
        if (e.info.name == name) return e.id;
    }
    return std::nullopt;
}

const AccountsOps& accounts_ops() {
    static const AccountsOps instance;
    return instance;
}

}  // namespace quillon_accounts
