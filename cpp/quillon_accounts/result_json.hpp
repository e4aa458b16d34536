// The JSON form of the result records: every member always written, absent
// values as null, amounts as normalised decimal strings, members in ascending
// byte order of their names (the order a value tree would sort them into).
// The members come from each record's field table (result_fields.hpp).
//
// Results are written straight into compact JSON text, without building a
// value tree first; `to_value` hands that text over as a raw value. Long
// lists are written element by element as they are converted (`Written`).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "../quillon_core/json_value.hpp"
#include "result_fields.hpp"
#include "results.hpp"

namespace quillon_accounts::model {

namespace json_form {

void value(const std::string& s, std::string& out);
void value(const std::optional<std::string>& s, std::string& out);
void value(std::uint64_t n, std::string& out);
void value(const std::optional<std::uint64_t>& n, std::string& out);
void value(const quillon_core::amount::Amount& a, std::string& out);
void value(const std::optional<quillon_core::amount::Amount>& a, std::string& out);
void value(AccountStatus s, std::string& out);
void value(quillon_core::status::PaymentStatus s, std::string& out);

// `{"name":` for the first member in the written order, `,"name":` after.
template <ResultRecord R>
const std::array<std::string, field_count<R>>& keys() {
    static const std::array<std::string, field_count<R>> made = [] {
        constexpr auto order = sorted_fields<R>();
        constexpr auto names = field_names<R>();
        std::array<std::string, field_count<R>> out;
        for (std::size_t i = 0; i < out.size(); ++i) {
            out[i].append(i == 0 ? "{\"" : ",\"").append(names[order[i]]).append("\":");
        }
        return out;
    }();
    return made;
}

template <ResultRecord R>
void value(const R& r, std::string& out);
template <class T>
void value(const std::vector<T>& list, std::string& out);

template <ResultRecord R, std::size_t... I>
void members(const R& r, std::string& out, std::index_sequence<I...>) {
    constexpr auto order = sorted_fields<R>();
    const auto& key = keys<R>();
    ((out.append(key[I]), value(std::get<order[I]>(Fields<R>::fields).get(r), out)), ...);
}

template <ResultRecord R>
void value(const R& r, std::string& out) {
    members(r, out, std::make_index_sequence<field_count<R>>{});
    out.push_back('}');
}

template <class T>
void value(const std::vector<T>& list, std::string& out) {
    out.push_back('[');
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (i > 0) out.push_back(',');
        value(list[i], out);
    }
    out.push_back(']');
}

}  // namespace json_form

// A result record, or a list of them, appended to `out` as JSON text.
template <class T>
void write(const T& r, std::string& out) {
    json_form::value(r, out);
}

template <class T>
quillon_core::json::Value to_value(const T& r) {
    std::string out;
    out.reserve(512);
    write(r, out);
    return quillon_core::json::Value::raw(std::move(out));
}

// A result of type T already written as JSON text while it was converted:
// the form of the results that are lists, which can be long. Converting
// element by element straight into text keeps neither the gateway's records
// nor the result records of the whole list in memory.
template <class T>
struct Written {
    std::string json;

    quillon_core::json::Value to_value() && { return quillon_core::json::Value::raw(std::move(json)); }
    quillon_core::json::Value to_value() const& { return quillon_core::json::Value::raw(json); }
};

}  // namespace quillon_accounts::model
