// One record reader for every gateway record, driven by a table of fields per
// record: key, kind and where the value goes.
#include "wire.hpp"

#include <array>
#include <cstdint>
#include <span>
#include <type_traits>

#include "../quillon_core/json_reader.hpp"
#include "../quillon_core/text.hpp"

namespace quillon_accounts::wire {

namespace {

// ---- messages ---------------------------------------------------------------

// The found value as a decoding message names it.
std::string describe(const Node& v) {
    switch (v.kind()) {
        case quillon_core::json::Kind::Null:
            return "unit value";
        case quillon_core::json::Kind::Bool:
            return v.as_bool() ? "boolean `true`" : "boolean `false`";
        case quillon_core::json::Kind::Number:
            return "number";
        case quillon_core::json::Kind::String:
            return quillon_core::json::describe_string(v.text());
        case quillon_core::json::Kind::Array:
            return "sequence";
        case quillon_core::json::Kind::Object:
        default:
            return "map";
    }
}

bool fail(std::string& message, std::string text) {
    message = std::move(text);
    return false;
}

void assign(std::optional<std::string>& slot, std::string_view text) {
    if (slot) {
        slot->assign(text);
    } else {
        slot.emplace(text);
    }
}

// ---- field kinds --------------------------------------------------------------
//
// Each kind reads one member's value into its slot. `required` says whether
// the field must be present (a missing key or a short array fails).

struct ReqText {
    static constexpr bool required = true;
    static bool read(const Node& v, std::string& slot, std::string& m) {
        if (!v.is_string() && !v.is_number()) return fail(m, "expected a string or number");
        slot.assign(v.text());
        return true;
    }
};

struct OptText {
    static constexpr bool required = false;
    static bool read(const Node& v, std::optional<std::string>& slot, std::string&) {
        if (v.is_string() || v.is_number()) {
            assign(slot, v.text());
        } else {
            slot.reset();
        }
        return true;
    }
};

struct OptString {
    static constexpr bool required = false;
    static bool read(const Node& v, std::optional<std::string>& slot, std::string& m) {
        if (v.is_null()) {
            slot.reset();
            return true;
        }
        if (!v.is_string()) return fail(m, invalid_type(v, "a string"));
        assign(slot, v.text());
        return true;
    }
};

struct ReqString {
    static constexpr bool required = true;
    static bool read(const Node& v, std::string& slot, std::string& m) {
        if (!v.is_string()) return fail(m, invalid_type(v, "a string"));
        slot.assign(v.text());
        return true;
    }
};

// An identifier: absent for what `opt_text` drops, else the text parsed.
bool read_id(const Node& v, std::optional<std::uint64_t>& out, std::string& m) {
    if (!v.is_string() && !v.is_number()) {
        out.reset();
        return true;
    }
    std::uint64_t n = 0;
    if (!parse_id(v.text(), n, m)) return false;
    out = n;
    return true;
}

struct ReqU64 {
    static constexpr bool required = true;
    static bool read(const Node& v, std::uint64_t& slot, std::string& m) {
        std::optional<std::uint64_t> id;
        if (!read_id(v, id, m)) return false;
        if (!id) return fail(m, "expected an id");
        slot = *id;
        return true;
    }
};

struct OptU64 {
    static constexpr bool required = false;
    static bool read(const Node& v, std::optional<std::uint64_t>& slot, std::string& m) {
        return read_id(v, slot, m);
    }
};

struct ReqAmount {
    static constexpr bool required = true;
    static bool read(const Node& v, Amount& slot, std::string& m) {
        auto a = quillon_core::amount::from_node(v, m);
        if (!a) return false;
        slot = *a;
        return true;
    }
};

struct OptAmount {
    static constexpr bool required = false;
    static bool read(const Node& v, std::optional<Amount>& slot, std::string& m) {
        if (v.is_null()) {
            slot.reset();
            return true;
        }
        auto a = quillon_core::amount::from_node(v, m);
        if (!a) return false;
        slot = *a;
        return true;
    }
};

template <class R>
struct ListOf {
    static constexpr bool required = false;
    static bool read(const Node& v, std::vector<R>& slot, std::string& m) { return decode(v, slot, m); }
};

// ---- record tables --------------------------------------------------------------

template <class R>
struct Field {
    std::string_view key;
    std::string_view alias;  // a second key for the same field, or empty
    bool required;
    bool (*read)(const Node&, R&, std::string&);
    void (*reset)(R&);  // back to the field's default

    bool named(std::string_view k) const { return key == k || (!alias.empty() && alias == k); }
};

template <class M>
struct MemberOf;
template <class R, class T>
struct MemberOf<T R::*> {
    using Record = R;
};

template <auto Member, class Kind>
bool read_member(const Node& v, typename MemberOf<decltype(Member)>::Record& record, std::string& m) {
    return Kind::read(v, record.*Member, m);
}

template <auto Member>
void reset_member(typename MemberOf<decltype(Member)>::Record& record) {
    using T = std::remove_reference_t<decltype(record.*Member)>;
    record.*Member = T{};
}

template <auto Member, class Kind>
constexpr Field<typename MemberOf<decltype(Member)>::Record> field(std::string_view key,
                                                                    std::string_view alias = {}) {
    return {key, alias, Kind::required, &read_member<Member, Kind>, &reset_member<Member>};
}

template <class R>
struct Table {
    std::string_view name;  // messages name the record "struct {name}"
    std::span<const Field<R>> fields;

    std::string expected() const { return "struct " + std::string(name); }
    std::string expected_len() const {
        return expected() + " with " + std::to_string(fields.size()) + " elements";
    }
};

constexpr Field<WAccount> waccount_fields[] = {
    field<&WAccount::numero_cuenta, ReqText>("numeroCuenta"),
    field<&WAccount::alias, OptString>("alias"),
    field<&WAccount::estado, OptString>("estado"),
};
constexpr Table<WAccount> waccount_table{"WAccount", waccount_fields};
constexpr const Table<WAccount>& table_for(const WAccount&) { return waccount_table; }

constexpr Field<WEstablishment> westablishment_fields[] = {
    field<&WEstablishment::id_establecimiento, ReqU64>("idEstablecimiento"),
    field<&WEstablishment::nombre_establecimiento, OptString>("nombreEstablecimiento"),
    field<&WEstablishment::cuentas, ListOf<WAccount>>("cuentas"),
};
constexpr Table<WEstablishment> westablishment_table{"WEstablishment", westablishment_fields};
constexpr const Table<WEstablishment>& table_for(const WEstablishment&) {
    return westablishment_table;
}

constexpr Field<List> list_fields[] = {
    field<&List::nit, ReqText>("nit"),
    field<&List::nombre_comercio, OptString>("nombreComercio"),
    field<&List::establecimientos, ListOf<WEstablishment>>("establecimientos"),
};
constexpr Table<List> list_table{"List", list_fields};
constexpr const Table<List>& table_for(const List&) { return list_table; }

constexpr Field<Created> created_fields[] = {
    field<&Created::nit, ReqText>("nit"),
    field<&Created::nombre_comercio, OptString>("nombreComercio"),
    field<&Created::id_establecimiento, ReqU64>("idEstablecimiento"),
    field<&Created::nombre_establecimiento, OptString>("nombreEstablecimiento"),
    field<&Created::cuentas, ListOf<WAccount>>("cuentas"),
};
constexpr Table<Created> created_table{"Created", created_fields};
constexpr const Table<Created>& table_for(const Created&) { return created_table; }

constexpr Field<Changed> changed_fields[] = {
    field<&Changed::numero_cuenta, ReqText>("numeroCuenta"),
    field<&Changed::estado, ReqString>("estado"),
};
constexpr Table<Changed> changed_table{"Changed", changed_fields};
constexpr const Table<Changed>& table_for(const Changed&) { return changed_table; }

constexpr Field<WMovement> wmovement_fields[] = {
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
constexpr Table<WMovement> wmovement_table{"WMovement", wmovement_fields};
constexpr const Table<WMovement>& table_for(const WMovement&) { return wmovement_table; }

constexpr Field<WBalance> wbalance_fields[] = {
    field<&WBalance::numero_cuenta, ReqText>("numeroCuenta"),
    field<&WBalance::estado, OptString>("estado"),
    field<&WBalance::moneda, OptString>("moneda", "tipoMoneda"),
    field<&WBalance::saldo_disponible, ReqAmount>("saldoDisponible"),
    field<&WBalance::saldo_contable, ReqAmount>("saldoContable"),
    field<&WBalance::saldo_retenido, ReqAmount>("saldoRetenido"),
    field<&WBalance::fecha_ultimo_credito, OptString>("fechaUltimoCredito"),
    field<&WBalance::fecha_ultimo_debito, OptString>("fechaUltimoDebito"),
};
constexpr Table<WBalance> wbalance_table{"WBalance", wbalance_fields};
constexpr const Table<WBalance>& table_for(const WBalance&) { return wbalance_table; }

constexpr Field<WReconciliation> wreconciliation_fields[] = {
    field<&WReconciliation::movimientos, ListOf<WMovement>>("movimientos"),
    field<&WReconciliation::saldos, ListOf<WBalance>>("saldos"),
};
constexpr Table<WReconciliation> wreconciliation_table{"WReconciliation", wreconciliation_fields};
constexpr const Table<WReconciliation>& table_for(const WReconciliation&) {
    return wreconciliation_table;
}

// A record inside a record (the account of a `Detail`).
template <class R>
struct Nested {
    static constexpr bool required = true;
    static bool read(const Node& v, R& slot, std::string& m) { return decode(v, slot, m); }
};

constexpr Field<Detail> detail_fields[] = {
    field<&Detail::nit, ReqText>("nit"),
    field<&Detail::nombre_comercio, OptString>("nombreComercio"),
    field<&Detail::id_establecimiento, OptU64>("idEstablecimiento"),
    field<&Detail::nombre_establecimiento, OptString>("nombreEstablecimiento"),
    field<&Detail::cuenta, Nested<WAccount>>("cuenta"),
};
constexpr Table<Detail> detail_table{"Detail", detail_fields};
constexpr const Table<Detail>& table_for(const Detail&) { return detail_table; }

// ---- the record reader ------------------------------------------------------------

using quillon_core::json::Member;

// Which field a key names, guessing first the field that followed `previous`
// the last time: the members of a gateway's records come in the same order
// record after record, so the guess is nearly always right. The guesses only
// save comparisons; they never change which field is found.
template <class R>
std::size_t field_index(const Table<R>& t, std::string_view key, std::size_t previous) {
    static constexpr std::size_t N = 32;  // no record has more fields
    thread_local std::array<std::uint8_t, N + 1> next = [] {
        std::array<std::uint8_t, N + 1> a{};
        for (std::size_t i = 0; i <= N; ++i) a[i] = static_cast<std::uint8_t>(i == N ? 0 : i + 1);
        return a;
    }();
    const std::size_t guess = next[previous];
    if (guess < t.fields.size() && t.fields[guess].named(key)) return guess;
    for (std::size_t i = 0; i < t.fields.size(); ++i) {
        if (t.fields[i].named(key)) {
            next[previous] = static_cast<std::uint8_t>(i);
            return i;
        }
    }
    return t.fields.size();
}

// The members in ascending key order, the last of repeated keys winning, each
// field read as met; then the first required field not seen, in declaration
// order. This is the decoding as defined; `read_object` gets the same result
// faster whenever it can.
template <class R>
bool read_sorted(const Node& v, R& out, const Table<R>& t, std::string& m) {
    out = R{};
    std::uint32_t seen = 0;
    for (const Member* member : quillon_core::json::sorted_members(v)) {
        std::size_t i = 0;
        while (i < t.fields.size() && !t.fields[i].named(member->key)) ++i;
        if (i == t.fields.size()) continue;  // unknown key: not examined
        const std::uint32_t bit = std::uint32_t{1} << i;
        if (seen & bit) return fail(m, "duplicate field `" + std::string(t.fields[i].key) + "`");
        seen |= bit;
        if (!t.fields[i].read(member->value, out, m)) return false;
    }
    for (std::size_t i = 0; i < t.fields.size(); ++i) {
        if (t.fields[i].required && !(seen & (std::uint32_t{1} << i))) {
            return fail(m, "missing field `" + std::string(t.fields[i].key) + "`");
        }
    }
    return true;
}

// Object form, in the order of the text. Reading a field does not depend on
// the other fields, so while no key repeats (or meets its alias) and no field
// fails, this order gives what the sorted order gives. Otherwise the record
// is read again by `read_sorted`, which settles the outcome and the message.
template <class R>
bool read_object(const Node& v, R& out, const Table<R>& t, std::string& m) {
    std::uint32_t seen = 0;
    std::size_t previous = 32;
    for (const Member& member : v.members()) {
        const std::size_t i = field_index(t, member.key, previous);
        if (i == t.fields.size()) continue;
        previous = i;
        const std::uint32_t bit = std::uint32_t{1} << i;
        if ((seen & bit) || !t.fields[i].read(member.value, out, m)) return read_sorted(v, out, t, m);
        seen |= bit;
    }
    for (std::size_t i = 0; i < t.fields.size(); ++i) {
        const std::uint32_t bit = std::uint32_t{1} << i;
        if (seen & bit) continue;
        if (t.fields[i].required) return fail(m, "missing field `" + std::string(t.fields[i].key) + "`");
        t.fields[i].reset(out);
    }
    return true;
}

// Array form: element i is field i; a short array leaves optional fields at
// their defaults and fails at the first required one; a long one fails.
template <class R>
bool read_array(const Node& v, R& out, const Table<R>& t, std::string& m) {
    out = R{};
    const auto items = v.items();
    for (std::size_t i = 0; i < t.fields.size(); ++i) {
        if (i < items.size()) {
            if (!t.fields[i].read(items[i], out, m)) return false;
        } else if (t.fields[i].required) {
            return fail(m, "invalid length " + std::to_string(i) + ", expected " +
                               t.expected_len());
        }
    }
    if (items.size() > t.fields.size()) {
        return fail(m, "invalid length " + std::to_string(items.size()) +
                           ", expected fewer elements in array");
    }
    return true;
}

template <class R>
bool read_record(const Node& v, R& out, std::string& m) {
    const Table<R>& t = table_for(out);
    bool ok = false;
    if (v.is_object()) {
        ok = read_object(v, out, t, m);
    } else if (v.is_array()) {
        ok = read_array(v, out, t, m);
    } else {
        m = invalid_type(v, t.expected());
    }
    if (!ok) out = R{};
    return ok;
}

}  // namespace

std::string invalid_type(const Node& found, std::string_view expected) {
    return "invalid type: " + describe(found) + ", expected " + std::string(expected);
}

bool decode(const Node& v, WAccount& out, std::string& m) { return read_record(v, out, m); }
bool decode(const Node& v, WEstablishment& out, std::string& m) { return read_record(v, out, m); }
bool decode(const Node& v, List& out, std::string& m) { return read_record(v, out, m); }
bool decode(const Node& v, Created& out, std::string& m) { return read_record(v, out, m); }
bool decode(const Node& v, Changed& out, std::string& m) { return read_record(v, out, m); }
bool decode(const Node& v, WMovement& out, std::string& m) { return read_record(v, out, m); }
bool decode(const Node& v, WBalance& out, std::string& m) { return read_record(v, out, m); }
bool decode(const Node& v, WReconciliation& out, std::string& m) { return read_record(v, out, m); }
bool decode(const Node& v, Detail& out, std::string& m) { return read_record(v, out, m); }

bool parse_id(std::string_view text, std::uint64_t& out, std::string& message) {
    if (text.empty()) return fail(message, "cannot parse integer from empty string");
    std::string_view digits = text;
    if (digits.front() == '+' && digits.size() > 1) digits.remove_prefix(1);
    std::uint64_t n = 0;
    for (char ch : digits) {
        if (ch < '0' || ch > '9') return fail(message, "invalid digit found in string");
        const auto d = static_cast<std::uint64_t>(ch - '0');
        if (n > (UINT64_MAX - d) / 10) return fail(message, "number too large to fit in target type");
        n = n * 10 + d;
    }
    out = n;
    return true;
}

std::optional<std::string> non_empty(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    const auto trimmed = quillon_core::text::trim(*text);
    if (trimmed.empty()) return std::nullopt;
    return std::string(trimmed);
}

}  // namespace quillon_accounts::wire
