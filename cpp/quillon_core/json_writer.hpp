// Compact JSON text: no whitespace between tokens, members in sorted order, and only the escapes \" \\ \b \t \n \f \r and \u00xx
// (lower-case hex) for the other characters below 0x20. Everything else,
// the solidus and 0x7F included, is written as it is.
#pragma once

#include <string>
#include <string_view>

#include "json_doc.hpp"
#include "json_value.hpp"

namespace quillon_core::json {

void write(const Value& value, std::string& out);
// A document's value, its objects' members sorted as a value tree holds
// them (the last of repeated keys kept).
void write(const Node& value, std::string& out);
void write_string(std::string_view text, std::string& out);
std::string to_text(const Value& value);

}  // namespace quillon_core::json
