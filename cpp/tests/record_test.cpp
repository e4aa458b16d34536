// Payload records through their field tables: forms, defaults and the
// number conversions; the messages are pinned through `call` in pytest.
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

    StatusChanges s;
    CHECK_EQ(decode(R"({"nit":"n","changes":[["a","closed","r"],{"reason":"r","status":{"unknown":null},)"
                    R"("account_number":"b"}]})", s),
             "ok");
    CHECK(s.changes.size() == 2 && s.changes[0].status == AccountStatus::closed &&
          s.changes[1].status == AccountStatus::unknown && s.changes[1].account_number == "b");
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
        {status("1e-400"), "invalid type: floating point `1e-400`, expected u16" + at + "7"},
        // The largest double plus half a unit rounds to infinity; anything below it does not.
        {status(DOUBLE_OVERFLOW), "number out of range" + at + "310"},
        {status(DOUBLE_OVERFLOW.substr(0, 308) + "1"),
         "invalid type: floating point `1.7976931348623158e308`, expected u16" + at + "310"},
        {status("1e21474836480"), "number out of range" + at + "13"},
    });
    run<AccessToken>({
        {R"(["t","B",-9223372036854775809,null])",
         "invalid type: floating point `-9.2233720368547758e18`, expected i64 at line 1 column 29"},
    });
}

TEST(skipped_members_are_only_checked_for_form) {
    // A skipped value is checked for form only; decoded, the same text reads differently.
    const std::string head = R"({"client_id":"c","x":)";
    run<Config>({
        {head + "\"\\uDC00\\uD800\"}", "ok"},
        {head + "1e400}", "ok"},
        {head + "{\"a\":1 1}}", "expected `,` or `}` at line 1 column 29"},
        {R"({"client_id":"\uDC00"})", "lone leading surrogate in hex escape at line 1 column 20"},
    });
}
