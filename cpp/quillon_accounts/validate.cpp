// The accounts family's field checks: identifiers, texts and date ranges.
#include "validate.hpp"

#include <string>

#include "../quillon_core/text.hpp"
#include "../quillon_core/validate.hpp"

namespace quillon_accounts::validate {

using quillon_core::error::Error;
using quillon_core::error::Result;

Result<void> digits(std::string_view field, std::string_view value, std::size_t min_digits) {
    bool ok = value.size() >= min_digits && value.size() <= MAX_DIGITS;
    for (std::size_t i = 0; ok && i < value.size(); ++i) ok = value[i] >= '0' && value[i] <= '9';
    if (ok) return {};
    return Error::validation(std::string(field), "must be " + std::to_string(min_digits) + " to " +
                                                     std::to_string(MAX_DIGITS) + " digits");
}

Result<void> text_max(std::string_view field, std::string_view value, std::size_t max_chars) {
    if (auto blank = quillon_core::validate::require_text(field, value); !blank) return blank;
    if (quillon_core::text::count_chars(value) > max_chars) {
        return Error::validation(std::string(field),
                                 "at most " + std::to_string(max_chars) + " characters");
    }
    return {};
}

Result<void> date_range(std::string_view date_from, std::string_view date_to, std::int64_t max_days) {
    using quillon_core::validate::iso_date_days;
    auto from = iso_date_days("date_from", date_from);
    if (!from) return std::move(from).error();
    auto to = iso_date_days("date_to", date_to);
    if (!to) return std::move(to).error();
    const std::int64_t span = to.value() - from.value();
    if (span < 0) return Error::validation("date_to", "must not be before date_from");
    if (span > max_days) {
        return Error::validation("date_to",
                                 "the range is at most " + std::to_string(max_days) + " days");
    }
    return {};
}

}  // namespace quillon_accounts::validate
