// The "parse" stage of the accounts operations.
#include "ops.hpp"

#include <string>

namespace quillon_accounts::ops {

using quillon_core::error::Error;

namespace {
template <class Op>
Result<typename Op::Output> not_built() {
    return Error::ffi("stage `parse` of `" + std::string(Op::NAME) + "` is not built yet");
}
}  // namespace

#define QUILLON_NOT_BUILT(Type) \
    Result<Type::Output> Type::parse_response(const Input&, const HttpResponse&) { return not_built<Type>(); }
QUILLON_NOT_BUILT(GetAccount)
QUILLON_NOT_BUILT(ListAccounts)
QUILLON_NOT_BUILT(Create)
QUILLON_NOT_BUILT(ChangeStatus)
QUILLON_NOT_BUILT(Reconcile)
QUILLON_NOT_BUILT(Credits)
QUILLON_NOT_BUILT(Debits)
QUILLON_NOT_BUILT(Balances)
#undef QUILLON_NOT_BUILT

}  // namespace quillon_accounts::ops
