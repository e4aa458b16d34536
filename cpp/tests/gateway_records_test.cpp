// The gateway record decoder's all-or-nothing filling, the array form of a
// long record, and the array form's length through a whole operation.
#include <optional>
#include <string>
#include <vector>

#include "check.hpp"
#include "quillon_accounts/gateway_records.hpp"
#include "quillon_accounts/operations.hpp"

namespace json = quillon_core::json;
namespace wire = quillon_accounts::wire;

namespace {

// "ok", or the decoder's message.
template <class R>
std::string decode(const std::string& text, R& out) {
    const auto doc = json::Doc::parse(text);
    if (!doc) return "not JSON: " + doc.error().message;
    const auto read = wire::decode(doc.value().root(), out);
    return read ? "ok" : read.error().message;
}

}  // namespace

TEST(a_failed_decoding_keeps_nothing) {
    // The first account decodes, the second does not: the list comes back empty.
    std::vector<wire::WAccount> accounts{{"stale", std::nullopt, std::nullopt}};
    CHECK_EQ(decode(R"([{"numeroCuenta":"1"},{"alias":"x"}])", accounts), "missing field `numeroCuenta`");
    CHECK(accounts.empty());

    wire::Detail detail;
    detail.nit = "stale";
    CHECK_EQ(decode(R"({"nit":"9","cuenta":null})", detail), "invalid type: unit value, expected struct WAccount");
    CHECK_EQ(detail.nit, std::string(""));
}

TEST(decoding_fills_every_field_from_the_array_form) {
    std::string text = "[";
    for (int i = 0; i < 22; ++i) {
        if (i > 0) text += ",";
        text += i == 5 ? "5" : i == 6 ? "null" : i == 7 ? "\"7.25\"" : "\"f" + std::to_string(i) + "\"";
    }
    text += "]";
    wire::WMovement m;
    CHECK_EQ(decode(text, m), "ok");
    CHECK_EQ(*m.transaction_id + m.tipo_operacion + m.estado + *m.num_orden_destinatario, std::string("f0f1f2f21"));
    CHECK(!m.importe_comision);
    CHECK(m.importe_total && m.importe_total->scale == 2);
    CHECK_EQ(*m.cuenta_origen + *m.nombre_banco_destino, std::string("f9f18"));
}

TEST(an_array_form_longer_than_its_record_is_refused) {
    using quillon_accounts::ops::Reconcile;
    const auto parse = [](const std::string& data) {
        auto out = Reconcile::parse_response({200, R"({"code":"00","data":)" + data + "}"});
        return out ? std::string("ok") : out.error().message;
    };
    CHECK_EQ(parse("[[],[]]"), "ok");
    CHECK_EQ(parse("[[]]"), "ok");
    CHECK_EQ(parse("[[],[],[]]"), "unexpected payload shape: invalid length 3, expected fewer elements in array");
    // The lists' own failures come first, the movements' before the balances'.
    CHECK_EQ(parse("[[1],[2],3]"), "unexpected payload shape: invalid type: number, expected struct WMovement");
    CHECK_EQ(parse("[[],[2],3]"), "unexpected payload shape: invalid type: number, expected struct WBalance");
}
