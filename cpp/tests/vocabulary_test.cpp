#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check.hpp"
#include "quillon_accounts/model.hpp"
#include "quillon_core/status.hpp"

using quillon_accounts::model::AccountStatus;
using quillon_core::status::PaymentStatus;
using quillon_core::status::Payout;
using Table = std::vector<std::pair<std::string_view, std::string_view>>;

template <class Map>
void check_words(const Table& table, Map map) {
    for (const auto& [word, expected] : table) {
        CHECK_EQ(std::string(word) + " -> " + std::string(map(word)),
                 std::string(word) + " -> " + std::string(expected));
    }
}

TEST(payout_maps_gateway_words_after_trimming_and_ascii_upper_casing) {
    check_words(
        {
            {"PENDIENTE", "pending"}, {"PENDIENTE_PAGO", "pending"}, {"INICIALIZADO", "pending"},
            {"PROCESO", "processing"}, {"EN_PROCESO", "processing"}, {"ENVIADO", "processing"},
            {"TRANSITO", "processing"}, {"PENDIENTE_CONFIRMACION", "processing"}, {"PAGADO", "paid"},
            {"APROBADA", "paid"}, {"COMPLETADO", "paid"}, {"CANCELADO", "cancelled"},
            {"RECHAZADO", "rejected"}, {"RECHAZADA", "rejected"}, {"REVERTIDO", "reversed"},
            {"ERROR", "error"},
            {"pagado ", "paid"},
            {"\xC2\xA0" "en_proceso\xE3\x80\x80", "processing"},  // U+00A0 ... U+3000
            {" \n\xE2\x80\x83 ", "unknown"},                       // U+2003 EM SPACE only
            {"tr\xC3\xa1nsito", "unknown"},                          // accented a
            {"EN PROCESO", "unknown"},
            {"APROBADO", "unknown"},
            {"\xE2\x80\x8B" "PAGADO", "unknown"},  // U+200B is not white space
        },
        [](std::string_view w) { return quillon_core::status::payment_status_word(Payout::map(w)); });
}

TEST(payment_status_words_follow_declaration_order) {
    const std::vector<std::string_view> words = {"pending", "processing", "paid", "cancelled", "expired",
                                                 "rejected", "reversed", "error", "unknown"};
    for (std::size_t i = 0; i < words.size(); ++i) {
        const auto value = quillon_core::status::to_value(static_cast<PaymentStatus>(i));
        CHECK(value.is_string() && value.text() == words[i]);
    }
}

TEST(account_status_reads_gateway_words) {
    check_words(
        {
            {"  activa ", "active"},
            {"Activo", "active"},
            {"\xE3\x80\x80" "Cerrada\xC2\x85", "closed"},  // U+3000 ... U+0085
            {"   ", "unknown"},
            {"ACTIVAS", "unknown"},
            {"BLOQUEADO", "unknown"},
            {"CERRADO", "unknown"},
            {"ACTIV\xC3\x81", "unknown"},  // accented A
            {"active", "unknown"},
        },
        [](std::string_view w) { return AccountStatus::from_wire(w).word(); });
}

TEST(account_status_words_and_gateway_words) {
    const Table forms = {{"active", "ACTIVA"}, {"blocked", "BLOQUEADA"}, {"suspended", "SUSPENDIDA"},
                         {"closed", "CERRADA"}, {"unknown", ""}};
    for (std::size_t i = 0; i < forms.size(); ++i) {
        const AccountStatus s = static_cast<AccountStatus::Value>(i);
        CHECK_EQ(s.word(), forms[i].first);
        CHECK_EQ(s.gateway_word(), forms[i].second);
        // What the module writes to the gateway reads back as the same status.
        if (s != AccountStatus::unknown) CHECK(AccountStatus::from_wire(s.gateway_word()) == s);
    }
}
