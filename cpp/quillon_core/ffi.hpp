// The call protocol: the one door into the core. Takes `op` and the payload
// text and always returns one JSON envelope text.
#pragma once

#include <string>
#include <string_view>

#include "operation.hpp"

namespace quillon_core::ffi {

// {"ok":true,"value":...} or {"error":{...,"retryable":...},"ok":false}.
// Never throws: a fault inside the operation comes back as an "ffi" error.
std::string call(const operation::Registry& registry, std::string_view op, std::string_view payload);

}  // namespace quillon_core::ffi
