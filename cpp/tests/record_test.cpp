// Payload records through their field tables: forms, defaults, and the
// messages of the configuration, token and input records.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "check.hpp"
#include "quillon_accounts/inputs.hpp"
#include "quillon_core/config.hpp"
#include "quillon_core/http.hpp"
#include "quillon_core/token.hpp"

namespace json = quillon_core::json;
namespace record = quillon_core::record;
using quillon_accounts::model::AccountStatus;
using quillon_accounts::model::CreateAccounts;
using quillon_accounts::model::StatusChanges;
using quillon_core::config::Config;
using quillon_core::config::Environment;
using quillon_core::http::HttpResponse;
using quillon_core::token::AccessToken;

namespace {

// "ok", or the reader's message with its position.
template <class T>
std::string decode(const std::string& text, T& out) {
    json::Reader reader(text);
    out = T{};
    if (record::read(reader, out) && reader.finish()) return "ok";
    return reader.error_text();
}

template <class T>
void run(const std::vector<std::pair<std::string, std::string>>& cases) {
    for (const auto& [text, expected] : cases) {
        T out{};
        CHECK_EQ(text + " => " + decode(text, out), text + " => " + expected);
    }
}

// 2^1024 - 2^970, the least integer a double rounds to infinity.
const std::string DOUBLE_OVERFLOW =
    "1797693134862315807937289714053034150799341327100378269361737789804449682927647509466490179775872070"
    "9633028641669288791094655554785194040263065748867150582068190890200070838367627385484581771153176447"
    "5730270069855571366959622842914819860834936475292719074168444365510704342711559699508093042880177904"
    "174497792";

const std::string ENV_WORDS = "expected one of `development`, `sandbox`, `production`";

}  // namespace

TEST(config_forms_and_defaults) {
    Config c;
    CHECK_EQ(decode(R"({"client_id":"c","trace":{"x":[1,{}]}})", c), "ok");
    CHECK(c.client_id == "c" && c.environment == Environment::sandbox && !c.client_secret && !c.base_url);
    CHECK_EQ(decode(R"(["c",null,"b","production","u"])", c), "ok");
    CHECK(c.basic_token == "b" && c.environment == Environment::production && c.base_url == "u");
    CHECK_EQ(decode(R"({"base_url":null,"environment":{ "development" : null },"client_id":"c"})", c), "ok");
    CHECK(c.environment == Environment::development && !c.base_url);
    CHECK_EQ(decode(R"(["c"])", c), "ok");
    CHECK(c.environment == Environment::sandbox);

    run<Config>({
        {R"(["c",null,null,"sandbox",null,1])", "trailing characters at line 1 column 31"},
        {R"({"client_id":1e999})", "invalid type: number, expected a string at line 1 column 18"},
        {R"({"client_id":-0})", "invalid type: integer `0`, expected a string at line 1 column 15"},
        {R"("c\u0009")", "invalid type: string \"c\\t\", expected struct Config at line 1 column 9"},
        {" 5.0", "invalid type: number, expected struct Config at line 1 column 4"},
        {"-7", "invalid type: integer `-7`, expected struct Config at line 1 column 2"},
    });
}

TEST(enumeration_forms) {
    const std::string head = R"({"client_id":"c","environment":)";
    run<Config>({
        {head + "null}", "expected value at line 1 column 32"},
        {head + "[]}", "expected value at line 1 column 32"},
        {head + "\"Sandbox\"}", "unknown variant `Sandbox`, " + ENV_WORDS + " at line 1 column 40"},
        {head + "{}}", "expected value at line 1 column 33"},
        {head + "{\"x\":null}}", "unknown variant `x`, " + ENV_WORDS + " at line 1 column 35"},
        {head + "{1:null}}", "invalid type: integer `1`, expected variant identifier at line 1 column 33"},
        {head + "{[]:null}}", "invalid type: sequence, expected variant identifier at line 1 column 32"},
        {head + "{\"sandbox\" null}}", "expected `:` at line 1 column 43"},
        {head + "{\"sandbox\":null ,\"a\":1}}", "expected value at line 1 column 47"},
    });

    StatusChanges s;
    CHECK_EQ(decode(R"({"nit":"n","changes":[["a","closed","r"],{"reason":"r","status":{"unknown":null},)"
                    R"("account_number":"b"}]})", s),
             "ok");
    CHECK(s.changes.size() == 2 && s.changes[0].status == AccountStatus::closed &&
          s.changes[1].status == AccountStatus::unknown && s.changes[1].account_number == "b");
    run<StatusChanges>({
        {R"({"nit":"n","changes":[["a","Active","r"]]})",
         "unknown variant `Active`, expected one of `active`, `blocked`, `suspended`, `closed`, `unknown` at "
         "line 1 column 35"},
        {R"({"nit":"n","changes":{}})", "invalid type: map, expected a sequence at line 1 column 21"},
        {R"({"nit":"n","changes":[["a","active","r"],]})", "trailing comma at line 1 column 42"},
        {R"({"nit":"n","changes":[["a"]]})",
         "invalid length 1, expected struct StatusChange with 3 elements at line 1 column 27"},
    });
}

TEST(integer_fields) {
    AccessToken t;
    CHECK_EQ(decode(R"(["t","B",-9223372036854775808,null])", t), "ok");
    CHECK(t.expires_at == INT64_MIN && !t.scope);
    CHECK_EQ(decode(R"({"expires_at":9223372036854775807,"token_type":"B","access_token":"t"})", t), "ok");
    CHECK(t.expires_at == INT64_MAX);
    HttpResponse h;
    CHECK_EQ(decode(R"([65535,""])", h), "ok");
    CHECK(h.status == 65535);
    CreateAccounts c;
    CHECK_EQ(decode(R"(["n",18446744073709551615,[]])", c), "ok");
    CHECK(c.establishment_id == UINT64_MAX);

    const auto status = [](const std::string& number) { return "[" + number + ",\"\"]"; };
    const std::string at = " at line 1 column ";
    run<HttpResponse>({
        {status("65536"), "invalid value: integer `65536`, expected u16" + at + "6"},
        {status("-1"), "invalid value: integer `-1`, expected u16" + at + "3"},
        {status("-0"), "invalid type: floating point `-0.0`, expected u16" + at + "3"},
        {status("2e2"), "invalid type: floating point `200.0`, expected u16" + at + "4"},
        {status("18446744073709551616"),
         "invalid type: floating point `1.8446744073709552e19`, expected u16" + at + "21"},
        {status("1e-400"), "invalid type: floating point `1e-400`, expected u16" + at + "7"},
        {status("0e99999999999"), "invalid type: floating point `0.0`, expected u16" + at + "14"},
        {status("2e308"), "number out of range" + at + "6"},
        // The largest double plus half a unit rounds to infinity; anything below it does not.
        {status(DOUBLE_OVERFLOW), "number out of range" + at + "310"},
        {status(DOUBLE_OVERFLOW.substr(0, 308) + "1"),
         "invalid type: floating point `1.7976931348623158e308`, expected u16" + at + "310"},
        {status("-1" + std::string(400, '0')), "number out of range" + at + "403"},
        {status("1e21474836480"), "number out of range" + at + "13"},
        {status("01"), "invalid number" + at + "3"},
        {status("\"200\""), "invalid type: string \"200\", expected u16" + at + "6"},
    });
    run<AccessToken>({
        {R"(["t","B",9223372036854775808,null])",
         "invalid value: integer `9223372036854775808`, expected i64 at line 1 column 28"},
        {R"(["t","B",-9223372036854775809,null])",
         "invalid type: floating point `-9.2233720368547758e18`, expected i64 at line 1 column 29"},
    });
}

TEST(skipped_members_are_only_checked_for_form) {
    const std::string head = R"({"client_id":"c","x":)";
    run<Config>({
        {head + "\"\\uDC00\\uD800\"}", "ok"},
        {head + "[1,]}", "expected value at line 1 column 25"},
        {head + "{\"a\":1,}}", "key must be a string at line 1 column 29"},
        {head + "{\"a\":1 1}}", "expected `,` or `}` at line 1 column 29"},
        {head + "\"a\x01" "b\"}", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 23"},
        {head + "\"\\u12x4\"}", "invalid escape at line 1 column 28"},
        {head + "\"\\q\"}", "invalid escape at line 1 column 24"},
        {head + "1.", "invalid number at line 1 column 23"},
        {head + "-", "invalid number at line 1 column 22"},
        {head + "1e+", "invalid number at line 1 column 24"},
        {head + "1e400}", "ok"},
        {head + "tru", "EOF while parsing a value at line 1 column 24"},
    });
    // Decoded, the same faults read differently.
    run<Config>({
        {"{\"client_id\":\"a\x01" "b\"}", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 16"},
        {R"({"client_id":"\uDC00"})", "lone leading surrogate in hex escape at line 1 column 20"},
        {R"({"client_id":1.)", "EOF while parsing a value at line 1 column 15"},
    });
}

TEST(nesting_counts_records_lists_and_skipped_values) {
    // The record is the first level, so 126 more fit in a skipped member.
    const auto payload = [](int levels) {
        return R"({"client_id":"c","x":)" + std::string(static_cast<std::size_t>(levels), '[') +
               std::string(static_cast<std::size_t>(levels), ']') + "}";
    };
    run<Config>({
        {payload(126), "ok"},
        {payload(127), "recursion limit exceeded at line 1 column 148"},
    });
    // Levels of nested records count too: StatusChanges, its list, a change
    // and the status object are four.
    std::string deep = R"({"nit":"n","y":)" + std::string(123, '[') + std::string(123, ']') +
                       R"(,"changes":[{"account_number":"a","reason":"r","status":{"closed":null}}]})";
    StatusChanges s;
    CHECK_EQ(decode(deep, s), "ok");
}
