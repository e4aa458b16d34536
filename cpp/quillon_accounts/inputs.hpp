// The input records of the accounts operations (field order is part of the
// contract: it is the order of their array form) and their field tables,
// which the payload decoder reads them with. Every field is required.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "../quillon_core/record.hpp"
#include "account_status.hpp"

namespace quillon_accounts::model {

struct MerchantRef {
    std::string nit;
};

struct AccountRef {
    std::string nit;
    std::string account_number;
};

struct NewAccount {
    std::string alias;
    std::string category;
};

struct CreateAccounts {
    std::string nit;
    std::uint64_t establishment_id = 0;
    std::vector<NewAccount> accounts;
};

struct StatusChange {
    std::string account_number;
    AccountStatus status = AccountStatus::unknown;
    std::string reason;
};

struct StatusChanges {
    std::string nit;
    std::vector<StatusChange> changes;
};

struct MerchantRange {
    std::string nit;
    std::string date_from;
    std::string date_to;
};

struct AccountRange {
    std::string nit;
    std::string account_number;
    std::string date_from;
    std::string date_to;
};

struct BalancesQuery {
    std::string nit;
    std::vector<std::string> account_numbers;
};

}  // namespace quillon_accounts::model

namespace quillon_core::record {

template <>
struct Words<quillon_accounts::model::AccountStatus> {
    static constexpr std::array<std::string_view, 5> words = {"active", "blocked", "suspended", "closed",
                                                              "unknown"};
    static quillon_accounts::model::AccountStatus from_index(std::size_t i) { return static_cast<quillon_accounts::model::AccountStatus::Value>(i); }
};

template <>
struct Table<quillon_accounts::model::MerchantRef> {
    using R = quillon_accounts::model::MerchantRef;
    static constexpr std::string_view name = "MerchantRef";
    static constexpr std::array fields = {field<&R::nit>("nit")};
};

template <>
struct Table<quillon_accounts::model::AccountRef> {
    using R = quillon_accounts::model::AccountRef;
    static constexpr std::string_view name = "AccountRef";
    static constexpr std::array fields = {field<&R::nit>("nit"), field<&R::account_number>("account_number")};
};

template <>
struct Table<quillon_accounts::model::NewAccount> {
    using R = quillon_accounts::model::NewAccount;
    static constexpr std::string_view name = "NewAccount";
    static constexpr std::array fields = {field<&R::alias>("alias"), field<&R::category>("category")};
};

template <>
struct Table<quillon_accounts::model::CreateAccounts> {
    using R = quillon_accounts::model::CreateAccounts;
    static constexpr std::string_view name = "CreateAccounts";
    static constexpr std::array fields = {field<&R::nit>("nit"), field<&R::establishment_id>("establishment_id"),
                                          field<&R::accounts>("accounts")};
};

template <>
struct Table<quillon_accounts::model::StatusChange> {
    using R = quillon_accounts::model::StatusChange;
    static constexpr std::string_view name = "StatusChange";
    static constexpr std::array fields = {field<&R::account_number>("account_number"), field<&R::status>("status"),
                                          field<&R::reason>("reason")};
};

template <>
struct Table<quillon_accounts::model::StatusChanges> {
    using R = quillon_accounts::model::StatusChanges;
    static constexpr std::string_view name = "StatusChanges";
    static constexpr std::array fields = {field<&R::nit>("nit"), field<&R::changes>("changes")};
};

template <>
struct Table<quillon_accounts::model::MerchantRange> {
    using R = quillon_accounts::model::MerchantRange;
    static constexpr std::string_view name = "MerchantRange";
    static constexpr std::array fields = {field<&R::nit>("nit"), field<&R::date_from>("date_from"),
                                          field<&R::date_to>("date_to")};
};

template <>
struct Table<quillon_accounts::model::AccountRange> {
    using R = quillon_accounts::model::AccountRange;
    static constexpr std::string_view name = "AccountRange";
    static constexpr std::array fields = {field<&R::nit>("nit"), field<&R::account_number>("account_number"),
                                          field<&R::date_from>("date_from"), field<&R::date_to>("date_to")};
};

template <>
struct Table<quillon_accounts::model::BalancesQuery> {
    using R = quillon_accounts::model::BalancesQuery;
    static constexpr std::string_view name = "BalancesQuery";
    static constexpr std::array fields = {field<&R::nit>("nit"), field<&R::account_numbers>("account_numbers")};
};

}  // namespace quillon_core::record
