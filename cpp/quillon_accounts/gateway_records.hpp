// The gateway's answers as they arrive, with its Spanish keys: one record
// per payload (and the records inside them), each described by a table of
// its fields (gateway_records.cpp) and read from a gateway body's document.
//
// The records are tolerant where the gateway is known to wobble: account
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
#include "../quillon_core/record.hpp"

namespace quillon_accounts::wire {

// Field order is the order of the array form and part of the contract. (The
// reconciliation, two lists of these records, is read where it is written:
// response_handling.cpp.)
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
    quillon_core::amount::Amount importe;
    std::optional<quillon_core::amount::Amount> importe_comision;
    std::optional<quillon_core::amount::Amount> importe_total;
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
    quillon_core::amount::Amount saldo_disponible;
    quillon_core::amount::Amount saldo_contable;
    quillon_core::amount::Amount saldo_retenido;
    std::optional<std::string> fecha_ultimo_credito;
    std::optional<std::string> fecha_ultimo_debito;
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
// Each decoder reads a node of a gateway body's document and fills `out`; a
// failure is a "decode" error, and leaves `out` at its defaults. A failure
// anywhere inside a record or list fails the whole with the inner message
// unchanged.

quillon_core::error::Result<void> decode(const quillon_core::json::Node& node, WAccount& out);
quillon_core::error::Result<void> decode(const quillon_core::json::Node& node, WEstablishment& out);
quillon_core::error::Result<void> decode(const quillon_core::json::Node& node, List& out);
quillon_core::error::Result<void> decode(const quillon_core::json::Node& node, Created& out);
quillon_core::error::Result<void> decode(const quillon_core::json::Node& node, Changed& out);
quillon_core::error::Result<void> decode(const quillon_core::json::Node& node, WMovement& out);
quillon_core::error::Result<void> decode(const quillon_core::json::Node& node, WBalance& out);
quillon_core::error::Result<void> decode(const quillon_core::json::Node& node, Detail& out);

// A list of records: a JSON array, each element decoded in order.
template <class R>
quillon_core::error::Result<void> decode(const quillon_core::json::Node& node, std::vector<R>& out) {
    out.clear();
    if (!node.is_array()) return quillon_core::error::Error::decode(quillon_core::record::invalid_type(node, "a sequence"));
    // Element by element: room for a record is taken only once the elements
    // before it decoded, so a long array that fails early costs little (a
    // million zeros would otherwise ask for a million records up front).
    for (const quillon_core::json::Node& item : node.items()) {
        if (auto read = decode(item, out.emplace_back()); !read) {
            out.clear();
            return read;
        }
    }
    return {};
}

// The text trimmed of Unicode white space; absent when nothing is left.
std::optional<std::string> non_empty(const std::optional<std::string>& text);

}  // namespace quillon_accounts::wire
