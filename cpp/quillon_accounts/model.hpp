// The accounts family's records: the input record of each operation, the
// account status vocabulary, and the English result records.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../quillon_core/amount.hpp"
#include "../quillon_core/status.hpp"

namespace quillon_accounts::model {

using quillon_core::amount::Amount;
using quillon_core::status::PaymentStatus;

// ---- account status -------------------------------------------------------

class AccountStatus {
public:
    // Declaration order is part of the contract.
    enum Value : std::uint8_t { active, blocked, suspended, closed, unknown };

    constexpr AccountStatus(Value v = unknown) : v_(v) {}
    constexpr operator Value() const { return v_; }

    // The gateway's status word read: Unicode white space trimmed, ASCII
    // letters upper-cased, then looked up; anything else is `unknown`.
    static AccountStatus from_wire(std::string_view word);
    // The module's own word: "active", "blocked", ...
    std::string_view word() const;
    // The word sent to the gateway when a status is changed; empty for `unknown`.
    std::string_view gateway_word() const;

private:
    Value v_;
};

// ---- input records (field order is part of the contract) ------------------

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

// ---- result records -------------------------------------------------------

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
    PaymentStatus status = PaymentStatus::unknown;
    std::string raw_status;
    std::optional<std::string> message;
    std::optional<std::string> transaction_at;
    Amount amount;
    std::optional<Amount> fee;
    std::optional<Amount> total;
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
    Amount available;
    Amount booked;
    Amount held;
    std::optional<std::string> last_credit_at;
    std::optional<std::string> last_debit_at;
};

struct Reconciliation {
    std::vector<Movement> movements;
    std::vector<Balance> balances;
};

}  // namespace quillon_accounts::model
