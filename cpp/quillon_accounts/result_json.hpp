// The JSON form of the result records: every member always written, absent
// values as null, amounts as normalised decimal strings, members in ascending
// order of their names.
//
// Results are written straight into compact JSON text, without building a
// value tree first; `to_value` hands that text over as a raw value. Long
// lists are written element by element as they are converted (`Written`).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "../quillon_core/json_value.hpp"
#include "results.hpp"

namespace quillon_accounts::model {

void write(const Account& r, std::string& out);
void write(const Establishment& r, std::string& out);
void write(const Party& r, std::string& out);
void write(const MerchantAccount& r, std::string& out);
void write(const MerchantAccounts& r, std::string& out);
void write(const CreatedAccounts& r, std::string& out);
void write(const StatusChanged& r, std::string& out);
void write(const Movement& r, std::string& out);
void write(const Balance& r, std::string& out);

template <class T>
void write(const std::vector<T>& list, std::string& out) {
    out.push_back('[');
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (i > 0) out.push_back(',');
        write(list[i], out);
    }
    out.push_back(']');
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
