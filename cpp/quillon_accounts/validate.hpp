// Field validators of the accounts family. Each reports at most one problem,
// as a validation error carrying the given field name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "../quillon_core/error.hpp"

namespace quillon_accounts::validate {

// The longest identifier or account number the gateway takes.
inline constexpr std::size_t MAX_DIGITS = 20;

// `min_digits` to 20 ASCII digits and nothing else (no signs, no spaces);
// fails with "must be {min} to 20 digits".
quillon_core::error::Result<void> digits(std::string_view field, std::string_view value,
                                  std::size_t min_digits);

// Not blank, and at most `max_chars` Unicode scalar values counted on the
// untrimmed value; fails with "must not be empty" or "at most {max} characters".
quillon_core::error::Result<void> text_max(std::string_view field, std::string_view value,
                                    std::size_t max_chars);

// Two "yyyy-mm-dd" dates (fields "date_from" and "date_to"), the second not
// before the first and at most `max_days` days after it.
quillon_core::error::Result<void> date_range(std::string_view date_from, std::string_view date_to,
                                      std::int64_t max_days);

}  // namespace quillon_accounts::validate
