// The accounts registry: one table of the eight operations, in listing
// order and made from their list (operation_list.hpp), drives the listing
// and the dispatch; the lookup by name is made from the same list
// (operation_lookup.cpp).
#include "registry.hpp"

#include <array>

#include "../quillon_core/ffi.hpp"
#include "operation_list.hpp"

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

template <class... Ls>
constexpr std::array<Entry, sizeof...(Ls)> table_of(OperationList<Ls...>) {
    return {entry<typename Ls::Operation>()...};
}

constexpr auto TABLE = table_of(Operations{});

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
