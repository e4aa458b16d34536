// Results as columns (result_columns.hpp): appending values, deciding the
// exported form of each column over a table's batches, and exporting.
#include "result_columns.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <string>

#include "../quillon_core/decimal128.hpp"
#include "../quillon_core/json_writer.hpp"
#include "../quillon_core/local_datetime.hpp"

namespace quillon_accounts::columns {

namespace decimal128 = quillon_core::decimal128;
using quillon_core::amount::Amount;

// ---- appending --------------------------------------------------------------

namespace {

void push_text(Column& c, std::string_view s) {
    if (!c.texts.push(s.data(), s.size())) {
        c.too_large = true;
        c.texts.push_empty();
    }
}

// The code of `word` in the batch's dictionary, added when new.
std::int32_t code_of(Column& c, std::string_view word) {
    auto found = c.lookup.find(std::string(word));
    if (found != c.lookup.end()) return found->second;
    const auto code = static_cast<std::int32_t>(c.texts.size());
    push_text(c, word);
    c.lookup.emplace(std::string(word), code);
    return code;
}

void put_word(Column& c, std::size_t index, std::string_view word) {
    std::int32_t& code = c.enum_codes[index < c.enum_codes.size() ? index : c.enum_codes.size() - 1];
    if (code < 0) code = code_of(c, word);
    c.codes.push_back(code);
    c.validity.push(true);
}

}  // namespace

void put(Column& c, const std::string& s) {
    switch (c.type) {
        case ColumnType::category:
            c.codes.push_back(code_of(c, s));
            break;
        case ColumnType::moment:
            if (c.all_moments) {
                if (const auto us = quillon_core::local_datetime::micros(s)) {
                    c.micros.push_back(*us);
                } else {
                    c.all_moments = false;
                    c.micros = {};
                }
            }
            push_text(c, s);
            break;
        default:
            push_text(c, s);
    }
    c.validity.push(true);
}

void put(Column& c, const std::optional<std::string>& s) {
    if (s) return put(c, *s);
    switch (c.type) {
        case ColumnType::category:
            c.codes.push_back(0);
            break;
        case ColumnType::moment:
            if (c.all_moments) c.micros.push_back(0);
            c.texts.push_empty();
            break;
        default:
            c.texts.push_empty();
    }
    c.validity.push(false);
}

void put(Column& c, std::uint64_t n) {
    c.ids.push_back(n);
    c.validity.push(true);
}

void put(Column& c, const std::optional<std::uint64_t>& n) {
    if (n) return put(c, *n);
    c.ids.push_back(0);
    c.validity.push(false);
}

void put(Column& c, const Amount& a) {
    const Amount n = decimal128::normalised(a);
    c.max_scale = std::max<int>(c.max_scale, n.scale);
    c.max_integer_digits = std::max(c.max_integer_digits, decimal128::integer_digits(n));
    c.amounts.push_back(n);
    c.validity.push(true);
}

void put(Column& c, const std::optional<Amount>& a) {
    if (a) return put(c, *a);
    c.amounts.push_back(Amount{});
    c.validity.push(false);
}

void put(Column& c, model::AccountStatus s) {
    put_word(c, static_cast<std::size_t>(static_cast<model::AccountStatus::Value>(s)), s.word());
}

void put(Column& c, quillon_core::status::PaymentStatus s) {
    put_word(c, static_cast<std::size_t>(s), quillon_core::status::word(s));
}

bool fits(const std::vector<Column>& columns) {
    return std::all_of(columns.begin(), columns.end(),
                       [](const Column& c) { return !c.too_large && fits(c.children); });
}

// ---- the exported form ------------------------------------------------------

namespace {

template <class T>
const void* data_of(const std::vector<T>& v) {
    return v.empty() ? arrow::empty_buffer() : v.data();
}

// A column's plan and Arrow type over the same column of every batch.
struct Planned {
    ColumnPlan plan;
    arrow::Type type;
    // dictionary: the words' array, and each batch's codes mapped to it
    std::shared_ptr<const arrow::Array> dictionary;
    std::vector<std::vector<std::int32_t>> remaps;
    std::vector<Planned> children;
};

// The dictionary words in first-seen order over all batches.
struct Words {
    arrow::Texts texts;
    arrow::Validity validity;
};

Planned plan_of(const std::vector<const Column*>& cols) {
    const Column& first = *cols.front();
    Planned out;
    out.type.name = first.name;
    out.type.flags = first.nullable ? ARROW_FLAG_NULLABLE : 0;
    switch (first.type) {
        case ColumnType::text:
            out.plan.form = Form::utf8;
            out.type.format = "u";
            break;
        case ColumnType::identifier:
            out.plan.form = Form::uint64;
            out.type.format = "L";
            break;
        case ColumnType::moment: {
            const bool all = std::all_of(cols.begin(), cols.end(), [](const Column* c) { return c->all_moments; });
            out.plan.form = all ? Form::timestamp : Form::utf8;
            out.type.format = all ? "tsu:" : "u";
            break;
        }
        case ColumnType::amount: {
            int scale = 0;
            int integer = -64;
            for (const Column* c : cols) {
                scale = std::max(scale, c->max_scale);
                integer = std::max(integer, c->max_integer_digits);
            }
            if (integer + scale <= decimal128::MAX_DIGITS) {
                out.plan.form = Form::decimal;
                out.plan.scale = scale;
                out.type.format = "d:38," + std::to_string(scale);
            } else {
                out.plan.form = Form::amount_text;
                out.type.format = "u";
            }
            break;
        }
        case ColumnType::category: {
            out.plan.form = Form::dictionary;
            out.type.format = "i";
            auto dictionary_type = std::make_shared<arrow::Type>();
            dictionary_type->format = "u";
            out.type.dictionary = std::move(dictionary_type);
            auto words = std::make_shared<Words>();
            std::unordered_map<std::string_view, std::int32_t> index;
            for (const Column* c : cols) {
                std::vector<std::int32_t>& remap = out.remaps.emplace_back();
                remap.reserve(c->texts.size());
                for (std::size_t i = 0; i < c->texts.size(); ++i) {
                    const std::string_view word = c->texts.at(i);
                    auto [at, added] = index.emplace(word, static_cast<std::int32_t>(out.plan.words.size()));
                    if (added) {
                        out.plan.words.emplace_back(word);
                        words->texts.push(word.data(), word.size());
                        words->validity.push(true);
                    }
                    remap.push_back(at->second);
                }
            }
            out.dictionary = arrow::text_array(words->texts, words->validity, words);
            break;
        }
        case ColumnType::group: {
            out.plan.form = Form::group;
            out.type.format = "+s";
            for (std::size_t k = 0; k < first.children.size(); ++k) {
                std::vector<const Column*> children;
                children.reserve(cols.size());
                for (const Column* c : cols) children.push_back(&c->children[k]);
                Planned child = plan_of(children);
                out.plan.children.push_back(child.plan);
                out.type.children.push_back(child.type);
                out.children.push_back(std::move(child));
            }
            break;
        }
    }
    return out;
}

std::shared_ptr<const arrow::Array> array_of(const Column& c, const Planned& p, std::size_t batch, std::int64_t rows,
                                             const std::shared_ptr<const void>& owner) {
    if (p.plan.form == Form::utf8) return arrow::text_array(c.texts, c.validity, owner);
    auto out = std::make_shared<arrow::Array>();
    out->length = rows;
    out->null_count = c.validity.nulls();
    out->keep.push_back(owner);
    switch (p.plan.form) {
        case Form::utf8:
            break;
        case Form::uint64:
            out->buffers = {c.validity.buffer(), data_of(c.ids)};
            break;
        case Form::timestamp:
            out->buffers = {c.validity.buffer(), data_of(c.micros)};
            break;
        case Form::dictionary: {
            const std::vector<std::int32_t>& remap = p.remaps[batch];
            bool same = true;
            for (std::size_t i = 0; i < remap.size() && same; ++i) same = remap[i] == static_cast<std::int32_t>(i);
            if (same) {
                out->buffers = {c.validity.buffer(), data_of(c.codes)};
            } else {
                auto codes = std::make_shared<std::vector<std::int32_t>>(c.codes.size());
                for (std::size_t i = 0; i < c.codes.size(); ++i) {
                    (*codes)[i] = c.validity.valid(i) ? remap[static_cast<std::size_t>(c.codes[i])] : 0;
                }
                out->buffers = {c.validity.buffer(), data_of(*codes)};
                out->keep.push_back(std::move(codes));
            }
            out->dictionary = p.dictionary;
            break;
        }
        case Form::decimal: {
            auto values = std::make_shared<std::vector<std::uint64_t>>(2 * c.amounts.size());
            constexpr bool little = std::endian::native == std::endian::little;
            for (std::size_t i = 0; i < c.amounts.size(); ++i) {
                std::uint64_t lo = 0, hi = 0;
                decimal128::rescale(c.amounts[i], p.plan.scale, lo, hi);  // fits: checked by the plan
                (*values)[2 * i + (little ? 0 : 1)] = lo;
                (*values)[2 * i + (little ? 1 : 0)] = hi;
            }
            out->buffers = {c.validity.buffer(), data_of(*values)};
            out->keep.push_back(std::move(values));
            break;
        }
        case Form::amount_text: {
            auto texts = std::make_shared<arrow::Texts>();
            std::string scratch;
            for (std::size_t i = 0; i < c.amounts.size(); ++i) {
                if (!c.validity.valid(i)) {
                    texts->push_empty();
                    continue;
                }
                scratch.clear();
                quillon_core::amount::append_text(c.amounts[i], scratch);
                texts->push(scratch.data(), scratch.size());  // far below the limit: 30 bytes a value
            }
            out->buffers = {c.validity.buffer(), texts->offsets(), texts->bytes()};
            out->keep.push_back(std::move(texts));
            break;
        }
        case Form::group:
            out->null_count = 0;
            out->buffers = {nullptr};
            for (std::size_t k = 0; k < c.children.size(); ++k) {
                out->children.push_back(array_of(c.children[k], p.children[k], batch, rows, owner));
            }
            break;
    }
    return out;
}

}  // namespace

Table::Table(std::string_view kind, std::vector<std::shared_ptr<const Batch>> batches)
    : kind_(kind), batches_(std::move(batches)) {
    for (const auto& b : batches_) rows_ += b->rows;
}

std::vector<std::string> Table::column_names() const {
    std::vector<std::string> out;
    for (const Column& c : batches_.front()->columns) out.push_back(c.name);
    return out;
}

const Table::Exported& Table::exported() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (exported_) return *exported_;
    auto made = std::make_shared<Exported>();
    made->type.format = "+s";
    std::vector<Planned> planned;
    const std::size_t width = batches_.front()->columns.size();
    for (std::size_t k = 0; k < width; ++k) {
        std::vector<const Column*> cols;
        cols.reserve(batches_.size());
        for (const auto& b : batches_) cols.push_back(&b->columns[k]);
        planned.push_back(plan_of(cols));
        made->plans.push_back(planned.back().plan);
        made->type.children.push_back(planned.back().type);
    }
    for (std::size_t b = 0; b < batches_.size(); ++b) {
        const Batch& batch = *batches_[b];
        auto array = std::make_shared<arrow::Array>();
        array->length = batch.rows;
        array->buffers = {nullptr};
        for (std::size_t k = 0; k < width; ++k) {
            array->children.push_back(array_of(batch.columns[k], planned[k], b, batch.rows, batches_[b]));
        }
        made->arrays.push_back(std::move(array));
    }
    exported_ = std::move(made);
    return *exported_;
}

// ---- text forms -------------------------------------------------------------

namespace {

// Calls `leaf(column, row)` for each column of a batch, struct columns
// flattened, in column order; `open(name)`/`close()` around a group's.
template <class Leaf, class Open, class Close>
void walk(const std::vector<Column>& columns, std::size_t row, Leaf&& leaf, Open&& open, Close&& close) {
    for (const Column& c : columns) {
        if (c.type == ColumnType::group) {
            open(c);
            walk(c.children, row, leaf, open, close);
            close();
        } else {
            leaf(c, row);
        }
    }
}

// The text of a value (not null), as CSV and JSON lines show it.
void value_text(const Column& c, std::size_t row, std::string& out) {
    switch (c.type) {
        case ColumnType::text:
        case ColumnType::moment:
            out.append(c.texts.at(row));
            break;
        case ColumnType::category:
            out.append(c.texts.at(static_cast<std::size_t>(c.codes[row])));
            break;
        case ColumnType::identifier: {
            char buf[24];
            const auto end = std::to_chars(buf, buf + sizeof buf, c.ids[row]).ptr;
            out.append(buf, static_cast<std::size_t>(end - buf));
            break;
        }
        case ColumnType::amount:
            quillon_core::amount::append_text(c.amounts[row], out);
            break;
        case ColumnType::group:
            break;
    }
}

void csv_names(const std::vector<Column>& columns, const std::string& prefix, std::vector<std::string>& out) {
    for (const Column& c : columns) {
        if (c.type == ColumnType::group) {
            csv_names(c.children, prefix + c.name + ".", out);
        } else {
            out.push_back(prefix + c.name);
        }
    }
}

void csv_field(std::string_view s, std::string& out) {
    const bool quote = s.find_first_of(",\"\r\n") != std::string_view::npos ||
                       (!s.empty() && (s.front() == ' ' || s.back() == ' '));
    if (!quote) {
        out.append(s);
        return;
    }
    out.push_back('"');
    for (const char ch : s) {
        if (ch == '"') out.push_back('"');
        out.push_back(ch);
    }
    out.push_back('"');
}

}  // namespace

std::string Table::csv() const {
    std::string out;
    std::vector<std::string> names;
    csv_names(batches_.front()->columns, "", names);
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out.push_back(',');
        csv_field(names[i], out);
    }
    out.append("\r\n");
    std::string scratch;
    for (const auto& batch : batches_) {
        for (std::size_t row = 0; row < static_cast<std::size_t>(batch->rows); ++row) {
            bool first = true;
            walk(
                batch->columns, row,
                [&](const Column& c, std::size_t r) {
                    if (!first) out.push_back(',');
                    first = false;
                    if (!c.validity.valid(r)) return;
                    scratch.clear();
                    value_text(c, r, scratch);
                    csv_field(scratch, out);
                },
                [](const Column&) {}, [] {});
            out.append("\r\n");
        }
    }
    return out;
}

std::string Table::jsonl() const {
    std::string out;
    std::string scratch;
    for (const auto& batch : batches_) {
        for (std::size_t row = 0; row < static_cast<std::size_t>(batch->rows); ++row) {
            bool first = true;
            const auto key = [&](const Column& c) {
                out.push_back(first ? '{' : ',');
                first = false;
                quillon_core::json::write_string(c.name, out);
                out.push_back(':');
            };
            walk(
                batch->columns, row,
                [&](const Column& c, std::size_t r) {
                    key(c);
                    if (!c.validity.valid(r)) {
                        out.append("null");
                    } else if (c.type == ColumnType::identifier) {
                        value_text(c, r, out);
                    } else {
                        scratch.clear();
                        value_text(c, r, scratch);
                        quillon_core::json::write_string(scratch, out);
                    }
                },
                [&](const Column& c) {
                    key(c);
                    first = true;
                },
                [&] {
                    out.push_back('}');
                    first = false;
                });
            out.append(first ? "{}\n" : "}\n");
        }
    }
    return out;
}

}  // namespace quillon_accounts::columns
