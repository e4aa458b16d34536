// The lookup of an operation by its name, made from the list of the
// operations (operation_list.hpp); only their names are read here.
#include <optional>
#include <string_view>

#include "operation_list.hpp"
#include "registry.hpp"

namespace quillon_accounts {

namespace {

template <class... Ls>
std::optional<OpId> find_in(OperationList<Ls...>, std::string_view name) {
    std::optional<OpId> found;
    ((name == Ls::Operation::name ? void(found = Ls::id) : void()), ...);
    return found;
}

}  // namespace

std::optional<OpId> find_operation(std::string_view name) { return find_in(Operations{}, name); }

}  // namespace quillon_accounts
