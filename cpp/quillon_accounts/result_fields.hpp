// The fields of each result record, declared once: name, member and what
// kind of value it holds, in declaration order. Every output form is driven
// by these tables: the JSON text (result_json.hpp), the Python objects
// (python_extension/objects.cpp) and the columns (result_columns.hpp).
//
//     template <> struct Fields<Account> {
//         static constexpr std::string_view name = "Account";
//         static constexpr std::tuple fields = {
//             field<&Account::number>("number"),
//             field<&Account::alias>("alias"),
//             ...
//         };
//     };
//
// The kind follows from the member's type; a hint says what the values are
// like, for the forms that care: `repeats` (the same few values come back
// record after record: worth sharing), `category` (a small vocabulary:
// dictionary-encoded as a column; status words always are), `moment` (a
// local date and time: a timestamp column when every value reads as one).
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "../quillon_core/amount.hpp"
#include "../quillon_core/record.hpp"
#include "../quillon_core/status.hpp"
#include "account_status.hpp"
#include "results.hpp"

namespace quillon_accounts::model {

enum class FieldKind : std::uint8_t {
    text,
    optional_text,
    identifier,
    optional_identifier,
    amount,
    optional_amount,
    account_status,
    payment_status,
    record,
    list,
};

enum class Hint : std::uint8_t { plain, repeats, category, moment };

template <class R>
struct Fields;  // specialised per result record: `name` and `fields`

template <class T>
concept ResultRecord = requires {
    { Fields<T>::name } -> std::convertible_to<std::string_view>;
    Fields<T>::fields;
};

template <class T>
struct IsVector : std::false_type {};
template <class T>
struct IsVector<std::vector<T>> : std::true_type {
    using Element = T;
};

template <class T>
constexpr FieldKind kind_of() {
    using quillon_core::amount::Amount;
    if constexpr (std::is_same_v<T, std::string>) return FieldKind::text;
    else if constexpr (std::is_same_v<T, std::optional<std::string>>) return FieldKind::optional_text;
    else if constexpr (std::is_same_v<T, std::uint64_t>) return FieldKind::identifier;
    else if constexpr (std::is_same_v<T, std::optional<std::uint64_t>>) return FieldKind::optional_identifier;
    else if constexpr (std::is_same_v<T, Amount>) return FieldKind::amount;
    else if constexpr (std::is_same_v<T, std::optional<Amount>>) return FieldKind::optional_amount;
    else if constexpr (std::is_same_v<T, AccountStatus>) return FieldKind::account_status;
    else if constexpr (std::is_same_v<T, quillon_core::status::PaymentStatus>) return FieldKind::payment_status;
    else if constexpr (IsVector<T>::value) {
        static_assert(ResultRecord<typename IsVector<T>::Element>, "a list field holds result records");
        return FieldKind::list;
    } else {
        static_assert(ResultRecord<T>, "a field of a result record has a known kind");
        return FieldKind::record;
    }
}

using quillon_core::record::MemberOf;

// One field: its name, its hint, and (in its type) its member.
template <auto Member>
struct Field {
    using Record = typename MemberOf<Member>::Record;
    using Type = typename MemberOf<Member>::Type;
    static constexpr FieldKind kind = kind_of<Type>();

    std::string_view name;
    Hint hint = Hint::plain;

    static const Type& get(const Record& r) { return r.*Member; }
    static Type& get(Record& r) { return r.*Member; }
};

template <auto Member>
constexpr Field<Member> field(std::string_view name, Hint hint = Hint::plain) {
    return {name, hint};
}

template <ResultRecord R>
constexpr std::size_t field_count = std::tuple_size_v<std::remove_cvref_t<decltype(Fields<R>::fields)>>;

// Calls `f(field)` for each field of R in declaration order.
template <ResultRecord R, class F>
constexpr void for_each_field(F&& f) {
    std::apply([&](const auto&... each) { (f(each), ...); }, Fields<R>::fields);
}

// The names of R's fields in declaration order.
template <ResultRecord R>
constexpr std::array<std::string_view, field_count<R>> field_names() {
    return std::apply([](const auto&... each) { return std::array<std::string_view, sizeof...(each)>{each.name...}; },
                      Fields<R>::fields);
}

// The positions of R's fields in ascending byte order of their names, the
// order the JSON text lists the members in.
template <ResultRecord R>
constexpr std::array<std::size_t, field_count<R>> sorted_fields() {
    const auto names = field_names<R>();
    std::array<std::size_t, field_count<R>> order{};
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return names[a] < names[b]; });
    return order;
}

// ---- the tables -------------------------------------------------------------

template <>
struct Fields<Account> {
    static constexpr std::string_view name = "Account";
    static constexpr std::tuple fields = {
        field<&Account::number>("number"),
        field<&Account::alias>("alias"),
        field<&Account::status>("status", Hint::category),
        field<&Account::raw_status>("raw_status", Hint::repeats),
    };
};

template <>
struct Fields<MerchantAccount> {
    static constexpr std::string_view name = "MerchantAccount";
    static constexpr std::tuple fields = {
        field<&MerchantAccount::nit>("nit"),
        field<&MerchantAccount::merchant_name>("merchant_name"),
        field<&MerchantAccount::establishment_id>("establishment_id"),
        field<&MerchantAccount::establishment_name>("establishment_name"),
        field<&MerchantAccount::account>("account"),
    };
};

template <>
struct Fields<Establishment> {
    static constexpr std::string_view name = "Establishment";
    static constexpr std::tuple fields = {
        field<&Establishment::id>("id"),
        field<&Establishment::name>("name"),
        field<&Establishment::accounts>("accounts"),
    };
};

template <>
struct Fields<MerchantAccounts> {
    static constexpr std::string_view name = "MerchantAccounts";
    static constexpr std::tuple fields = {
        field<&MerchantAccounts::nit>("nit"),
        field<&MerchantAccounts::merchant_name>("merchant_name"),
        field<&MerchantAccounts::establishments>("establishments"),
    };
};

template <>
struct Fields<CreatedAccounts> {
    static constexpr std::string_view name = "CreatedAccounts";
    static constexpr std::tuple fields = {
        field<&CreatedAccounts::nit>("nit"),
        field<&CreatedAccounts::merchant_name>("merchant_name"),
        field<&CreatedAccounts::establishment_id>("establishment_id"),
        field<&CreatedAccounts::establishment_name>("establishment_name"),
        field<&CreatedAccounts::accounts>("accounts"),
    };
};

template <>
struct Fields<StatusChanged> {
    static constexpr std::string_view name = "StatusChanged";
    static constexpr std::tuple fields = {
        field<&StatusChanged::account_number>("account_number"),
        field<&StatusChanged::status>("status", Hint::category),
        field<&StatusChanged::raw_status>("raw_status", Hint::repeats),
    };
};

template <>
struct Fields<Party> {
    static constexpr std::string_view name = "Party";
    static constexpr std::tuple fields = {
        field<&Party::account>("account"),
        field<&Party::document_id>("document_id"),
        field<&Party::name>("name", Hint::repeats),
        field<&Party::bank_code>("bank_code", Hint::repeats),
        field<&Party::bank_name>("bank_name", Hint::repeats),
    };
};

template <>
struct Fields<Movement> {
    static constexpr std::string_view name = "Movement";
    static constexpr std::tuple fields = {
        field<&Movement::transaction_id>("transaction_id"),
        field<&Movement::operation_type>("operation_type", Hint::repeats),
        field<&Movement::status>("status", Hint::category),
        field<&Movement::raw_status>("raw_status", Hint::repeats),
        field<&Movement::message>("message", Hint::repeats),
        field<&Movement::transaction_at>("transaction_at", Hint::moment),
        field<&Movement::amount>("amount", Hint::repeats),
        field<&Movement::fee>("fee", Hint::repeats),
        field<&Movement::total>("total", Hint::repeats),
        field<&Movement::currency>("currency", Hint::category),
        field<&Movement::origin>("origin"),
        field<&Movement::destination>("destination"),
        field<&Movement::reference>("reference"),
        field<&Movement::ach_order_number>("ach_order_number"),
        field<&Movement::recipient_order_number>("recipient_order_number"),
    };
};

template <>
struct Fields<Balance> {
    static constexpr std::string_view name = "Balance";
    static constexpr std::tuple fields = {
        field<&Balance::account_number>("account_number"),
        field<&Balance::status>("status", Hint::category),
        field<&Balance::raw_status>("raw_status", Hint::repeats),
        field<&Balance::currency>("currency", Hint::category),
        field<&Balance::available>("available", Hint::repeats),
        field<&Balance::booked>("booked", Hint::repeats),
        field<&Balance::held>("held", Hint::repeats),
        field<&Balance::last_credit_at>("last_credit_at"),
        field<&Balance::last_debit_at>("last_debit_at"),
    };
};

template <>
struct Fields<Reconciliation> {
    static constexpr std::string_view name = "Reconciliation";
    static constexpr std::tuple fields = {
        field<&Reconciliation::movements>("movements"),
        field<&Reconciliation::balances>("balances"),
    };
};

template <>
struct Fields<AccountRow> {
    static constexpr std::string_view name = "AccountRow";
    static constexpr std::tuple fields = {
        field<&AccountRow::nit>("nit"),
        field<&AccountRow::merchant_name>("merchant_name"),
        field<&AccountRow::establishment_id>("establishment_id"),
        field<&AccountRow::establishment_name>("establishment_name"),
        field<&AccountRow::number>("number"),
        field<&AccountRow::alias>("alias"),
        field<&AccountRow::status>("status", Hint::category),
        field<&AccountRow::raw_status>("raw_status", Hint::repeats),
    };
};

}  // namespace quillon_accounts::model
