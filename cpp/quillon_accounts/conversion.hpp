// From the gateway's wire records to the English result records. This is
// where text is cleaned (blank optional texts become absent) and status
// words become status values, with the gateway's own word kept beside them.
// Conversions never fail and drop nothing.
#pragma once

#include <utility>
#include <vector>

#include "gateway_records.hpp"
#include "results.hpp"

namespace quillon_accounts::model {

// An account; a status word that is absent or blank reads as active.
Account convert(wire::WAccount&& w);

Establishment convert(wire::WEstablishment&& w);
MerchantAccounts convert(wire::List&& w);
CreatedAccounts convert(wire::Created&& w);
MerchantAccount convert(wire::Detail&& w);
StatusChanged convert(wire::Changed&& w);
Movement convert(wire::WMovement&& w);
// A balance; a status word that is absent or blank reads as unknown.
Balance convert(wire::WBalance&& w);

// Element by element, keeping order and count.
template <class W>
auto convert(std::vector<W>&& list) -> std::vector<decltype(convert(std::declval<W&&>()))> {
    std::vector<decltype(convert(std::declval<W&&>()))> out;
    out.reserve(list.size());
    for (auto& item : list) out.push_back(convert(std::move(item)));
    return out;
}

}  // namespace quillon_accounts::model
