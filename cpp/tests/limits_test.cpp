// Sizes beyond what a document keeps are refused rather than cut short.
#include <stdexcept>
#include <string_view>

#include "check.hpp"
#include "quillon_core/json_doc.hpp"

using quillon_core::json::Kind;
using quillon_core::json::Node;

TEST(a_string_past_four_gigabytes_is_refused_not_cut_short) {
    const char byte = 'x';
    // Only the size is looked at: nothing reads past the one byte.
    const std::string_view huge(&byte, (std::size_t{1} << 32) + 5);
    bool refused = false;
    try {
        (void)Node::scalar(Kind::string, huge);
    } catch (const std::length_error&) {
        refused = true;
    }
    CHECK(refused);
    const std::string_view largest(&byte, (std::size_t{1} << 32) - 1);
    CHECK_EQ(Node::scalar(Kind::string, largest).text().size(), largest.size());
}
