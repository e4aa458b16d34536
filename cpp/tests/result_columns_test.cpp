// Columns of results: exact rescaling of amounts to a column's scale, the
// text fallback past 38 digits, the local date-time rule of timestamp
// columns (each decided over all batches), and the ownership of exported
// Arrow structures.
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "check.hpp"
#include "quillon_accounts/result_columns.hpp"
#include "quillon_core/decimal128.hpp"
#include "quillon_core/local_datetime.hpp"
#include "quillon_core/uint128.hpp"

namespace columns = quillon_accounts::columns;
namespace model = quillon_accounts::model;
namespace amount = quillon_core::amount;
namespace decimal128 = quillon_core::decimal128;

namespace {

amount::Amount amt(const std::string& text) { return amount::from_text(text).value(); }

// The 128-bit value at `scale` as signed decimal text, or "text" when it
// does not fit 38 digits.
std::string rescaled(const std::string& text, int scale) {
    std::uint64_t lo = 0, hi = 0;
    if (!decimal128::rescale(decimal128::normalised(amt(text)), scale, lo, hi)) return "text";
    const bool negative = (hi >> 63) != 0;
    if (negative) {
        hi = ~hi;
        lo = ~lo + 1;
        if (lo == 0) ++hi;
    }
    quillon_core::UInt128 m{hi, lo};
    std::string digits;
    do {
        std::uint32_t digit = 0;
        m = quillon_core::div_small(m, 10, digit);
        digits.insert(digits.begin(), static_cast<char>('0' + digit));
    } while (m != quillon_core::UInt128{});
    return (negative ? "-" : "") + digits;
}

// A table of movements, one batch per list of (amount, transaction_at).
std::shared_ptr<const columns::Table> movements(
    const std::vector<std::vector<std::pair<std::string, std::optional<std::string>>>>& batches) {
    std::vector<std::shared_ptr<const columns::Table>> parts;
    for (const auto& rows : batches) {
        columns::BatchBuilder<model::Movement> builder;
        for (const auto& [a, at] : rows) {
            model::Movement m;
            m.operation_type = "DEBITO";
            m.raw_status = "PAGADO";
            m.amount = amt(a);
            m.transaction_at = at;
            builder.append(m);
        }
        parts.push_back(std::make_shared<const columns::Table>("movements", std::vector{builder.finish().value()}));
    }
    return columns::concat(parts);
}

std::string format_of(const columns::Table& t, const std::string& name) {
    for (const auto& child : t.type().children) {
        if (child.name == name) return child.format;
    }
    return "?";
}

}  // namespace

TEST(amounts_rescale_exactly_or_not_at_all) {
    struct Case {
        const char* amount;
        int scale;
        const char* expected;
    };
    const Case cases[] = {
        {"10.50", 2, "1050"},
        {"10.50", 4, "105000"},
        {"-0.01", 2, "-1"},
        {"-0", 3, "0"},
        {"79228162514264337593543950335", 9, "79228162514264337593543950335000000000"},  // 38 digits
        {"79228162514264337593543950335", 10, "text"},
        {"-79228162514264337593543950335", 9, "-79228162514264337593543950335000000000"},
        {"0.0000000000000000000000000001", 28, "1"},
        {"1.5", 0, "text"},  // below its own scale
    };
    for (const Case& c : cases) CHECK_EQ(rescaled(c.amount, c.scale), std::string(c.expected));

    std::string shown;
    decimal128::append_at_scale(amt("10.5000"), 3, shown);
    shown += " ";
    decimal128::append_at_scale(amt("7"), 2, shown);
    CHECK_EQ(shown, std::string("10.500 7.00"));
}

TEST(the_amount_column_is_decided_over_all_batches) {
    // Scale 2 in one batch and 28 integer digits in another: 30 digits, fits.
    auto fits = movements({{{"0.05", std::nullopt}}, {{"1234567890123456789012345678", std::nullopt}}});
    CHECK_EQ(format_of(*fits, "amount"), std::string("d:38,2"));
    // Each batch alone fits; together they need 29 + 10 digits: text.
    auto wide = movements({{{"0.0000000001", std::nullopt}}, {{"79228162514264337593543950335", std::nullopt}}});
    CHECK_EQ(format_of(*wide, "amount"), std::string("u"));
    CHECK_EQ(wide->csv().find("0.0000000001,") != std::string::npos, true);
    // Trailing zeros do not count towards the scale.
    auto zeros = movements({{{"5.0000000000000000000000000000", std::nullopt}}});
    CHECK_EQ(format_of(*zeros, "amount"), std::string("d:38,0"));
}

TEST(local_date_times_read_as_timestamps) {
    namespace ldt = quillon_core::local_datetime;
    struct Case {
        const char* text;
        std::optional<std::int64_t> micros;
    };
    const Case cases[] = {
        {"1970-01-01T00:00:00", 0},
        {"1970-01-01 00:00:01.5", 1'500'000},
        {"2024-02-29T23:59:59.123456", 1'709'251'199'123'456},
        {"2024-02-29T23:59:59.123456000", 1'709'251'199'123'456},
        {"2024-02-29T23:59:59.1234567", std::nullopt},  // a digit below the microsecond
        {"2023-02-29T00:00:00", std::nullopt},
        {"2024-01-01T24:00:00", std::nullopt},
        {"2024-01-01T00:00:60", std::nullopt},
        {"2024-01-01T00:00:00Z", std::nullopt},
        {"2024-01-01T00:00:00+01:00", std::nullopt},
        {"2024-01-01T00:00:00.", std::nullopt},
        {"2024-01-01", std::nullopt},
        {"0000-01-01T00:00:00", std::nullopt},
        {"0001-01-01T00:00:00", -62'135'596'800'000'000},
        {"2024-1-01T00:00:00", std::nullopt},
    };
    for (const Case& c : cases) CHECK_EQ(ldt::micros(c.text).value_or(-1), c.micros.value_or(-1));
    const auto back = ldt::civil(*ldt::micros("0001-01-01T00:00:00"));
    CHECK_EQ(back.year * 10000 + back.month * 100 + back.day, 10101);

    // Every value of every batch must read; nulls do not count.
    CHECK_EQ(format_of(*movements({{{"1", "2024-01-01T10:00:00"}}, {{"1", std::nullopt}}}), "transaction_at"),
             std::string("tsu:"));
    CHECK_EQ(format_of(*movements({{{"1", "2024-01-01T10:00:00"}}, {{"1", "ayer"}}}), "transaction_at"),
             std::string("u"));
}

TEST(exported_structures_are_released_once_and_keep_their_data_alive) {
    std::weak_ptr<const columns::Table> watch;
    std::weak_ptr<const columns::Batch> batch;
    ArrowArrayStream stream{};
    {
        auto table = movements({{{"1.5", "2024-01-01T10:00:00"}, {"2", std::nullopt}}, {{"3", "x"}}});
        watch = table;
        batch = table->batches().front();
        quillon_core::arrow::export_stream(table, &stream);
    }
    CHECK(!watch.expired());  // the stream holds the table

    ArrowSchema schema{};
    CHECK_EQ(stream.get_schema(&stream, &schema), 0);
    CHECK_EQ(schema.n_children, std::int64_t{15});
    ArrowArray first{}, second{}, end{};
    CHECK_EQ(stream.get_next(&stream, &first), 0);
    CHECK_EQ(stream.get_next(&stream, &second), 0);
    CHECK_EQ(stream.get_next(&stream, &end), 0);
    CHECK(end.release == nullptr);
    CHECK_EQ(first.length + second.length, std::int64_t{3});
    stream.release(&stream);
    CHECK(stream.release == nullptr);
    CHECK(watch.expired());
    CHECK(!batch.expired());  // the arrays hold their batches

    // A child moved out outlives its parent.
    ArrowArray moved = *first.children[0];
    first.children[0]->release = nullptr;
    first.release(&first);
    second.release(&second);
    schema.release(&schema);
    CHECK(first.release == nullptr);
    CHECK(!batch.expired());
    CHECK_EQ(moved.length, std::int64_t{2});
    CHECK_EQ(moved.null_count, std::int64_t{2});  // no transaction_id
    moved.release(&moved);
    CHECK(moved.release == nullptr);
    CHECK(batch.expired());
}

TEST(validity_bitmaps_start_when_the_first_null_comes) {
    // (pattern of valid values, expected bytes of the bitmap; none while all are valid)
    struct Case {
        std::string pattern;
        std::vector<std::uint8_t> bits;
    };
    const Case cases[] = {
        {"111111111", {}},
        {"0", {0x00}},
        {"1110", {0x07}},
        {"111111110", {0xFF, 0x00}},
        {"11111111101", {0xFF, 0x05}},
        {"0000000011", {0x00, 0x03}},
    };
    for (const Case& c : cases) {
        quillon_core::arrow::Validity v;
        for (const char bit : c.pattern) v.push(bit == '1');
        const auto* bits = static_cast<const std::uint8_t*>(v.buffer());
        CHECK_EQ(bits == nullptr, c.bits.empty());
        if (bits != nullptr) CHECK_EQ(std::vector<std::uint8_t>(bits, bits + c.bits.size()) == c.bits, true);
        for (std::size_t i = 0; i < c.pattern.size(); ++i) CHECK_EQ(v.valid(i), c.pattern[i] == '1');
    }
}

TEST(dictionaries_keep_the_first_seen_order_of_all_batches) {
    // Batch 1 sees "paid" then "rejected"; batch 2 sees "rejected" then "pending".
    std::vector<std::shared_ptr<const columns::Table>> parts;
    for (const auto& words : {std::vector<std::string>{"PAGADO", "RECHAZADO", "PAGADO"},
                              std::vector<std::string>{"RECHAZADO", "PENDIENTE"}}) {
        columns::BatchBuilder<model::Movement> builder;
        for (const auto& w : words) {
            model::Movement m;
            m.status = quillon_core::status::from_wire(w);
            builder.append(m);
        }
        parts.push_back(std::make_shared<const columns::Table>("movements", std::vector{builder.finish().value()}));
    }
    const auto table = columns::concat(parts);
    const std::vector<std::string> words{"paid", "rejected", "pending"};
    CHECK(table->plans()[2].words == words);
    std::vector<std::int32_t> codes;
    for (std::size_t b = 0; b < 2; ++b) {
        const auto& status = *table->batch(b)->children[2];
        const auto* data = static_cast<const std::int32_t*>(status.buffers[1]);
        codes.insert(codes.end(), data, data + status.length);
        CHECK(status.dictionary == table->batch(0)->children[2]->dictionary);  // one dictionary for all
    }
    const std::vector<std::int32_t> expected{0, 1, 0, 1, 2};
    CHECK(codes == expected);
}
