// The JSON form of each kind of value a result record holds.
#include "result_json.hpp"

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

#include "../quillon_core/json_writer.hpp"

namespace quillon_accounts::model::json_form {

namespace {

// The status words need no escapes.
void word(std::string_view w, std::string& out) {
    out.push_back('"');
    out.append(w);
    out.push_back('"');
}

}  // namespace

void value(const std::string& s, std::string& out) { quillon_core::json::write_string(s, out); }

void value(const std::optional<std::string>& s, std::string& out) {
    if (s) return value(*s, out);
    out.append("null");
}

void value(std::uint64_t n, std::string& out) {
    char buf[24];
    const auto end = std::to_chars(buf, buf + sizeof buf, n).ptr;
    out.append(buf, static_cast<std::size_t>(end - buf));
}

void value(const std::optional<std::uint64_t>& n, std::string& out) {
    if (n) return value(*n, out);
    out.append("null");
}

void value(const quillon_core::amount::Amount& a, std::string& out) {
    out.push_back('"');
    quillon_core::amount::append_text(a, out);
    out.push_back('"');
}

void value(const std::optional<quillon_core::amount::Amount>& a, std::string& out) {
    if (a) return value(*a, out);
    out.append("null");
}

void value(AccountStatus s, std::string& out) { word(s.word(), out); }

void value(quillon_core::status::PaymentStatus s, std::string& out) { word(quillon_core::status::word(s), out); }

}  // namespace quillon_accounts::model::json_form
