// The tables of the accounts answers (result_columns.hpp): each answer's
// records decoded, converted and appended to the columns one at a time, by
// the same envelope and record reading as the "parse" stage.
#include <array>
#include <utility>

#include "../quillon_core/envelope.hpp"
#include "../quillon_core/http.hpp"
#include "../quillon_core/record.hpp"
#include "conversion.hpp"
#include "gateway_records.hpp"
#include "result_columns.hpp"

namespace quillon_accounts::columns {

namespace {

using quillon_core::envelope::CodeData;
using quillon_core::error::Error;
using quillon_core::error::Result;
using quillon_core::http::HttpResponse;
using quillon_core::json::Node;

// Decodes, converts and appends one element of a list of W.
template <class W, class R>
Result<void> append(const Node& item, W& record, BatchBuilder<R>& to) {
    if (auto read = wire::decode(item, record); !read) return read;
    to.append(model::convert(std::move(record)));
    return {};
}

template <class W, class R>
class ColumnSink final : public quillon_core::envelope::ListSink {
public:
    explicit ColumnSink(BatchBuilder<R>& to) : to_(to) {}
    Result<void> element(const Node& item) override { return append(item, record_, to_); }

private:
    BatchBuilder<R>& to_;
    W record_;
};

// A list of W in a document, appended element by element.
template <class W, class R>
Result<void> append_list(const Node& node, BatchBuilder<R>& to) {
    if (!node.is_array()) return Error::decode(quillon_core::record::invalid_type(node, "a sequence"));
    W record;
    for (const Node& item : node.items()) {
        if (auto done = append(item, record, to); !done) return done;
    }
    return {};
}

template <class R>
Result<Tables> one_table(BatchBuilder<R>& builder) {
    auto batch = builder.finish();
    if (!batch) return std::move(batch).error();
    return Tables{std::make_shared<const Table>(kind_name<R>, std::vector{std::move(batch).value()}), nullptr};
}

// A list answer: in one pass over the body when it is a successful list,
// else through the body's document (as the "parse" stage does).
template <class W, class R>
Result<Tables> list_table(std::uint16_t status, std::string_view body) {
    {
        BatchBuilder<R> builder;
        ColumnSink<W, R> sink(builder);
        auto opened = CodeData::open_list(status, body, sink);
        if (!opened) return std::move(opened).error();
        if (opened.value()) return one_table(builder);
    }
    BatchBuilder<R> builder;
    auto read = CodeData::open_with<bool>(HttpResponse{status, std::string(body)}, [&](const Node& node) -> Result<bool> {
        if (auto done = append_list<W>(node, builder); !done) return std::move(done).error();
        return true;
    });
    if (!read) return std::move(read).error();
    return one_table(builder);
}

// A list field of a gateway record appended to columns as it is decoded.
template <class W, class R>
struct ColumnList {
    static constexpr bool required = false;
    static Result<void> read(const Node& node, BatchBuilder<R>& slot) {
        slot = BatchBuilder<R>();
        return append_list<W>(node, slot);
    }
};

// The gateway's reconciliation, its two lists appended as they are decoded.
struct ColumnReconciliation {
    BatchBuilder<model::Movement> movimientos;
    BatchBuilder<model::Balance> saldos;
};

}  // namespace

}  // namespace quillon_accounts::columns

namespace quillon_core::record {

template <>
struct Table<quillon_accounts::columns::ColumnReconciliation> {
    using R = quillon_accounts::columns::ColumnReconciliation;
    static constexpr std::string_view name = "WReconciliation";
    static constexpr std::array fields = {
        field<&R::movimientos,
              quillon_accounts::columns::ColumnList<quillon_accounts::wire::WMovement, quillon_accounts::model::Movement>>(
            "movimientos"),
        field<&R::saldos,
              quillon_accounts::columns::ColumnList<quillon_accounts::wire::WBalance, quillon_accounts::model::Balance>>(
            "saldos"),
    };
};

}  // namespace quillon_core::record

namespace quillon_accounts::columns {

namespace {

Result<void> decode(const Node& node, ColumnReconciliation& out) { return quillon_core::record::read(node, out); }

Result<Tables> reconciliation_tables(std::uint16_t status, std::string_view body) {
    auto wire = CodeData::open<ColumnReconciliation>(HttpResponse{status, std::string(body)});
    if (!wire) return std::move(wire).error();
    auto movements = one_table(wire.value().movimientos);
    if (!movements) return std::move(movements).error();
    auto balances = one_table(wire.value().saldos);
    if (!balances) return std::move(balances).error();
    return Tables{std::move(movements).value().first, std::move(balances).value().first};
}

// One row per account, its establishment and merchant beside it.
Result<Tables> account_table(std::uint16_t status, std::string_view body) {
    auto wire = CodeData::open<wire::List>(HttpResponse{status, std::string(body)});
    if (!wire) return std::move(wire).error();
    const model::MerchantAccounts merchant = model::convert(std::move(wire).value());
    BatchBuilder<model::AccountRow> builder;
    model::AccountRow row;
    row.nit = merchant.nit;
    row.merchant_name = merchant.merchant_name;
    for (const model::Establishment& e : merchant.establishments) {
        row.establishment_id = e.id;
        row.establishment_name = e.name;
        for (const model::Account& a : e.accounts) {
            row.number = a.number;
            row.alias = a.alias;
            row.status = a.status;
            row.raw_status = a.raw_status;
            builder.append(row);
        }
    }
    return one_table(builder);
}

template <class R>
std::shared_ptr<const Table> empty_of() {
    BatchBuilder<R> builder;
    auto tables = one_table(builder);
    return tables ? tables.value().first : nullptr;
}

}  // namespace

std::optional<TableOp> table_op(OpId op) {
    switch (op) {
        case OpId::debits:
            return TableOp::debits;
        case OpId::credits:
            return TableOp::credits;
        case OpId::balances:
            return TableOp::balances;
        case OpId::list:
            return TableOp::list;
        case OpId::reconcile:
            return TableOp::reconcile;
        case OpId::get:
        case OpId::create:
        case OpId::set_status:
            break;
    }
    return std::nullopt;
}

std::optional<TableOp> table_op(std::string_view operation) {
    const auto op = find_operation(operation);
    return op ? table_op(*op) : std::nullopt;
}

std::string_view kind_of(TableOp op) {
    switch (op) {
        case TableOp::balances:
            return kind_name<model::Balance>;
        case TableOp::list:
            return kind_name<model::AccountRow>;
        default:
            return kind_name<model::Movement>;
    }
}

std::shared_ptr<const Table> empty(std::string_view kind) {
    if (kind == kind_name<model::Movement>) return empty_of<model::Movement>();
    if (kind == kind_name<model::Balance>) return empty_of<model::Balance>();
    if (kind == kind_name<model::AccountRow>) return empty_of<model::AccountRow>();
    return nullptr;
}

Result<Tables> build(TableOp op, std::uint16_t status, std::string_view body) {
    switch (op) {
        case TableOp::debits:
        case TableOp::credits:
            return list_table<wire::WMovement, model::Movement>(status, body);
        case TableOp::balances:
            return list_table<wire::WBalance, model::Balance>(status, body);
        case TableOp::list:
            return account_table(status, body);
        case TableOp::reconcile:
            return reconciliation_tables(status, body);
    }
    return Error::decode("no table for this operation");
}

std::shared_ptr<const Table> concat(const std::vector<std::shared_ptr<const Table>>& parts) {
    if (parts.empty()) return nullptr;
    std::vector<std::shared_ptr<const Batch>> batches;
    for (const auto& part : parts) {
        if (part->kind() != parts.front()->kind()) return nullptr;
        batches.insert(batches.end(), part->batches().begin(), part->batches().end());
    }
    return std::make_shared<const Table>(parts.front()->kind(), std::move(batches));
}

}  // namespace quillon_accounts::columns
