// The English result records of the accounts operations, as the "parse"
// stage hands them back (result_fields.hpp declares their fields once for
// every output form, conversion.hpp makes them from the gateway's records).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "../quillon_core/amount.hpp"
#include "../quillon_core/status.hpp"
#include "account_status.hpp"

namespace quillon_accounts::model {

struct Account {
    std::string number;
    std::optional<std::string> alias;
    AccountStatus status = AccountStatus::unknown;
    std::optional<std::string> raw_status;
};

struct MerchantAccount {
    std::string nit;
    std::optional<std::string> merchant_name;
    std::optional<std::uint64_t> establishment_id;
    std::optional<std::string> establishment_name;
    Account account;
};

struct Establishment {
    std::uint64_t id = 0;
    std::optional<std::string> name;
    std::vector<Account> accounts;
};

struct MerchantAccounts {
    std::string nit;
    std::optional<std::string> merchant_name;
    std::vector<Establishment> establishments;
};

struct CreatedAccounts {
    std::string nit;
    std::optional<std::string> merchant_name;
    std::uint64_t establishment_id = 0;
    std::optional<std::string> establishment_name;
    std::vector<Account> accounts;
};

struct StatusChanged {
    std::string account_number;
    AccountStatus status = AccountStatus::unknown;
    std::string raw_status;
};

struct Party {
    std::optional<std::string> account;
    std::optional<std::string> document_id;
    std::optional<std::string> name;
    std::optional<std::string> bank_code;
    std::optional<std::string> bank_name;
};

struct Movement {
    std::optional<std::string> transaction_id;
    std::string operation_type;
    quillon_core::status::PaymentStatus status = quillon_core::status::PaymentStatus::unknown;
    std::string raw_status;
    std::optional<std::string> message;
    std::optional<std::string> transaction_at;
    quillon_core::amount::Amount amount;
    std::optional<quillon_core::amount::Amount> fee;
    std::optional<quillon_core::amount::Amount> total;
    std::optional<std::string> currency;
    Party origin;
    Party destination;
    std::optional<std::string> reference;
    std::optional<std::string> ach_order_number;
    std::optional<std::string> recipient_order_number;
};

struct Balance {
    std::string account_number;
    AccountStatus status = AccountStatus::unknown;
    std::optional<std::string> raw_status;
    std::optional<std::string> currency;
    quillon_core::amount::Amount available;
    quillon_core::amount::Amount booked;
    quillon_core::amount::Amount held;
    std::optional<std::string> last_credit_at;
    std::optional<std::string> last_debit_at;
};

// One account of a listing with its merchant and establishment beside it:
// the row of the listing's table (an establishment without accounts gives no
// row).
struct AccountRow {
    std::string nit;
    std::optional<std::string> merchant_name;
    std::uint64_t establishment_id = 0;
    std::optional<std::string> establishment_name;
    std::string number;
    std::optional<std::string> alias;
    AccountStatus status = AccountStatus::unknown;
    std::optional<std::string> raw_status;
};

// The result of a reconciliation; the "parse" stage writes it as JSON text
// while the gateway's lists are decoded (responses.cpp).
struct Reconciliation {
    std::vector<Movement> movements;
    std::vector<Balance> balances;
};

}  // namespace quillon_accounts::model
