// How the accounts input records and the account status are read from JSON.
// Every field of every input record is required; the order of each table is
// the record's declaration order.
#pragma once

#include <array>
#include <string_view>

#include "../quillon_core/record.hpp"
#include "model.hpp"

namespace quillon_core::record {

template <>
struct Words<quillon_accounts::model::AccountStatus> {
    using AccountStatus = quillon_accounts::model::AccountStatus;
    static constexpr std::array<std::string_view, 5> words = {"active", "blocked", "suspended", "closed",
                                                              "unknown"};
    static AccountStatus from_index(std::size_t i) { return static_cast<AccountStatus::Value>(i); }
};

#define QUILLON_INPUT_RECORD(Type, ...)                                      \
    template <>                                                              \
    struct Table<quillon_accounts::model::Type> {                            \
        using R = quillon_accounts::model::Type;                             \
        static constexpr std::string_view name = #Type;                      \
        static constexpr std::array fields = {__VA_ARGS__};                  \
    }

QUILLON_INPUT_RECORD(MerchantRef, field<&R::nit>("nit"));
QUILLON_INPUT_RECORD(AccountRef, field<&R::nit>("nit"), field<&R::account_number>("account_number"));
QUILLON_INPUT_RECORD(NewAccount, field<&R::alias>("alias"), field<&R::category>("category"));
QUILLON_INPUT_RECORD(CreateAccounts, field<&R::nit>("nit"), field<&R::establishment_id>("establishment_id"),
                     field<&R::accounts>("accounts"));
QUILLON_INPUT_RECORD(StatusChange, field<&R::account_number>("account_number"), field<&R::status>("status"),
                     field<&R::reason>("reason"));
QUILLON_INPUT_RECORD(StatusChanges, field<&R::nit>("nit"), field<&R::changes>("changes"));
QUILLON_INPUT_RECORD(MerchantRange, field<&R::nit>("nit"), field<&R::date_from>("date_from"),
                     field<&R::date_to>("date_to"));
QUILLON_INPUT_RECORD(AccountRange, field<&R::nit>("nit"), field<&R::account_number>("account_number"),
                     field<&R::date_from>("date_from"), field<&R::date_to>("date_to"));
QUILLON_INPUT_RECORD(BalancesQuery, field<&R::nit>("nit"), field<&R::account_numbers>("account_numbers"));

#undef QUILLON_INPUT_RECORD

}  // namespace quillon_core::record
