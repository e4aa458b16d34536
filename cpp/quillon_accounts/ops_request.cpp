// The "build" stage of the accounts operations.
#include "ops.hpp"

#include <string>

namespace quillon_accounts::ops {

using quillon_core::error::Error;

namespace {
template <class Op>
Result<HttpRequest> not_built() {
    return Error::ffi("stage `build` of `" + std::string(Op::NAME) + "` is not built yet");
}
}  // namespace

Result<HttpRequest> GetAccount::request(const Ctx&, const Input&) { return not_built<GetAccount>(); }
Result<HttpRequest> ListAccounts::request(const Ctx&, const Input&) { return not_built<ListAccounts>(); }
Result<HttpRequest> Create::request(const Ctx&, const Input&) { return not_built<Create>(); }
Result<HttpRequest> ChangeStatus::request(const Ctx&, const Input&) { return not_built<ChangeStatus>(); }
Result<HttpRequest> Reconcile::request(const Ctx&, const Input&) { return not_built<Reconcile>(); }
Result<HttpRequest> Credits::request(const Ctx&, const Input&) { return not_built<Credits>(); }
Result<HttpRequest> Debits::request(const Ctx&, const Input&) { return not_built<Debits>(); }
Result<HttpRequest> Balances::request(const Ctx&, const Input&) { return not_built<Balances>(); }

}  // namespace quillon_accounts::ops
