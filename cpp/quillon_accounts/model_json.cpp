// The JSON form of the result records.
#include "model_json.hpp"

#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

namespace quillon_accounts::model {

using quillon_core::json::Value;

namespace {

Value text(const std::string& s) { return Value::string(s); }
Value text(const std::optional<std::string>& s) { return s ? Value::string(*s) : Value::null(); }
Value id(std::uint64_t n) { return Value::number(n); }
Value id(const std::optional<std::uint64_t>& n) { return n ? Value::number(*n) : Value::null(); }
Value amount(const Amount& a) { return quillon_core::amount::serialize(a); }
Value amount(const std::optional<Amount>& a) { return a ? amount(*a) : Value::null(); }
Value status(AccountStatus s) { return Value::string(std::string(s.word())); }

Value object(std::initializer_list<Value::Member> members) {
    return Value::object(std::vector<Value::Member>(members));
}

Value to_value(const Account& r);
Value to_value(const Establishment& r);
Value to_value(const Party& r);

// A list nested in a record; sees the record forms above and in the header.
template <class T>
Value list(const std::vector<T>& items) {
    auto out = Value::array();
    out.items().reserve(items.size());
    for (const auto& item : items) out.push(to_value(item));
    return out;
}

Value to_value(const Account& r) {
    return object({{"number", text(r.number)},
                   {"alias", text(r.alias)},
                   {"status", status(r.status)},
                   {"raw_status", text(r.raw_status)}});
}

Value to_value(const Establishment& r) {
    return object({{"id", id(r.id)}, {"name", text(r.name)}, {"accounts", list(r.accounts)}});
}

Value to_value(const Party& r) {
    return object({{"account", text(r.account)},
                   {"document_id", text(r.document_id)},
                   {"name", text(r.name)},
                   {"bank_code", text(r.bank_code)},
                   {"bank_name", text(r.bank_name)}});
}

}  // namespace

Value to_value(const MerchantAccount& r) {
    return object({{"nit", text(r.nit)},
                   {"merchant_name", text(r.merchant_name)},
                   {"establishment_id", id(r.establishment_id)},
                   {"establishment_name", text(r.establishment_name)},
                   {"account", to_value(r.account)}});
}

Value to_value(const MerchantAccounts& r) {
    return object({{"nit", text(r.nit)},
                   {"merchant_name", text(r.merchant_name)},
                   {"establishments", list(r.establishments)}});
}

Value to_value(const CreatedAccounts& r) {
    return object({{"nit", text(r.nit)},
                   {"merchant_name", text(r.merchant_name)},
                   {"establishment_id", id(r.establishment_id)},
                   {"establishment_name", text(r.establishment_name)},
                   {"accounts", list(r.accounts)}});
}

Value to_value(const StatusChanged& r) {
    return object({{"account_number", text(r.account_number)},
                   {"status", status(r.status)},
                   {"raw_status", text(r.raw_status)}});
}

Value to_value(const Movement& r) {
    return object({{"transaction_id", text(r.transaction_id)},
                   {"operation_type", text(r.operation_type)},
                   {"status", quillon_core::status::to_value(r.status)},
                   {"raw_status", text(r.raw_status)},
                   {"message", text(r.message)},
                   {"transaction_at", text(r.transaction_at)},
                   {"amount", amount(r.amount)},
                   {"fee", amount(r.fee)},
                   {"total", amount(r.total)},
                   {"currency", text(r.currency)},
                   {"origin", to_value(r.origin)},
                   {"destination", to_value(r.destination)},
                   {"reference", text(r.reference)},
                   {"ach_order_number", text(r.ach_order_number)},
                   {"recipient_order_number", text(r.recipient_order_number)}});
}

Value to_value(const Balance& r) {
    return object({{"account_number", text(r.account_number)},
                   {"status", status(r.status)},
                   {"raw_status", text(r.raw_status)},
                   {"currency", text(r.currency)},
                   {"available", amount(r.available)},
                   {"booked", amount(r.booked)},
                   {"held", amount(r.held)},
                   {"last_credit_at", text(r.last_credit_at)},
                   {"last_debit_at", text(r.last_debit_at)}});
}

Value to_value(const Reconciliation& r) {
    return object({{"movements", list(r.movements)}, {"balances", list(r.balances)}});
}

}  // namespace quillon_accounts::model
