// Amounts written back normalised, and read back from what was written.
// (Reading from the gateway's numbers and strings is in the recorded
// parse-stage cases.)
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "check.hpp"
#include "quillon_core/amount.hpp"

using quillon_core::amount::Amount;
namespace amount = quillon_core::amount;

TEST(writes_normalised_text_and_round_trips) {
    const std::vector<std::pair<Amount, std::string>> written = {
        {{0, 0, 5, true}, "0"},
        {{5, 0, 3, false}, "0.005"},
        {{0, 1, 0, false}, "18446744073709551616"},
        {{~std::uint64_t{0}, 0xFFFFFFFFu, 28, true}, "-7.9228162514264337593543950335"},
    };
    for (const auto& [a, text] : written) {
        CHECK_EQ(amount::to_text(a), text);
    }
    // Mantissas spread over all 96 bits, at every scale: reading the written
    // text gives the same value back.
    std::uint64_t seed = 0x9E3779B97F4A7C15u;
    for (int i = 0; i < 2000; ++i) {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        const Amount a{seed, static_cast<std::uint32_t>(seed >> (i % 33)), static_cast<std::uint8_t>(i % 29),
                       (i & 1) != 0};
        const auto back = amount::from_text(amount::to_text(a));
        CHECK(back.ok());
        if (back) CHECK_EQ(amount::to_text(back.value()), amount::to_text(a));
    }
}
