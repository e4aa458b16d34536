// Field checks: calendar dates, digits, text lengths and date ranges.
#include <cstdint>
#include <string>
#include <string_view>

#include "check.hpp"
#include "quillon_accounts/validate.hpp"
#include "quillon_core/validate.hpp"

namespace av = quillon_accounts::validate;
namespace cv = quillon_core::validate;
using quillon_core::error::Result;

// "ok", or "field: message" of the one error.
static std::string outcome(const Result<void>& c) { return c ? "ok" : c.error().field + ": " + c.error().message; }

static std::string days(std::string_view date) {
    auto r = cv::iso_date_days("d", date);
    return r ? std::to_string(r.value()) : r.error().field + ": " + r.error().message;
}

TEST(day_numbers_follow_the_proleptic_gregorian_calendar) {
    CHECK_EQ(days("1970-01-01"), "0");
    CHECK_EQ(days("1969-12-31"), "-1");
    CHECK_EQ(days("2000-03-01"), "11017");
    CHECK_EQ(days("2000-02-29"), "11016");
    CHECK_EQ(days("0000-01-01"), "-719528");  // year 0 is a leap year
    CHECK_EQ(days("9999-12-31"), "2932896");
}

TEST(malformed_dates_are_refused) {
    const std::string bad = "d: must be a date as yyyy-mm-dd";
    for (std::string_view d :
         {"1900-02-29", "2024-04-31", "2024-13-01", "2024-00-10", "2024-01-00", "2024-01-32",
          "2024/01/05", " 2024-01-05", "2024-+1-05", "-024-01-05", "", "2024-01-\xd9\xa5"}) {
        CHECK_EQ(std::string(d) + " " + days(d), std::string(d) + " " + bad);
    }
}

// The bounds and the digit rules are exercised through every operation in the
// Python tests; these are the white space rules.
TEST(text_max_trims_unicode_white_space_only) {
    CHECK_EQ(outcome(av::text_max("f", "  \t\xe3\x80\x80\xc2\xa0", 45)), "f: must not be empty");
    CHECK_EQ(outcome(av::text_max("f", "\xe2\x80\x8b", 45)), "ok");  // U+200B is not white space
}

// Ranges across a leap day and the epoch; the plain bounds are checked per operation.
TEST(date_range_counts_calendar_days) {
    CHECK_EQ(outcome(av::date_range("2024-02-26", "2024-03-04", 7)), "ok");  // leap day inside
    CHECK_EQ(outcome(av::date_range("2023-02-26", "2023-03-06", 7)),
             "date_to: the range is at most 7 days");
    CHECK_EQ(outcome(av::date_range("1969-12-28", "1970-01-04", 7)), "ok");
    CHECK_EQ(outcome(av::date_range("2024-01-01", "2024-02-30", 31)),
             "date_to: must be a date as yyyy-mm-dd");
}
