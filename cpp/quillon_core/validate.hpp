// General field validators. Each takes the field name exactly as the error
// is to carry it and reports at most one problem, as a validation error.
#pragma once

#include <cstdint>
#include <string_view>

#include "error.hpp"

namespace quillon_core::validate {

// Fails with "must not be empty" when the value is blank after trimming
// Unicode white space. The value itself is not changed.
error::Result<void> require_text(std::string_view field, std::string_view value);

// Reads a "yyyy-mm-dd" calendar date (years 0000 to 9999, proleptic
// Gregorian) and returns its day number: days since 1970-01-01, negative
// before it. Fails with "must be a date as yyyy-mm-dd".
error::Result<std::int64_t> iso_date_days(std::string_view field, std::string_view value);

}  // namespace quillon_core::validate
