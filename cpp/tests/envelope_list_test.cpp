// A list payload opened in one pass (elements handed over as they are read)
// must come out exactly as the general opening (whole body read, then the
// list decoded), or leave the response to the general way.
#include <optional>
#include <string>
#include <vector>

#include "check.hpp"
#include "quillon_accounts/conversion.hpp"
#include "quillon_accounts/gateway_records.hpp"
#include "quillon_accounts/result_json.hpp"
#include "quillon_core/envelope.hpp"
#include "quillon_core/json_writer.hpp"

namespace envelope = quillon_core::envelope;
namespace wire = quillon_accounts::wire;
namespace model = quillon_accounts::model;
using quillon_core::error::Error;
using quillon_core::http::HttpResponse;

namespace {

std::string error_text(const Error& e) { return quillon_core::json::to_text(e.to_value()); }

// The general opening: the outcome as text.
std::string general(const HttpResponse& response) {
    auto list = envelope::CodeData::open<std::vector<wire::Changed>>(response);
    if (!list) return error_text(list.error());
    std::string out;
    model::write(model::convert(std::move(list).value()), out);
    return out;
}

struct Collect final : envelope::ListSink {
    std::vector<model::StatusChanged> items;
    quillon_core::error::Result<void> element(const quillon_core::json::Node& item) override {
        wire::Changed c;
        if (auto read = wire::decode(item, c); !read) return read;
        items.push_back(model::convert(std::move(c)));
        return {};
    }
};

// The one-pass opening: the outcome as text, or nothing when it declined.
std::optional<std::string> one_pass(const HttpResponse& response) {
    Collect sink;
    auto opened = envelope::CodeData::open_list(response.status, response.body, sink);
    if (!opened) return error_text(opened.error());
    if (!opened.value()) return std::nullopt;
    std::string out;
    model::write(sink.items, out);
    return out;
}

const std::string GOOD = R"({"numeroCuenta":"1","estado":" cerrada"})";
const std::string BAD = R"({"estado":"x"})";  // no account number

}  // namespace

TEST(one_pass_opening_gives_the_general_outcome_or_declines) {
    struct Case {
        std::string body;
        bool declines;  // the general way must handle it
    };
    const std::vector<Case> cases = {
        {R"({"code":"00","data":[)" + GOOD + "," + GOOD + "]}", false},
        {R"({"data":[)" + GOOD + R"(],"message":"ok","code":"00"})", false},  // code after data
        {R"({"d\u0061ta":[)" + GOOD + R"(],"code":"00"})", false},            // escaped key
        {"[" + GOOD + "]", false},                                             // no envelope
        {R"({"data":[)" + GOOD + "," + BAD + "," + GOOD + "]}", false},        // first failure wins
        {R"({"data":[)" + BAD + "," + GOOD + ",{\"numeroCuenta\":", false},    // then no JSON
        {R"({"data":[)" + BAD + "]} x", false},                                // trailing characters
        {R"({"data":[{"x":)" + std::string(130, '[') + std::string(130, ']') + "}]}", false},
        {R"({"data":[)" + GOOD + R"(],"code":"01","errorMessage":"no"})", true},  // refused by code
        {R"({"data":[)" + BAD + R"(],"data":[)" + GOOD + "]}", true},           // the last data counts
        {R"({"code":"00","data":null,"x":1})", true},                           // the whole body
        {R"({"code":"00","data":{"numeroCuenta":"1"}})", true},
        {R"({"code":"00"})", true},
        {"", true},
    };
    for (const auto& c : cases) {
        for (const std::uint16_t status : {std::uint16_t{200}, std::uint16_t{500}}) {
            const HttpResponse response{status, c.body};
            const auto fast = one_pass(response);
            const std::string label = std::to_string(status) + " " + c.body.substr(0, 70);
            if (status != 200 || c.declines) {
                CHECK_EQ(label + (fast ? " handled" : " declined"), label + " declined");
                continue;
            }
            CHECK_EQ(label + " => " + fast.value_or("(declined)"), label + " => " + general(response));
        }
    }
}
