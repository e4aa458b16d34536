// The status of an account: the module's own words ("active", ...), the
// gateway's Spanish words read into it, and the word sent when a status is
// changed.
#pragma once

#include <cstdint>
#include <string_view>

namespace quillon_accounts::model {

class AccountStatus {
public:
    // Declaration order is part of the contract.
    enum Value : std::uint8_t { active, blocked, suspended, closed, unknown };

    constexpr AccountStatus(Value v = unknown) : v_(v) {}
    constexpr operator Value() const { return v_; }

    // The gateway's status word read: Unicode white space trimmed, ASCII
    // letters upper-cased, then looked up; anything else is `unknown`.
    static AccountStatus from_wire(std::string_view word);
    // The module's own word: "active", "blocked", ...
    std::string_view word() const;
    // The word sent to the gateway when a status is changed; empty for `unknown`.
    std::string_view gateway_word() const;

private:
    Value v_;
};

}  // namespace quillon_accounts::model
