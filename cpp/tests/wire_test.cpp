// The record decoder's all-or-nothing filling, and the array form of a long record.
#include <optional>
#include <string>
#include <vector>

#include "check.hpp"
#include "quillon_accounts/wire.hpp"

using quillon_core::json::Value;
namespace wire = quillon_accounts::wire;

TEST(a_failed_decoding_keeps_nothing) {
    // The first account decodes, the second does not: the list comes back empty.
    std::vector<wire::WAccount> accounts{{"stale", std::nullopt, std::nullopt}};
    auto good = Value::object({{"numeroCuenta", Value::string("1")}});
    auto bad = Value::object({{"alias", Value::string("x")}});
    std::string message;
    CHECK(!wire::decode(Value::array({good, bad}), accounts, message));
    CHECK_EQ(message, std::string("missing field `numeroCuenta`"));
    CHECK(accounts.empty());

    wire::Detail detail;
    detail.nit = "stale";
    auto partial = Value::object({{"nit", Value::string("9")}, {"cuenta", Value::null()}});
    CHECK(!wire::decode(std::move(partial), detail, message));
    CHECK_EQ(detail.nit, std::string(""));
}

TEST(decoding_fills_every_field_from_the_array_form) {
    std::vector<Value> items;
    for (int i = 0; i < 22; ++i) items.push_back(Value::string("f" + std::to_string(i)));
    items[5] = Value::number(std::string("5"));
    items[6] = Value::null();
    items[7] = Value::string("7.25");
    wire::WMovement m;
    std::string message;
    CHECK(wire::decode(Value::array(items), m, message));
    CHECK_EQ(*m.transaction_id + m.tipo_operacion + m.estado + *m.num_orden_destinatario,
             std::string("f0f1f2f21"));
    CHECK(!m.importe_comision);
    CHECK(m.importe_total && m.importe_total->scale == 2);
    CHECK_EQ(*m.cuenta_origen + *m.nombre_banco_destino, std::string("f9f18"));
}
