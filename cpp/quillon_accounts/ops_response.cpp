// The "parse" stage of the accounts operations: open the gateway's envelope
// to the operation's wire record, then convert it to the result record. The
// input is not used here; it only had to decode.
#include <utility>

#include "../quillon_core/envelope.hpp"
#include "model_convert.hpp"
#include "ops.hpp"
#include "wire.hpp"

namespace quillon_accounts::ops {

namespace {

template <class Wire, class Out>
Result<Out> open_as(const HttpResponse& response) {
    auto wire = quillon_core::envelope::CodeData::open<Wire>(response);
    if (!wire) return std::move(wire).error();
    return model::convert(std::move(wire).value());
}

}  // namespace

Result<GetAccount::Output> GetAccount::parse_response(const Input&, const HttpResponse& response) {
    return open_as<wire::Detail, Output>(response);
}

Result<ListAccounts::Output> ListAccounts::parse_response(const Input&, const HttpResponse& response) {
    return open_as<wire::List, Output>(response);
}

Result<Create::Output> Create::parse_response(const Input&, const HttpResponse& response) {
    return open_as<wire::Created, Output>(response);
}

Result<ChangeStatus::Output> ChangeStatus::parse_response(const Input&, const HttpResponse& response) {
    return open_as<std::vector<wire::Changed>, Output>(response);
}

Result<Reconcile::Output> Reconcile::parse_response(const Input&, const HttpResponse& response) {
    return open_as<wire::WReconciliation, Output>(response);
}

Result<Credits::Output> Credits::parse_response(const Input&, const HttpResponse& response) {
    return open_as<std::vector<wire::WMovement>, Output>(response);
}

Result<Debits::Output> Debits::parse_response(const Input&, const HttpResponse& response) {
    return open_as<std::vector<wire::WMovement>, Output>(response);
}

Result<Balances::Output> Balances::parse_response(const Input&, const HttpResponse& response) {
    return open_as<std::vector<wire::WBalance>, Output>(response);
}

}  // namespace quillon_accounts::ops
