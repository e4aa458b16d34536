// The payment status vocabulary: the gateway's free Spanish words mapped onto
// one small English set.
#pragma once

#include <cstdint>
#include <string_view>

#include "json_value.hpp"

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

std::string_view payment_status_word(PaymentStatus s);
inline json::Value to_value(PaymentStatus s) {
    return json::Value::string(std::string(payment_status_word(s)));
}

// The vocabulary of payment and movement states.
struct Payout {
    // Total: trims Unicode white space, upper-cases ASCII letters and looks the
    // word up; anything else is `unknown`.
    static PaymentStatus map(std::string_view word);
};

}  // namespace quillon_core::status
