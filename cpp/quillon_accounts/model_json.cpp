// The JSON form of the result records.
#include "model_json.hpp"

namespace quillon_accounts::model {

using quillon_core::json::Value;

Value to_value(const MerchantAccount&) { return Value(); }
Value to_value(const MerchantAccounts&) { return Value(); }
Value to_value(const CreatedAccounts&) { return Value(); }
Value to_value(const StatusChanged&) { return Value(); }
Value to_value(const Movement&) { return Value(); }
Value to_value(const Balance&) { return Value(); }
Value to_value(const Reconciliation&) { return Value(); }

}  // namespace quillon_accounts::model
