#include "model.hpp"

#include <string>

#include "../quillon_core/text.hpp"

namespace quillon_accounts::model {

AccountStatus AccountStatus::from_wire(std::string_view word) {
    const std::string key = quillon_core::text::ascii_upper(quillon_core::text::trim(word));
    // Only `active` has a second (masculine) form.
    if (key == "ACTIVA" || key == "ACTIVO") return active;
    if (key == "BLOQUEADA") return blocked;
    if (key == "SUSPENDIDA") return suspended;
    if (key == "CERRADA") return closed;
    return unknown;
}

std::string_view AccountStatus::word() const {
    switch (v_) {
        case active: return "active";
        case blocked: return "blocked";
        case suspended: return "suspended";
        case closed: return "closed";
        case unknown: return "unknown";
    }
    return "unknown";
}

std::string_view AccountStatus::gateway_word() const {
    switch (v_) {
        case active: return "ACTIVA";
        case blocked: return "BLOQUEADA";
        case suspended: return "SUSPENDIDA";
        case closed: return "CERRADA";
        case unknown: return {};
    }
    return {};
}

}  // namespace quillon_accounts::model
