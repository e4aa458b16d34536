// Blank texts and calendar dates.
#include "validate.hpp"

#include <optional>
#include <string>

#include "text.hpp"

namespace quillon_core::validate {

using error::Error;

error::Result<void> require_text(std::string_view field, std::string_view value) {
    if (text::trim(value).empty()) return Error::validation(std::string(field), "must not be empty");
    return {};
}

namespace {

// The decimal value of an all-ASCII-digit text; nothing for any other text.
std::optional<int> read_digits(std::string_view s) {
    int n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

bool is_leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
    switch (month) {
        case 2: return is_leap(year) ? 29 : 28;
        case 4:
        case 6:
        case 9:
        case 11: return 30;
        default: return 31;
    }
}

// Days since 1970-01-01 of a valid proleptic Gregorian date.
std::int64_t day_number(std::int64_t year, std::int64_t month, std::int64_t day) {
    const std::int64_t y = month <= 2 ? year - 1 : year;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;  // floor division
    const std::int64_t yoe = y - era * 400;
    const std::int64_t mp = month <= 2 ? month + 9 : month - 3;
    const std::int64_t doy = (153 * mp + 2) / 5 + day;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719469;
}

}  // namespace

error::Result<std::int64_t> iso_date_days(std::string_view field, std::string_view value) {
    auto bad = [&] { return Error::validation(std::string(field), "must be a date as yyyy-mm-dd"); };
    if (value.size() != 10 || value[4] != '-' || value[7] != '-') return bad();
    const std::optional<int> year = read_digits(value.substr(0, 4));
    const std::optional<int> month = read_digits(value.substr(5, 2));
    const std::optional<int> day = read_digits(value.substr(8, 2));
    if (!year || !month || !day || *month < 1 || *month > 12 || *day < 1 || *day > days_in_month(*year, *month)) {
        return bad();
    }
    return day_number(*year, *month, *day);
}

}  // namespace quillon_core::validate
