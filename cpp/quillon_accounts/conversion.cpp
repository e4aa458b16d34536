// What each result record takes from its gateway record.
#include "conversion.hpp"

namespace quillon_accounts::model {

using wire::non_empty;

namespace {

Party party(const std::optional<std::string>& account, const std::optional<std::string>& document_id,
            const std::optional<std::string>& name, const std::optional<std::string>& bank_code,
            const std::optional<std::string>& bank_name) {
    return Party{non_empty(account), non_empty(document_id), non_empty(name), non_empty(bank_code),
                 non_empty(bank_name)};
}

}  // namespace

Account convert(wire::WAccount&& w) {
    Account a;
    a.number = std::move(w.numero_cuenta);
    a.alias = non_empty(w.alias);
    a.raw_status = non_empty(w.estado);
    a.status = a.raw_status ? AccountStatus::from_wire(*a.raw_status) : AccountStatus(AccountStatus::active);
    return a;
}

Establishment convert(wire::WEstablishment&& w) {
    return Establishment{w.id_establecimiento, non_empty(w.nombre_establecimiento),
                         convert(std::move(w.cuentas))};
}

MerchantAccounts convert(wire::List&& w) {
    return MerchantAccounts{std::move(w.nit), non_empty(w.nombre_comercio),
                            convert(std::move(w.establecimientos))};
}

CreatedAccounts convert(wire::Created&& w) {
    return CreatedAccounts{std::move(w.nit), non_empty(w.nombre_comercio), w.id_establecimiento,
                           non_empty(w.nombre_establecimiento), convert(std::move(w.cuentas))};
}

MerchantAccount convert(wire::Detail&& w) {
    return MerchantAccount{std::move(w.nit), non_empty(w.nombre_comercio), w.id_establecimiento,
                           non_empty(w.nombre_establecimiento), convert(std::move(w.cuenta))};
}

StatusChanged convert(wire::Changed&& w) {
    const AccountStatus status = AccountStatus::from_wire(w.estado);
    return StatusChanged{std::move(w.numero_cuenta), status, std::move(w.estado)};
}

Movement convert(wire::WMovement&& w) {
    Movement m;
    m.transaction_id = non_empty(w.transaction_id);
    m.operation_type = std::move(w.tipo_operacion);
    m.status = quillon_core::status::from_wire(w.estado);
    m.raw_status = std::move(w.estado);
    m.message = non_empty(w.mensaje);
    m.transaction_at = non_empty(w.fecha_hora_transaccion);
    m.amount = w.importe;
    m.fee = w.importe_comision;
    m.total = w.importe_total;
    m.currency = non_empty(w.moneda);
    m.origin = party(w.cuenta_origen, w.ci_cliente_origen, w.nombre_cliente_origen,
                     w.codigo_banco_origen, w.nombre_banco_origen);
    m.destination = party(w.cuenta_destino, w.ci_cliente_destino, w.nombre_cliente_destino,
                          w.codigo_banco_destino, w.nombre_banco_destino);
    // The gateway writes "N/A" where a movement has no reference.
    m.reference = non_empty(w.numero_referencia);
    if (m.reference == "N/A") m.reference.reset();
    m.ach_order_number = non_empty(w.num_orden_ach);
    m.recipient_order_number = non_empty(w.num_orden_destinatario);
    return m;
}

Balance convert(wire::WBalance&& w) {
    Balance b;
    b.account_number = std::move(w.numero_cuenta);
    b.raw_status = non_empty(w.estado);
    b.status = b.raw_status ? AccountStatus::from_wire(*b.raw_status) : AccountStatus(AccountStatus::unknown);
    b.currency = non_empty(w.moneda);
    b.available = w.saldo_disponible;
    b.booked = w.saldo_contable;
    b.held = w.saldo_retenido;
    b.last_credit_at = non_empty(w.fecha_ultimo_credito);
    b.last_debit_at = non_empty(w.fecha_ultimo_debito);
    return b;
}

}  // namespace quillon_accounts::model
