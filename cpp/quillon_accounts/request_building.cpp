// The "build" stage of the accounts operations: validate the input (first
// failure wins), form the path and body, then the URL and the headers. The
// headers come last so that an invalid input is reported before a missing
// access token.
#include <string>
#include <utility>
#include <vector>

#include "../quillon_core/json_writer.hpp"
#include "../quillon_core/text.hpp"
#include "operations.hpp"
#include "validate.hpp"

namespace quillon_accounts::ops {

using quillon_core::error::Error;
using quillon_core::error::Result;
using quillon_core::http::HttpRequest;
using quillon_core::http::Method;
using quillon_core::json::Value;
using quillon_core::operation::Ctx;
using validate::date_range;
using validate::digits;
using validate::text_max;

namespace {

constexpr std::size_t NIT_MIN_DIGITS = 7;
constexpr std::size_t ACCOUNT_MIN_DIGITS = 8;
constexpr std::size_t ALIAS_MAX_CHARS = 45;
constexpr std::size_t CATEGORY_MAX_CHARS = 45;
constexpr std::size_t REASON_MAX_CHARS = 50;
constexpr std::size_t MAX_NEW_ACCOUNTS = 1000;
constexpr std::size_t MAX_BALANCE_ACCOUNTS = 10;
constexpr std::int64_t MOVEMENTS_MAX_DAYS = 31;
constexpr std::int64_t RECONCILE_MAX_DAYS = 7;
// The gateway's currency code for every account this family opens.
constexpr std::string_view CURRENCY_CODE = "068";

std::string path_of(std::initializer_list<std::string_view> segments) {
    std::string path(BASE_PATH);
    for (std::string_view s : segments) {
        path.push_back('/');
        path.append(s);
    }
    return path;
}

Value str(std::string_view s) { return Value::string(std::string(s)); }
Value trimmed(std::string_view s) { return str(quillon_core::text::trim(s)); }

// An object of key, value, key, value...: the values are moved in (through
// an initializer list they would be copied, a whole body with them).
void add_members(std::vector<Value::Member>&) {}
template <class... Rest>
void add_members(std::vector<Value::Member>& out, std::string_view key, Value&& value, Rest&&... rest) {
    out.emplace_back(std::string(key), std::move(value));
    add_members(out, std::forward<Rest>(rest)...);
}
template <class... Args>
Value object_of(Args&&... args) {
    std::vector<Value::Member> members;
    members.reserve(sizeof...(Args) / 2);
    add_members(members, std::forward<Args>(args)...);
    return Value::object(std::move(members));
}

// A GET request without body.
Result<HttpRequest> get(const Ctx& ctx, const std::string& path) {
    std::string url = ctx.config.url(path);
    auto headers = ctx.api_headers();
    if (!headers) return std::move(headers).error();
    return HttpRequest{Method::get, std::move(url), std::move(headers).value(), std::nullopt};
}

// A request carrying `body` as compact JSON text.
Result<HttpRequest> send(const Ctx& ctx, Method method, const std::string& path, Value body) {
    std::string url = ctx.config.url(path);
    auto headers = ctx.api_headers();
    if (!headers) return std::move(headers).error();
    return HttpRequest{method, std::move(url), std::move(headers).value(),
                       quillon_core::json::to_text(body)};
}

// Debits and credits: the same query, told apart by path segment and type letter.
Result<HttpRequest> movements_request(const Ctx& ctx, const model::AccountRange& in,
                                      std::string_view segment, std::string_view type_letter) {
    if (auto ok = digits("nit", in.nit, NIT_MIN_DIGITS); !ok) return std::move(ok).error();
    if (auto ok = digits("account_number", in.account_number, ACCOUNT_MIN_DIGITS); !ok) return std::move(ok).error();
    if (auto ok = date_range(in.date_from, in.date_to, MOVEMENTS_MAX_DAYS); !ok) return std::move(ok).error();
    std::vector<Value> accounts;
    accounts.push_back(str(in.account_number));
    Value body = object_of("fechaFin", str(in.date_to), "fechaInicio", str(in.date_from), "nit",
                           str(in.nit), "numeroCuenta", Value::array(std::move(accounts)), "tipo",
                           str(type_letter));
    return send(ctx, Method::post, path_of({segment}), std::move(body));
}

}  // namespace

GetAccount::Request GetAccount::request(const Ctx& ctx, const Input& in) {
    if (auto ok = digits("nit", in.nit, NIT_MIN_DIGITS); !ok) return std::move(ok).error();
    if (auto ok = digits("account_number", in.account_number, ACCOUNT_MIN_DIGITS); !ok) return std::move(ok).error();
    return get(ctx, path_of({in.nit, in.account_number}));
}

ListAccounts::Request ListAccounts::request(const Ctx& ctx, const Input& in) {
    if (auto ok = digits("nit", in.nit, NIT_MIN_DIGITS); !ok) return std::move(ok).error();
    return get(ctx, path_of({in.nit}));
}

Create::Request Create::request(const Ctx& ctx, const Input& in) {
    if (auto ok = digits("nit", in.nit, NIT_MIN_DIGITS); !ok) return std::move(ok).error();
    if (in.establishment_id == 0) {
        return Error::validation("establishment_id", "must be greater than zero");
    }
    if (in.accounts.empty() || in.accounts.size() > MAX_NEW_ACCOUNTS) {
        return Error::validation("accounts", "between 1 and 1000 accounts per call");
    }
    std::vector<Value> accounts;
    accounts.reserve(in.accounts.size());
    for (const model::NewAccount& a : in.accounts) {
        if (auto ok = text_max("accounts.alias", a.alias, ALIAS_MAX_CHARS); !ok) return std::move(ok).error();
        if (auto ok = text_max("accounts.category", a.category, CATEGORY_MAX_CHARS); !ok) return std::move(ok).error();
        accounts.push_back(object_of("alias", trimmed(a.alias), "moneda", str(CURRENCY_CODE), "rubro",
                                     trimmed(a.category)));
    }
    Value body = object_of("establecimiento",
                           object_of("cuentas", Value::array(std::move(accounts)), "idEstablecimiento",
                                     Value::number(in.establishment_id)),
                           "nit", str(in.nit));
    return send(ctx, Method::post, std::string(BASE_PATH), std::move(body));
}

ChangeStatus::Request ChangeStatus::request(const Ctx& ctx, const Input& in) {
    if (auto ok = digits("nit", in.nit, NIT_MIN_DIGITS); !ok) return std::move(ok).error();
    if (in.changes.empty()) return Error::validation("changes", "at least one change");
    std::vector<Value> changes;
    changes.reserve(in.changes.size());
    for (const model::StatusChange& c : in.changes) {
        if (auto ok = digits("changes.account_number", c.account_number, ACCOUNT_MIN_DIGITS); !ok) return std::move(ok).error();
        if (auto ok = text_max("changes.reason", c.reason, REASON_MAX_CHARS); !ok) return std::move(ok).error();
        const std::string_view word = c.status.gateway_word();
        if (c.status == model::AccountStatus::unknown || word.empty()) {
            return Error::validation("changes.status", "cannot set `unknown`");
        }
        changes.push_back(object_of("descripcionMotivo", trimmed(c.reason), "estado", str(word),
                                    "numeroCuenta", str(c.account_number)));
    }
    Value body = object_of("cuentas", Value::array(std::move(changes)), "nit", str(in.nit));
    return send(ctx, Method::patch, path_of({"estados"}), std::move(body));
}

Reconcile::Request Reconcile::request(const Ctx& ctx, const Input& in) {
    if (auto ok = digits("nit", in.nit, NIT_MIN_DIGITS); !ok) return std::move(ok).error();
    if (auto ok = date_range(in.date_from, in.date_to, RECONCILE_MAX_DAYS); !ok) return std::move(ok).error();
    Value body = object_of("fechaFin", str(in.date_to), "fechaInicio", str(in.date_from), "nit",
                           str(in.nit));
    return send(ctx, Method::post, path_of({"transacciones"}), std::move(body));
}

Credits::Request Credits::request(const Ctx& ctx, const Input& in) {
    return movements_request(ctx, in, "creditos", "C");
}

Debits::Request Debits::request(const Ctx& ctx, const Input& in) {
    return movements_request(ctx, in, "debitos", "D");
}

Balances::Request Balances::request(const Ctx& ctx, const Input& in) {
    if (auto ok = digits("nit", in.nit, NIT_MIN_DIGITS); !ok) return std::move(ok).error();
    if (in.account_numbers.empty() || in.account_numbers.size() > MAX_BALANCE_ACCOUNTS) {
        return Error::validation("account_numbers", "between 1 and 10 accounts");
    }
    std::vector<Value> numbers;
    numbers.reserve(in.account_numbers.size());
    for (const std::string& n : in.account_numbers) {
        if (auto ok = digits("account_numbers", n, ACCOUNT_MIN_DIGITS); !ok) return std::move(ok).error();
        numbers.push_back(str(n));
    }
    Value body = object_of("nit", str(in.nit), "numeroCuentas", Value::array(std::move(numbers)));
    return send(ctx, Method::post, path_of({"saldos"}), std::move(body));
}

}  // namespace quillon_accounts::ops
