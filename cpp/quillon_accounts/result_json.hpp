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
#include <string_view>
#include <utility>
#include <vector>

#include "../quillon_core/json_value.hpp"
#include "../quillon_core/json_writer.hpp"
#include "result_fields.hpp"
#include "results.hpp"

namespace quillon_accounts::model {

namespace json_form {

inline void value(const std::string& s, std::string& out) { quillon_core::json::write_string(s, out); }
inline void value(const std::optional<std::string>& s, std::string& out) {
    if (s) return value(*s, out);
    out.append("null");
}
void value(std::uint64_t n, std::string& out);
inline void value(const std::optional<std::uint64_t>& n, std::string& out) {
    if (n) return value(*n, out);
    out.append("null");
}
inline void value(const quillon_core::amount::Amount& a, std::string& out) {
    out.push_back('"');
    quillon_core::amount::append_text(a, out);
    out.push_back('"');
}
inline void value(const std::optional<quillon_core::amount::Amount>& a, std::string& out) {
    if (a) return value(*a, out);
    out.append("null");
}
// The status words need no escapes.
inline void word(std::string_view w, std::string& out) {
    out.push_back('"');
    out.append(w);
    out.push_back('"');
}
inline void value(AccountStatus s, std::string& out) { word(s.word(), out); }
inline void value(quillon_core::status::PaymentStatus s, std::string& out) {
    word(quillon_core::status::word(s), out);
}

// The text before each member in the written order, all in one constant:
// `{"name":` for the first, `,"name":` after.
template <ResultRecord R>
struct Keys {
    static constexpr auto order = sorted_fields<R>();
    static constexpr auto names = field_names<R>();
    static constexpr std::size_t size = [] {
        std::size_t n = 0;
        for (const auto& name : names) n += name.size() + 4;
        return n;
    }();
    static constexpr std::array<std::size_t, field_count<R> + 1> starts = [] {
        std::array<std::size_t, field_count<R> + 1> at{};
        for (std::size_t i = 0; i < field_count<R>; ++i) at[i + 1] = at[i] + names[order[i]].size() + 4;
        return at;
    }();
    static constexpr std::array<char, size> text = [] {
        std::array<char, size> t{};
        std::size_t at = 0;
        for (std::size_t i = 0; i < field_count<R>; ++i) {
            t[at++] = i == 0 ? '{' : ',';
            t[at++] = '"';
            for (const char c : names[order[i]]) t[at++] = c;
            t[at++] = '"';
            t[at++] = ':';
        }
        return t;
    }();

    template <std::size_t I>
    static void append(std::string& out) {
        out.append(text.data() + starts[I], starts[I + 1] - starts[I]);
    }
};

template <ResultRecord R>
void value(const R& r, std::string& out);
template <class T>
void value(const std::vector<T>& list, std::string& out);

template <ResultRecord R, std::size_t... I>
void members(const R& r, std::string& out, std::index_sequence<I...>) {
    constexpr auto order = sorted_fields<R>();
    ((Keys<R>::template append<I>(out), value(std::get<order[I]>(Fields<R>::fields).get(r), out)), ...);
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
