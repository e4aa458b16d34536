// The JSON form of the values of result records that is not inline.
#include <charconv>

#include "result_json.hpp"

namespace quillon_accounts::model::json_form {

void value(std::uint64_t n, std::string& out) {
    char buf[24];
    const auto end = std::to_chars(buf, buf + sizeof buf, n).ptr;
    out.append(buf, static_cast<std::size_t>(end - buf));
}

}  // namespace quillon_accounts::model::json_form
