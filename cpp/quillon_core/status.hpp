// The payment status vocabulary: the gateway's free Spanish words for the
// state of a payment or movement mapped onto one small English set.
#pragma once

#include <cstdint>
#include <string_view>

namespace quillon_core::status {

// Declaration order is part of the contract.
enum class PaymentStatus : std::uint8_t {
    pending,
    processing,
    paid,
    cancelled,
    expired,
    rejected,
    reversed,
    error,
    unknown,
};

// The module's own word: "pending", "processing", ...
std::string_view word(PaymentStatus s);

// The gateway's word read: Unicode white space trimmed, ASCII letters
// upper-cased, then looked up; anything else is `unknown`.
PaymentStatus from_wire(std::string_view word);

}  // namespace quillon_core::status
