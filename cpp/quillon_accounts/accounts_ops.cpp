// The accounts registry: one table of the eight operations drives both the
// listing ("describe") and the dispatch of `op` texts.
#include "accounts_ops.hpp"

#include <array>

#include "../quillon_core/ffi.hpp"
#include "model_decode.hpp"
#include "model_json.hpp"
#include "ops.hpp"

namespace quillon_accounts {

namespace {

using quillon_core::operation::OpInfo;
using quillon_core::operation::StageFn;

struct Entry {
    std::string_view name;
    bool idempotent;
    StageFn stage;
};

template <class Op>
constexpr Entry entry(bool idempotent) {
    return Entry{Op::NAME, idempotent, &quillon_core::ffi::run<Op>};
}

// In listing order.
constexpr std::array<Entry, 8> TABLE = {
    entry<ops::GetAccount>(true),
    entry<ops::ListAccounts>(true),
    entry<ops::Create>(false),
    entry<ops::ChangeStatus>(true),
    entry<ops::Reconcile>(true),
    entry<ops::Credits>(true),
    entry<ops::Debits>(true),
    entry<ops::Balances>(true),
};

}  // namespace

std::optional<quillon_core::error::Result<quillon_core::json::Value>> AccountsOps::dispatch(
    std::string_view op, std::string_view payload) const {
    for (const Entry& e : TABLE) {
        if (op.size() > e.name.size() && op.starts_with(e.name) && op[e.name.size()] == '.') {
            return e.stage(op.substr(e.name.size() + 1), payload);
        }
    }
    return std::nullopt;
}

std::vector<OpInfo> AccountsOps::operations() const {
    std::vector<OpInfo> list;
    list.reserve(TABLE.size());
    for (const Entry& e : TABLE) {
        OpInfo info;
        info.kind = OpInfo::Kind::operation;
        info.name = e.name;
        info.idempotent = e.idempotent;
        list.push_back(info);
    }
    return list;
}

const AccountsOps& accounts_ops() {
    static const AccountsOps instance;
    return instance;
}

}  // namespace quillon_accounts
