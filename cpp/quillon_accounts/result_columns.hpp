// Results as columns: the records of a list answer appended, as each is
// decoded and converted, to one column per field of the record's table
// (result_fields.hpp), and exported through the Arrow C interfaces.
//
// A table is a sequence of batches of one kind of record (one per answer:
// a long date range is fetched window by window). Each batch keeps its
// values in an exact form (texts as utf8 offsets and bytes, amounts as
// decimals, status words and currencies as codes into the batch's own
// dictionary); the Arrow types are decided when the table is first exported,
// over all its batches:
//   - texts: utf8; identifiers: uint64;
//   - status words and `category` texts (currency): dictionary<int32, utf8>,
//     one dictionary for the whole table in first-seen order;
//   - amounts: decimal128(38, S), S the largest scale of the column's
//     normalised values (10.50 counts as 10.5), every value rescaled exactly;
//     a column with a value that would then need more than 38 digits is
//     utf8 instead, holding each amount's normalised text;
//   - `moment` texts (transaction_at): timestamp[us] with no time zone when
//     every value present reads as a local date-time
//     (local_datetime::micros), utf8 otherwise;
//   - nested records (parties): struct columns, never null themselves;
//   - absent values: nulls through the validity bitmaps.
// Batches and exports are immutable once made: a table is safe to read from
// any number of threads.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "../quillon_core/amount.hpp"
#include "../quillon_core/arrow.hpp"
#include "../quillon_core/error.hpp"
#include "registry.hpp"
#include "result_fields.hpp"
#include "results.hpp"

namespace quillon_accounts::columns {

namespace arrow = quillon_core::arrow;

enum class ColumnType : std::uint8_t { text, category, moment, identifier, amount, group };

// One column of one batch.
struct Column {
    std::string name;
    ColumnType type = ColumnType::text;
    bool nullable = false;
    arrow::Validity validity;
    arrow::Texts texts;                             // text, moment; a category's dictionary
    std::vector<std::int32_t> codes;                // category
    std::vector<std::uint64_t> ids;                 // identifier
    std::vector<quillon_core::amount::Amount> amounts;  // amount, normalised
    std::vector<std::int64_t> micros;               // moment, while every value reads as one
    bool all_moments = true;
    int max_scale = 0;                              // amount
    int max_integer_digits = -64;                   // amount: none yet
    bool too_large = false;                         // texts past 2 GiB
    std::vector<Column> children;                   // group

    // While building a category: its words' codes.
    std::unordered_map<std::string, std::int32_t> lookup;
    std::array<std::int32_t, 16> enum_codes = filled();

private:
    static std::array<std::int32_t, 16> filled() {
        std::array<std::int32_t, 16> a{};
        a.fill(-1);
        return a;
    }
};

// The batch of one answer: its rows and columns.
struct Batch {
    std::string_view kind;  // "movements", "balances", "accounts"
    std::int64_t rows = 0;
    std::vector<Column> columns;
};

// What a column of a table is exported as.
enum class Form : std::uint8_t { utf8, dictionary, timestamp, uint64, decimal, amount_text, group };

struct ColumnPlan {
    Form form = Form::utf8;
    int scale = 0;                       // decimal
    std::vector<std::string> words;      // dictionary, in first-seen order
    std::vector<ColumnPlan> children;    // group
};

// A table: batches of one kind, in order.
class Table final : public arrow::Source {
public:
    Table(std::string_view kind, std::vector<std::shared_ptr<const Batch>> batches);

    std::string_view kind() const { return kind_; }
    std::int64_t rows() const { return rows_; }
    const std::vector<std::shared_ptr<const Batch>>& batches() const { return batches_; }
    // The names of the columns, in the record's declaration order.
    std::vector<std::string> column_names() const;

    // How each column is exported (decided over all batches, once).
    const std::vector<ColumnPlan>& plans() const { return exported().plans; }

    const arrow::Type& type() const override { return exported().type; }
    std::size_t batch_count() const override { return batches_.size(); }
    std::shared_ptr<const arrow::Array> batch(std::size_t i) const override { return exported().arrays[i]; }

    // The rows as CSV (RFC 4180: a header of the column names, struct
    // columns flattened as `origin.account`, amounts as their normalised
    // text, transaction_at as received, nulls as empty fields, fields quoted
    // when they hold `,` `"` CR or LF or start or end with a space; lines end
    // with CRLF; UTF-8 without BOM), or as JSON lines (one compact object
    // per row, members in column order, amounts as strings of their
    // normalised text, parties as objects, nulls as null, LF after each).
    std::string csv() const;
    std::string jsonl() const;

private:
    struct Exported {
        std::vector<ColumnPlan> plans;
        arrow::Type type;
        std::vector<std::shared_ptr<const arrow::Array>> arrays;
    };
    const Exported& exported() const;

    std::string_view kind_;
    std::int64_t rows_ = 0;
    std::vector<std::shared_ptr<const Batch>> batches_;
    mutable std::mutex mutex_;
    mutable std::shared_ptr<const Exported> exported_;
};

// ---- building ---------------------------------------------------------------

void put(Column& c, const std::string& s);
void put(Column& c, const std::optional<std::string>& s);
void put(Column& c, std::uint64_t n);
void put(Column& c, const std::optional<std::uint64_t>& n);
void put(Column& c, const quillon_core::amount::Amount& a);
void put(Column& c, const std::optional<quillon_core::amount::Amount>& a);
void put(Column& c, model::AccountStatus s);
void put(Column& c, quillon_core::status::PaymentStatus s);

template <model::ResultRecord R>
void put_fields(const R& r, Column* columns);

template <model::ResultRecord R>
void put(Column& c, const R& r) {
    c.validity.push(true);
    put_fields(r, c.children.data());
}

template <model::ResultRecord R>
void put_fields(const R& r, Column* columns) {
    std::size_t i = 0;
    model::for_each_field<R>([&](const auto& f) { put(columns[i++], f.get(r)); });
}

template <model::ResultRecord R>
void declare(std::vector<Column>& out);

// The column of one field: its type and nullability follow from the field's
// kind and hint.
template <class F>
Column column_of(const F& f) {
    using model::FieldKind;
    using model::Hint;
    Column c;
    c.name = std::string(f.name);
    constexpr FieldKind kind = F::kind;
    static_assert(kind != FieldKind::list, "a list field is no column");
    c.nullable = kind == FieldKind::optional_text || kind == FieldKind::optional_identifier ||
                 kind == FieldKind::optional_amount;
    if constexpr (kind == FieldKind::text || kind == FieldKind::optional_text) {
        c.type = f.hint == Hint::category ? ColumnType::category
                 : f.hint == Hint::moment ? ColumnType::moment
                                          : ColumnType::text;
    } else if constexpr (kind == FieldKind::identifier || kind == FieldKind::optional_identifier) {
        c.type = ColumnType::identifier;
    } else if constexpr (kind == FieldKind::amount || kind == FieldKind::optional_amount) {
        c.type = ColumnType::amount;
    } else if constexpr (kind == FieldKind::account_status || kind == FieldKind::payment_status) {
        c.type = ColumnType::category;
    } else {
        c.type = ColumnType::group;
        declare<typename F::Type>(c.children);
    }
    return c;
}

template <model::ResultRecord R>
void declare(std::vector<Column>& out) {
    model::for_each_field<R>([&](const auto& f) { out.push_back(column_of(f)); });
}

// The kind of table a record's rows make.
template <model::ResultRecord R>
inline constexpr std::string_view kind_name = "";
template <>
inline constexpr std::string_view kind_name<model::Movement> = "movements";
template <>
inline constexpr std::string_view kind_name<model::Balance> = "balances";
template <>
inline constexpr std::string_view kind_name<model::AccountRow> = "accounts";

// Appends the records of one answer to a new batch.
template <model::ResultRecord R>
class BatchBuilder {
public:
    BatchBuilder() : batch_(std::make_shared<Batch>()) {
        batch_->kind = kind_name<R>;
        declare<R>(batch_->columns);
    }

    void append(const R& r) {
        put_fields(r, batch_->columns.data());
        ++batch_->rows;
    }
    std::int64_t rows() const { return batch_->rows; }

    // The batch, or an error when a column grew past what it can hold (the
    // texts of one column of one batch take 32-bit offsets: 2 GiB at most).
    quillon_core::error::Result<std::shared_ptr<const Batch>> finish();

private:
    std::shared_ptr<Batch> batch_;
};

// False when a column (or a child) grew past what it can hold.
bool fits(const std::vector<Column>& columns);

template <model::ResultRecord R>
quillon_core::error::Result<std::shared_ptr<const Batch>> BatchBuilder<R>::finish() {
    if (!fits(batch_->columns)) return quillon_core::error::Error::decode("a column of the table is too large");
    std::shared_ptr<const Batch> out = std::move(batch_);
    *this = BatchBuilder();
    return out;
}

// ---- the accounts tables ----------------------------------------------------

enum class TableOp : std::uint8_t { debits, credits, balances, list, reconcile };

// The table an operation gives; nothing for one that gives none.
std::optional<TableOp> table_op(OpId op);
// The same for the operation named "accounts.debits", ... (found in the
// registry); nothing for another name.
std::optional<TableOp> table_op(std::string_view operation);

// The kind of table an operation gives ("movements", "balances",
// "accounts"; a reconciliation gives a movements and a balances table).
std::string_view kind_of(TableOp op);

// An empty table of a kind (one batch of no rows); nothing for an unknown
// kind.
std::shared_ptr<const Table> empty(std::string_view kind);

struct Tables {
    std::shared_ptr<const Table> first;
    std::shared_ptr<const Table> second;  // a reconciliation's balances
};

// The table(s) of a successful answer, built in the pass that decodes and
// converts each record; the error the engine's "parse" stage would report
// otherwise (its message may differ).
quillon_core::error::Result<Tables> build(TableOp op, std::uint16_t status, std::string_view body);

// The batches of several tables of one kind as one table; nothing when the
// kinds differ or there are none.
std::shared_ptr<const Table> concat(const std::vector<std::shared_ptr<const Table>>& parts);

}  // namespace quillon_accounts::columns
