// The account status words, both ways.
#include "account_status.hpp"

#include "../quillon_core/text.hpp"

namespace quillon_accounts::model {

AccountStatus AccountStatus::from_wire(std::string_view word) {
    using quillon_core::text::equals_ascii_upper;
    const std::string_view key = quillon_core::text::trim(word);
    // Only `active` has a second (masculine) form.
    if (equals_ascii_upper(key, "ACTIVA") || equals_ascii_upper(key, "ACTIVO")) return active;
    if (equals_ascii_upper(key, "BLOQUEADA")) return blocked;
    if (equals_ascii_upper(key, "SUSPENDIDA")) return suspended;
    if (equals_ascii_upper(key, "CERRADA")) return closed;
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
