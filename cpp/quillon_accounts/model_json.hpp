// The JSON form of the result records: every member always written, absent
// values as null, amounts as normalised decimal strings.
#pragma once

#include <vector>

#include "../quillon_core/json_value.hpp"
#include "model.hpp"

namespace quillon_accounts::model {

quillon_core::json::Value to_value(const MerchantAccount& r);
quillon_core::json::Value to_value(const MerchantAccounts& r);
quillon_core::json::Value to_value(const CreatedAccounts& r);
quillon_core::json::Value to_value(const StatusChanged& r);
quillon_core::json::Value to_value(const Movement& r);
quillon_core::json::Value to_value(const Balance& r);
quillon_core::json::Value to_value(const Reconciliation& r);

template <class T>
quillon_core::json::Value to_value(const std::vector<T>& list) {
    auto out = quillon_core::json::Value::array();
    out.items().reserve(list.size());
    for (const auto& item : list) out.push(to_value(item));
    return out;
}

}  // namespace quillon_accounts::model
