// The field tables of the gateway records, and the field kinds they use: how
// tolerant each field is of what the gateway writes.
#include "gateway_records.hpp"

#include <array>
#include <cstdint>
#include <limits>

#include "../quillon_core/text.hpp"

namespace quillon_accounts::wire {

namespace {

using quillon_core::amount::Amount;
using quillon_core::error::Error;
using quillon_core::error::Result;
using quillon_core::json::Node;
using quillon_core::record::invalid_type;

void assign(std::optional<std::string>& slot, std::string_view text) {
    if (slot) {
        slot->assign(text);
    } else {
        slot.emplace(text);
    }
}

// Decimal text to an unsigned 64-bit number: an optional "+" then ASCII
// digits only, leading zeros allowed.
Result<std::uint64_t> parse_id(std::string_view text) {
    if (text.empty()) return Error::decode("cannot parse integer from empty string");
    std::string_view digits = text;
    if (digits.front() == '+' && digits.size() > 1) digits.remove_prefix(1);
    std::uint64_t n = 0;
    for (char ch : digits) {
        if (ch < '0' || ch > '9') return Error::decode("invalid digit found in string");
        const auto d = static_cast<std::uint64_t>(ch - '0');
        if (n > (std::numeric_limits<std::uint64_t>::max() - d) / 10) {
            return Error::decode("number too large to fit in target type");
        }
        n = n * 10 + d;
    }
    return n;
}

// ---- field kinds ----------------------------------------------------------
//
// Each kind reads one member's value into its slot. `required` says whether
// the field must be present (a missing key or a short array fails).

// A text the gateway may also write as a number.
struct ReqText {
    static constexpr bool required = true;
    static Result<void> read(const Node& v, std::string& slot) {
        if (!v.is_string() && !v.is_number()) return Error::decode("expected a string or number");
        slot.assign(v.text());
        return {};
    }
};

// As ReqText, optional; a value of any other type is dropped.
struct OptText {
    static constexpr bool required = false;
    static Result<void> read(const Node& v, std::optional<std::string>& slot) {
        if (v.is_string() || v.is_number()) {
            assign(slot, v.text());
        } else {
            slot.reset();
        }
        return {};
    }
};

struct OptString {
    static constexpr bool required = false;
    static Result<void> read(const Node& v, std::optional<std::string>& slot) {
        if (v.is_null()) {
            slot.reset();
            return {};
        }
        if (!v.is_string()) return Error::decode(invalid_type(v, "a string"));
        assign(slot, v.text());
        return {};
    }
};

struct ReqString {
    static constexpr bool required = true;
    static Result<void> read(const Node& v, std::string& slot) {
        if (!v.is_string()) return Error::decode(invalid_type(v, "a string"));
        slot.assign(v.text());
        return {};
    }
};

// An identifier: absent for what OptText drops, else the text parsed.
struct OptId {
    static constexpr bool required = false;
    static Result<void> read(const Node& v, std::optional<std::uint64_t>& slot) {
        slot.reset();
        if (!v.is_string() && !v.is_number()) return {};
        auto id = parse_id(v.text());
        if (!id) return std::move(id).error();
        slot = id.value();
        return {};
    }
};

struct ReqId {
    static constexpr bool required = true;
    static Result<void> read(const Node& v, std::uint64_t& slot) {
        std::optional<std::uint64_t> id;
        if (auto read = OptId::read(v, id); !read) return read;
        if (!id) return Error::decode("expected an id");
        slot = *id;
        return {};
    }
};

struct ReqAmount {
    static constexpr bool required = true;
    static Result<void> read(const Node& v, Amount& slot) {
        auto a = quillon_core::amount::from_node(v);
        if (!a) return std::move(a).error();
        slot = a.value();
        return {};
    }
};

struct OptAmount {
    static constexpr bool required = false;
    static Result<void> read(const Node& v, std::optional<Amount>& slot) {
        if (v.is_null()) {
            slot.reset();
            return {};
        }
        return ReqAmount::read(v, slot.emplace());
    }
};

// A list of records; missing means empty.
struct OptList {
    static constexpr bool required = false;
    template <class R>
    static Result<void> read(const Node& v, std::vector<R>& slot) {
        return decode(v, slot);
    }
};

// A record inside a record (the account of a `Detail`).
struct ReqRecord {
    static constexpr bool required = true;
    template <class R>
    static Result<void> read(const Node& v, R& slot) {
        return decode(v, slot);
    }
};

}  // namespace

}  // namespace quillon_accounts::wire

namespace quillon_core::record {

using namespace quillon_accounts::wire;

template <>
struct Table<WAccount> {
    static constexpr std::string_view name = "WAccount";
    static constexpr std::array fields = {
        field<&WAccount::numero_cuenta, ReqText>("numeroCuenta"),
        field<&WAccount::alias, OptString>("alias"),
        field<&WAccount::estado, OptString>("estado"),
    };
};

template <>
struct Table<WEstablishment> {
    static constexpr std::string_view name = "WEstablishment";
    static constexpr std::array fields = {
        field<&WEstablishment::id_establecimiento, ReqId>("idEstablecimiento"),
        field<&WEstablishment::nombre_establecimiento, OptString>("nombreEstablecimiento"),
        field<&WEstablishment::cuentas, OptList>("cuentas"),
    };
};

template <>
struct Table<List> {
    static constexpr std::string_view name = "List";
    static constexpr std::array fields = {
        field<&List::nit, ReqText>("nit"),
        field<&List::nombre_comercio, OptString>("nombreComercio"),
        field<&List::establecimientos, OptList>("establecimientos"),
    };
};

template <>
struct Table<Created> {
    static constexpr std::string_view name = "Created";
    static constexpr std::array fields = {
        field<&Created::nit, ReqText>("nit"),
        field<&Created::nombre_comercio, OptString>("nombreComercio"),
        field<&Created::id_establecimiento, ReqId>("idEstablecimiento"),
        field<&Created::nombre_establecimiento, OptString>("nombreEstablecimiento"),
        field<&Created::cuentas, OptList>("cuentas"),
    };
};

template <>
struct Table<Changed> {
    static constexpr std::string_view name = "Changed";
    static constexpr std::array fields = {
        field<&Changed::numero_cuenta, ReqText>("numeroCuenta"),
        field<&Changed::estado, ReqString>("estado"),
    };
};

template <>
struct Table<WMovement> {
    static constexpr std::string_view name = "WMovement";
    static constexpr std::array fields = {
        field<&WMovement::transaction_id, OptText>("transactionId"),
        field<&WMovement::tipo_operacion, ReqString>("tipoOperacion"),
        field<&WMovement::estado, ReqString>("estado"),
        field<&WMovement::mensaje, OptString>("mensaje"),
        field<&WMovement::fecha_hora_transaccion, OptString>("fechaHoraTransaccion"),
        field<&WMovement::importe, ReqAmount>("importe"),
        field<&WMovement::importe_comision, OptAmount>("importeComision"),
        field<&WMovement::importe_total, OptAmount>("importeTotal"),
        field<&WMovement::moneda, OptString>("moneda"),
        field<&WMovement::cuenta_origen, OptText>("cuentaOrigen"),
        field<&WMovement::ci_cliente_origen, OptText>("ciClienteOrigen"),
        field<&WMovement::nombre_cliente_origen, OptString>("nombreClienteOrigen"),
        field<&WMovement::codigo_banco_origen, OptText>("codigoBancoOrigen"),
        field<&WMovement::nombre_banco_origen, OptString>("nombreBancoOrigen"),
        field<&WMovement::cuenta_destino, OptText>("cuentaDestino"),
        field<&WMovement::ci_cliente_destino, OptText>("ciClienteDestino"),
        field<&WMovement::nombre_cliente_destino, OptString>("nombreClienteDestino"),
        field<&WMovement::codigo_banco_destino, OptText>("codigoBancoDestino"),
        field<&WMovement::nombre_banco_destino, OptString>("nombreBancoDestino"),
        field<&WMovement::numero_referencia, OptText>("numeroReferencia"),
        field<&WMovement::num_orden_ach, OptText>("numOrdenAch"),
        field<&WMovement::num_orden_destinatario, OptText>("numOrdenDestinatario"),
    };
};

template <>
struct Table<WBalance> {
    static constexpr std::string_view name = "WBalance";
    static constexpr std::array fields = {
        field<&WBalance::numero_cuenta, ReqText>("numeroCuenta"),
        field<&WBalance::estado, OptString>("estado"),
        field<&WBalance::moneda, OptString>("moneda", "tipoMoneda"),
        field<&WBalance::saldo_disponible, ReqAmount>("saldoDisponible"),
        field<&WBalance::saldo_contable, ReqAmount>("saldoContable"),
        field<&WBalance::saldo_retenido, ReqAmount>("saldoRetenido"),
        field<&WBalance::fecha_ultimo_credito, OptString>("fechaUltimoCredito"),
        field<&WBalance::fecha_ultimo_debito, OptString>("fechaUltimoDebito"),
    };
};

template <>
struct Table<Detail> {
    static constexpr std::string_view name = "Detail";
    static constexpr std::array fields = {
        field<&Detail::nit, ReqText>("nit"),
        field<&Detail::nombre_comercio, OptString>("nombreComercio"),
        field<&Detail::id_establecimiento, OptId>("idEstablecimiento"),
        field<&Detail::nombre_establecimiento, OptString>("nombreEstablecimiento"),
        field<&Detail::cuenta, ReqRecord>("cuenta"),
    };
};

}  // namespace quillon_core::record

namespace quillon_accounts::wire {

using quillon_core::json::Node;
using quillon_core::record::read;

using quillon_core::error::Result;

Result<void> decode(const Node& v, WAccount& out) { return read(v, out); }
Result<void> decode(const Node& v, WEstablishment& out) { return read(v, out); }
Result<void> decode(const Node& v, List& out) { return read(v, out); }
Result<void> decode(const Node& v, Created& out) { return read(v, out); }
Result<void> decode(const Node& v, Changed& out) { return read(v, out); }
Result<void> decode(const Node& v, WMovement& out) { return read(v, out); }
Result<void> decode(const Node& v, WBalance& out) { return read(v, out); }
Result<void> decode(const Node& v, Detail& out) { return read(v, out); }

std::optional<std::string> non_empty(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    const auto trimmed = quillon_core::text::trim(*text);
    if (trimmed.empty()) return std::nullopt;
    return std::string(trimmed);
}

}  // namespace quillon_accounts::wire
