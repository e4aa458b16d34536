// The JSON reader: a pull parser over the text with exact byte positions.
// Payload records are decoded straight from the text through it; gateway
// bodies are read with it into a value tree.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "json_value.hpp"

namespace quillon_core::json {

// Reads the whole text as one JSON value (JSON whitespace allowed around it).
// Numbers keep their literal text; a repeated object key keeps its last value.
// On failure returns nothing and sets `message` to the reader's message with
// its position, as in "expected value at line 1 column 1".
std::optional<Value> parse(std::string_view text, std::string& message);

}  // namespace quillon_core::json
