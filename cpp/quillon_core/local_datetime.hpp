// Local date-times as a timestamp column holds them: microseconds since
// 1970-01-01T00:00:00, with no time zone.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quillon_core::local_datetime {

// The microseconds of an ISO 8601 local date-time `YYYY-MM-DDTHH:MM:SS`,
// with `T` or one space between date and time, and an optional fraction of
// 1 to 9 digits after a point: a real calendar date of the years 0001 to
// 9999, hours 00-23, minutes and seconds 00-59, no offset and no `Z`.
// Nothing for anything else, and for a fraction whose digits below the
// microsecond are not all zero (a timestamp would lose them).
std::optional<std::int64_t> micros(std::string_view text);

struct Civil {
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int micro = 0;
};

// The date and time of microseconds since 1970-01-01T00:00:00.
Civil civil(std::int64_t micros);

}  // namespace quillon_core::local_datetime
