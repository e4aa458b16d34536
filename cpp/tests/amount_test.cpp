// Amounts read from JSON numbers and strings (plain and scientific, the
// limits of 96 bits and 28 decimals), and written back normalised.
#include <cstdint>
#include <string>
#include <vector>

#include "check.hpp"
#include "quillon_core/amount.hpp"
#include "quillon_core/json_writer.hpp"

using quillon_core::amount::Amount;
namespace amount = quillon_core::amount;
namespace json = quillon_core::json;

namespace {

const std::string MAX = "79228162514264337593543950335";  // 2^96 - 1

struct Case {
    std::string json;      // the value as JSON text
    std::string expected;  // "[-]mantissa/scale text" or the failure message
};

std::string num(std::string s) { return s; }
std::string str(const std::string& s) {
    std::string out;
    json::write_string(s, out);
    return out;
}

// The amount as read ("-1050/2") followed by its written text, or the message.
std::string outcome(const std::string& text) {
    const auto doc = json::Doc::parse(text);
    if (!doc) return "not JSON: " + doc.error().message;
    const auto a = amount::from_node(doc.value().root());
    if (!a) return a.error().message;
    Amount raw = a.value();
    raw.scale = 0;
    raw.negative = false;
    const std::string mantissa = amount::to_text(raw);
    return (a.value().negative ? "-" : "") + mantissa + "/" + std::to_string(a.value().scale) + " " +
           amount::to_text(a.value());
}

void run(const std::vector<Case>& cases) {
    for (const auto& c : cases) {
        const std::string label = c.json + ": ";
        CHECK_EQ(label + outcome(c.json), label + c.expected);
    }
}

}  // namespace

TEST(reads_decimals_exactly_keeping_their_scale) {
    const std::string z27(27, '0');
    run({
        {num("0.1"), "1/1 0.1"},
        {num("-5.10"), "-510/2 -5.1"},
        {num("-0.00"), "-0/2 0"},
        {str("\xC2\xA0" "+007.50\xE3\x80\x80"), "750/2 7.5"},  // U+00A0, U+3000
        {str(".5"), "5/1 0.5"},
        {num(MAX), MAX + "/0 " + MAX},
        {num("7.9228162514264337593543950335"), MAX + "/28 7.9228162514264337593543950335"},
        // Digits beyond scale 28 or beyond the mantissa round half to even.
        {str("0." + z27 + "15"), "2/28 0.0000000000000000000000000002"},
        {str("0." + z27 + "25"), "2/28 0.0000000000000000000000000002"},
        {str("0." + z27 + "250001"), "3/28 0.0000000000000000000000000003"},
        {str("9999999999999999999999999999.9"), "10000000000000000000000000000/0 10000000000000000000000000000"},
        // Rounding up the largest mantissa drops one more digit instead of overflowing.
        {str("7922816251426433759354395033.55"), "7922816251426433759354395034/0 7922816251426433759354395034"},
    });
}

TEST(reads_scientific_notation_rounding_to_scale_28) {
    run({
        {num("1.50e1"), "150/1 15"},
        {str("1e-2"), "1/2 0.01"},
        {num("7e28"), "70000000000000000000000000000/0 70000000000000000000000000000"},
        {str("0e4294967295"), "0/0 0"},
        {str("25e-29"), "2/28 0.0000000000000000000000000002"},
        {str("-251e-30"), "-3/28 -0.0000000000000000000000000003"},
        {str(MAX + "e-56"), "8/28 0.0000000000000000000000000008"},
        {str(MAX + "e-57"), "1/28 0.0000000000000000000000000001"},
        {str(MAX + "e-58"), "0/28 0"},
        {str("1e-4294967295"), "0/28 0"},
    });
}

TEST(refuses_non_numbers_and_malformed_text) {
    run({
        {"null", "expected a number, got null"},
        {R"([1, "a", {"b": 2, "a": 1, "b": 3}])", "expected a number, got [1,\"a\",{\"a\":1,\"b\":3}]"},
        {num("123456789012345678901234567890"), "invalid amount `123456789012345678901234567890`: Failed to parse"},
    });
    const std::string fail = "Failed to parse";
    const std::string exceeds = "Number exceeds maximum value that can be represented.";
    const std::vector<std::pair<std::string, std::string>> texts = {
        {"", fail}, {"1_000", fail},
        {"\xD9\xA1", fail},  // ARABIC-INDIC DIGIT ONE
        {"79228162514264337593543950336", fail}, {MAX + ".5", fail},
        // Exponents that are not integers.
        {"1e", fail}, {"1E2E3", fail}, {"1e4294967296", fail},
        // Otherwise the part before the exponent is reported...
        {"e5", "Invalid decimal: empty"},
        {"1.2.3e1", "Invalid decimal: two decimal points"},
        {"1,5e2", "Invalid decimal: unknown character"},
        {"-.e5", "Invalid decimal: no digits found"},
        {"x1e5", "Invalid decimal: must start lead with a number"},
        {MAX + "0e-1", "Invalid decimal: overflow from too many digits"},
        {MAX + ".5e0", "Invalid decimal: overflow from mantissa after rounding"},
        // ...or an exponent above the largest scale, or one that carries the
        // mantissa past its 96 bits.
        {"1e4294967295", "Scale exceeds the maximum precision allowed: 4294967295 > 28"},
        {"8e28", exceeds},
    };
    for (const auto& [text, why] : texts) {
        CHECK_EQ(outcome(str(text)), "invalid amount `" + text + "`: " + why);
    }
}

TEST(writes_normalised_text_and_round_trips) {
    const std::vector<std::pair<Amount, std::string>> written = {
        {{0, 0, 5, true}, "0"},
        {{5, 0, 3, false}, "0.005"},
        {{0, 1, 0, false}, "18446744073709551616"},
        {{~std::uint64_t{0}, 0xFFFFFFFFu, 28, true}, "-7.9228162514264337593543950335"},
    };
    for (const auto& [a, text] : written) {
        CHECK_EQ(amount::to_text(a), text);
    }
    // Mantissas spread over all 96 bits, at every scale: reading the written
    // text gives the same value back.
    std::uint64_t seed = 0x9E3779B97F4A7C15u;
    for (int i = 0; i < 2000; ++i) {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        const Amount a{seed, static_cast<std::uint32_t>(seed >> (i % 33)), static_cast<std::uint8_t>(i % 29),
                       (i & 1) != 0};
        const auto back = amount::from_text(amount::to_text(a));
        CHECK(back.ok());
        if (back) CHECK_EQ(amount::to_text(back.value()), amount::to_text(a));
    }
}
