#include "local_datetime.hpp"

namespace quillon_core::local_datetime {

namespace {

constexpr std::int64_t MICROS_PER_DAY = 86'400'000'000;

bool digits(std::string_view s, std::size_t at, std::size_t n, int& out) {
    out = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        out = out * 10 + (s[i] - '0');
    }
    return true;
}

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int month_days(int y, int m) {
    constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : days[m - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's
// days_from_civil).
std::int64_t days_from_civil(int y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<std::int64_t>(era) * 146097 + doe - 719468;
}

}  // namespace

std::optional<std::int64_t> micros(std::string_view s) {
    if (s.size() < 19) return std::nullopt;
    if (s[4] != '-' || s[7] != '-' || (s[10] != 'T' && s[10] != ' ') || s[13] != ':' || s[16] != ':') {
        return std::nullopt;
    }
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
    if (!digits(s, 0, 4, y) || !digits(s, 5, 2, mo) || !digits(s, 8, 2, d) || !digits(s, 11, 2, h) ||
        !digits(s, 14, 2, mi) || !digits(s, 17, 2, sec)) {
        return std::nullopt;
    }
    if (y < 1 || mo < 1 || mo > 12 || d < 1 || d > month_days(y, mo) || h > 23 || mi > 59 || sec > 59) {
        return std::nullopt;
    }
    std::int64_t fraction = 0;
    if (s.size() > 19) {
        const std::size_t n = s.size() - 20;
        if (s[19] != '.' || n < 1 || n > 9) return std::nullopt;
        for (std::size_t i = 0; i < n; ++i) {
            const char c = s[20 + i];
            if (c < '0' || c > '9') return std::nullopt;
            if (i < 6) {
                fraction = fraction * 10 + (c - '0');
            } else if (c != '0') {
                return std::nullopt;
            }
        }
        for (std::size_t i = n; i < 6; ++i) fraction *= 10;
    }
    const std::int64_t seconds = (static_cast<std::int64_t>(h) * 60 + mi) * 60 + sec;
    return days_from_civil(y, mo, d) * MICROS_PER_DAY + seconds * 1'000'000 + fraction;
}

Civil civil(std::int64_t us) {
    std::int64_t days = us / MICROS_PER_DAY;
    std::int64_t rest = us % MICROS_PER_DAY;
    if (rest < 0) {
        rest += MICROS_PER_DAY;
        --days;
    }
    // H. Hinnant's civil_from_days.
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    Civil c;
    c.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    c.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    c.year = static_cast<int>(yoe + era * 400 + (c.month <= 2 ? 1 : 0));
    c.micro = static_cast<int>(rest % 1'000'000);
    const std::int64_t secs = rest / 1'000'000;
    c.second = static_cast<int>(secs % 60);
    c.minute = static_cast<int>(secs / 60 % 60);
    c.hour = static_cast<int>(secs / 3600);
    return c;
}

}  // namespace quillon_core::local_datetime
