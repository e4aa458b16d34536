// The gateway's status words read into payment and account statuses.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check.hpp"
#include "quillon_accounts/account_status.hpp"
#include "quillon_core/status.hpp"

using quillon_accounts::model::AccountStatus;
using Table = std::vector<std::pair<std::string_view, std::string_view>>;

template <class Map>
void check_words(const Table& table, Map map) {
    for (const auto& [word, expected] : table) {
        CHECK_EQ(std::string(word) + " -> " + std::string(map(word)),
                 std::string(word) + " -> " + std::string(expected));
    }
}

// Words are trimmed of Unicode white space and upper-cased in ASCII only;
// anything else, near misses included, reads as unknown.
TEST(payment_status_maps_gateway_words_after_trimming_and_ascii_upper_casing) {
    check_words(
        {
            {"PENDIENTE_PAGO", "pending"}, {"PENDIENTE_CONFIRMACION", "processing"},
            {"TRANSITO", "processing"}, {"APROBADA", "paid"}, {"CANCELADO", "cancelled"},
            {"RECHAZADA", "rejected"}, {"REVERTIDO", "reversed"}, {"ERROR", "error"},
            {"pagado ", "paid"},
            {"\xC2\xA0" "en_proceso\xE3\x80\x80", "processing"},  // U+00A0 ... U+3000
            {" \n\xE2\x80\x83 ", "unknown"},                       // U+2003 EM SPACE only
            {"tr\xC3\xa1nsito", "unknown"},                          // accented a
            {"EN PROCESO", "unknown"},
            {"APROBADO", "unknown"},
            {"\xE2\x80\x8B" "PAGADO", "unknown"},  // U+200B is not white space
        },
        [](std::string_view w) { return quillon_core::status::word(quillon_core::status::from_wire(w)); });
}

TEST(account_status_reads_gateway_words) {
    check_words(
        {
            {"Activo", "active"},
            {"\xE3\x80\x80" "Cerrada\xC2\x85", "closed"},  // U+3000 ... U+0085
            {"ACTIVAS", "unknown"},
            {"BLOQUEADO", "unknown"},
            {"ACTIV\xC3\x81", "unknown"},  // accented A
            {"active", "unknown"},
        },
        [](std::string_view w) { return AccountStatus::from_wire(w).word(); });
}
