// The payment status words, both ways.
#include "status.hpp"

#include <array>
#include <utility>

#include "text.hpp"

namespace quillon_core::status {

std::string_view word(PaymentStatus s) {
    switch (s) {
        case PaymentStatus::pending: return "pending";
        case PaymentStatus::processing: return "processing";
        case PaymentStatus::paid: return "paid";
        case PaymentStatus::cancelled: return "cancelled";
        case PaymentStatus::expired: return "expired";
        case PaymentStatus::rejected: return "rejected";
        case PaymentStatus::reversed: return "reversed";
        case PaymentStatus::error: return "error";
        case PaymentStatus::unknown: return "unknown";
    }
    return "unknown";
}

namespace {

// The gateway's words, compared exactly after trimming and ASCII upper-casing.
// No word maps to `expired`.
constexpr std::array<std::pair<std::string_view, PaymentStatus>, 16> GATEWAY_WORDS{{
    {"PENDIENTE", PaymentStatus::pending},
    {"PENDIENTE_PAGO", PaymentStatus::pending},
    {"INICIALIZADO", PaymentStatus::pending},
    {"PROCESO", PaymentStatus::processing},
    {"EN_PROCESO", PaymentStatus::processing},
    {"ENVIADO", PaymentStatus::processing},
    {"TRANSITO", PaymentStatus::processing},
    {"PENDIENTE_CONFIRMACION", PaymentStatus::processing},
    {"PAGADO", PaymentStatus::paid},
    {"APROBADA", PaymentStatus::paid},
    {"COMPLETADO", PaymentStatus::paid},
    {"CANCELADO", PaymentStatus::cancelled},
    {"RECHAZADO", PaymentStatus::rejected},
    {"RECHAZADA", PaymentStatus::rejected},
    {"REVERTIDO", PaymentStatus::reversed},
    {"ERROR", PaymentStatus::error},
}};

}  // namespace

PaymentStatus from_wire(std::string_view word) {
    const std::string_view key = text::trim(word);
    for (const auto& [gateway_word, status] : GATEWAY_WORDS) {
        if (text::equals_ascii_upper(key, gateway_word)) return status;
    }
    return PaymentStatus::unknown;
}

}  // namespace quillon_core::status
