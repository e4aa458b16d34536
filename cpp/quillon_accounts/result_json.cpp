// The JSON form of the result records, written member by member in ascending
// order of the member names (the order a value tree would sort them into).
#include "result_json.hpp"

#include <optional>
#include <string>
#include <string_view>

#include "../quillon_core/json_writer.hpp"

namespace quillon_accounts::model {

namespace {

using quillon_core::json::write_string;

// `key` is the separator and the quoted name with its colon, as in
// `,"name":`; the first member of an object starts with `{`.
void text(std::string& out, std::string_view key, const std::string& s) {
    out.append(key);
    write_string(s, out);
}

void text(std::string& out, std::string_view key, const std::optional<std::string>& s) {
    out.append(key);
    if (s) {
        write_string(*s, out);
    } else {
        out.append("null");
    }
}

void id(std::string& out, std::string_view key, std::uint64_t n) {
    out.append(key);
    out.append(std::to_string(n));
}

void id(std::string& out, std::string_view key, const std::optional<std::uint64_t>& n) {
    if (n) return id(out, key, *n);
    out.append(key);
    out.append("null");
}

void amount(std::string& out, std::string_view key, const quillon_core::amount::Amount& a) {
    out.append(key);
    out.push_back('"');
    quillon_core::amount::append_text(a, out);
    out.push_back('"');
}

void amount(std::string& out, std::string_view key, const std::optional<quillon_core::amount::Amount>& a) {
    if (a) return amount(out, key, *a);
    out.append(key);
    out.append("null");
}

// The status words need no escapes.
void word(std::string& out, std::string_view key, std::string_view w) {
    out.append(key);
    out.push_back('"');
    out.append(w);
    out.push_back('"');
}

}  // namespace

void write(const Account& r, std::string& out) {
    text(out, "{\"alias\":", r.alias);
    text(out, ",\"number\":", r.number);
    text(out, ",\"raw_status\":", r.raw_status);
    word(out, ",\"status\":", r.status.word());
    out.push_back('}');
}

void write(const Establishment& r, std::string& out) {
    out.append("{\"accounts\":");
    write(r.accounts, out);
    id(out, ",\"id\":", r.id);
    text(out, ",\"name\":", r.name);
    out.push_back('}');
}

void write(const Party& r, std::string& out) {
    text(out, "{\"account\":", r.account);
    text(out, ",\"bank_code\":", r.bank_code);
    text(out, ",\"bank_name\":", r.bank_name);
    text(out, ",\"document_id\":", r.document_id);
    text(out, ",\"name\":", r.name);
    out.push_back('}');
}

void write(const MerchantAccount& r, std::string& out) {
    out.append("{\"account\":");
    write(r.account, out);
    id(out, ",\"establishment_id\":", r.establishment_id);
    text(out, ",\"establishment_name\":", r.establishment_name);
    text(out, ",\"merchant_name\":", r.merchant_name);
    text(out, ",\"nit\":", r.nit);
    out.push_back('}');
}

void write(const MerchantAccounts& r, std::string& out) {
    out.append("{\"establishments\":");
    write(r.establishments, out);
    text(out, ",\"merchant_name\":", r.merchant_name);
    text(out, ",\"nit\":", r.nit);
    out.push_back('}');
}

void write(const CreatedAccounts& r, std::string& out) {
    out.append("{\"accounts\":");
    write(r.accounts, out);
    id(out, ",\"establishment_id\":", r.establishment_id);
    text(out, ",\"establishment_name\":", r.establishment_name);
    text(out, ",\"merchant_name\":", r.merchant_name);
    text(out, ",\"nit\":", r.nit);
    out.push_back('}');
}

void write(const StatusChanged& r, std::string& out) {
    text(out, "{\"account_number\":", r.account_number);
    text(out, ",\"raw_status\":", r.raw_status);
    word(out, ",\"status\":", r.status.word());
    out.push_back('}');
}

void write(const Movement& r, std::string& out) {
    text(out, "{\"ach_order_number\":", r.ach_order_number);
    amount(out, ",\"amount\":", r.amount);
    text(out, ",\"currency\":", r.currency);
    out.append(",\"destination\":");
    write(r.destination, out);
    amount(out, ",\"fee\":", r.fee);
    text(out, ",\"message\":", r.message);
    text(out, ",\"operation_type\":", r.operation_type);
    out.append(",\"origin\":");
    write(r.origin, out);
    text(out, ",\"raw_status\":", r.raw_status);
    text(out, ",\"recipient_order_number\":", r.recipient_order_number);
    text(out, ",\"reference\":", r.reference);
    word(out, ",\"status\":", quillon_core::status::word(r.status));
    amount(out, ",\"total\":", r.total);
    text(out, ",\"transaction_at\":", r.transaction_at);
    text(out, ",\"transaction_id\":", r.transaction_id);
    out.push_back('}');
}

void write(const Balance& r, std::string& out) {
    text(out, "{\"account_number\":", r.account_number);
    amount(out, ",\"available\":", r.available);
    amount(out, ",\"booked\":", r.booked);
    text(out, ",\"currency\":", r.currency);
    amount(out, ",\"held\":", r.held);
    text(out, ",\"last_credit_at\":", r.last_credit_at);
    text(out, ",\"last_debit_at\":", r.last_debit_at);
    text(out, ",\"raw_status\":", r.raw_status);
    word(out, ",\"status\":", r.status.word());
    out.push_back('}');
}

}  // namespace quillon_accounts::model
