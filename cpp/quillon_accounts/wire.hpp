// The gateway's answers as they arrive, with its Spanish keys, and their
// decoding from the JSON value tree.
//
// The decoders are tolerant where the gateway is known to wobble: account
// numbers and identifiers may come as strings or numbers, several optional
// texts quietly drop values of the wrong type, and unknown keys are ignored.
// Nothing here trims or normalises text; the conversion to result records
// does that.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../quillon_core/amount.hpp"
#include "../quillon_core/json_doc.hpp"
#include "../quillon_core/json_value.hpp"

namespace quillon_accounts::wire {

using quillon_core::amount::Amount;
using quillon_core::json::Node;
using quillon_core::json::Value;

// Field order is the order of the array form and part of the contract.

struct WAccount {
    std::string numero_cuenta;
    std::optional<std::string> alias;
    std::optional<std::string> estado;
};

struct WEstablishment {
    std::uint64_t id_establecimiento = 0;
    std::optional<std::string> nombre_establecimiento;
    std::vector<WAccount> cuentas;
};

struct List {
    std::string nit;
    std::optional<std::string> nombre_comercio;
    std::vector<WEstablishment> establecimientos;
};

struct Created {
    std::string nit;
    std::optional<std::string> nombre_comercio;
    std::uint64_t id_establecimiento = 0;
    std::optional<std::string> nombre_establecimiento;
    std::vector<WAccount> cuentas;
};

struct Changed {
    std::string numero_cuenta;
    std::string estado;
};

struct WMovement {
    std::optional<std::string> transaction_id;
    std::string tipo_operacion;
    std::string estado;
    std::optional<std::string> mensaje;
    std::optional<std::string> fecha_hora_transaccion;
    Amount importe;
    std::optional<Amount> importe_comision;
    std::optional<Amount> importe_total;
    std::optional<std::string> moneda;
    std::optional<std::string> cuenta_origen;
    std::optional<std::string> ci_cliente_origen;
    std::optional<std::string> nombre_cliente_origen;
    std::optional<std::string> codigo_banco_origen;
    std::optional<std::string> nombre_banco_origen;
    std::optional<std::string> cuenta_destino;
    std::optional<std::string> ci_cliente_destino;
    std::optional<std::string> nombre_cliente_destino;
    std::optional<std::string> codigo_banco_destino;
    std::optional<std::string> nombre_banco_destino;
    std::optional<std::string> numero_referencia;
    std::optional<std::string> num_orden_ach;
    std::optional<std::string> num_orden_destinatario;
};

struct WBalance {
    std::string numero_cuenta;
    std::optional<std::string> estado;
    std::optional<std::string> moneda;  // also read from "tipoMoneda"
    Amount saldo_disponible;
    Amount saldo_contable;
    Amount saldo_retenido;
    std::optional<std::string> fecha_ultimo_credito;
    std::optional<std::string> fecha_ultimo_debito;
};

struct WReconciliation {
    std::vector<WMovement> movimientos;
    std::vector<WBalance> saldos;
};

struct Detail {
    std::string nit;
    std::optional<std::string> nombre_comercio;
    std::optional<std::uint64_t> id_establecimiento;
    std::optional<std::string> nombre_establecimiento;
    WAccount cuenta;
};

// ---- decoding -------------------------------------------------------------
//
// Each decoder reads a node of a gateway body's document and fills `out`
// (reset first); on failure it returns false and sets `message`. A failure
// anywhere inside a record or list fails the whole with the inner message
// unchanged. An object's members count in ascending key order, the last of
// repeated keys winning, exactly as if the body had been read into a `Value`.

bool decode(const Node& node, WAccount& out, std::string& message);
bool decode(const Node& node, WEstablishment& out, std::string& message);
bool decode(const Node& node, List& out, std::string& message);
bool decode(const Node& node, Created& out, std::string& message);
bool decode(const Node& node, Changed& out, std::string& message);
bool decode(const Node& node, WMovement& out, std::string& message);
bool decode(const Node& node, WBalance& out, std::string& message);
bool decode(const Node& node, WReconciliation& out, std::string& message);
bool decode(const Node& node, Detail& out, std::string& message);

// The same decoders over an owned value (which they consume).
template <class R>
bool decode(Value&& value, R& out, std::string& message) {
    const auto doc = quillon_core::json::Doc::from_value(value);
    return decode(doc.root(), out, message);
}

// "invalid type: {found}, expected {expected}", the found value named as in
// "unit value", "boolean `true`", "number", "string \"x\"", "sequence", "map".
std::string invalid_type(const Node& found, std::string_view expected);

// A list of records: a JSON array, each element decoded in order.
template <class R>
bool decode(const Node& node, std::vector<R>& out, std::string& message) {
    out.clear();
    if (!node.is_array()) {
        message = invalid_type(node, "a sequence");
        return false;
    }
    // Element by element: room for a record is taken only once the elements
    // before it decoded, so a long array that fails early costs little (a
    // million zeros would otherwise ask for a million records up front).
    for (const Node& item : node.items()) {
        if (!decode(item, out.emplace_back(), message)) {
            out.clear();
            return false;
        }
    }
    return true;
}

// A list of records decoded one element at a time into one record, which is
// handed to `each` before the next element is read: the whole list is never
// held at once. Stops at the first failure, as `decode` of the list does.
template <class R, class F>
bool decode_each(const Node& node, F&& each, std::string& message) {
    if (!node.is_array()) {
        message = invalid_type(node, "a sequence");
        return false;
    }
    R record;
    for (const Node& item : node.items()) {
        if (!decode(item, record, message)) return false;
        each(record);
    }
    return true;
}

// Decimal text to an unsigned 64-bit number: an optional "+" then ASCII
// digits only, leading zeros allowed.
bool parse_id(std::string_view text, std::uint64_t& out, std::string& message);

// The text trimmed of Unicode white space; absent when nothing is left.
std::optional<std::string> non_empty(const std::optional<std::string>& text);

}  // namespace quillon_accounts::wire
