// How the HTTP response handed back by the caller is read from JSON.
#pragma once

#include <array>
#include <string_view>

#include "http.hpp"
#include "record.hpp"

namespace quillon_core::record {

template <>
struct Table<http::HttpResponse> {
    static constexpr std::string_view name = "HttpResponse";
    static constexpr std::array fields = {
        field<&http::HttpResponse::status>("status"),
        field<&http::HttpResponse::body>("body"),
    };
};

}  // namespace quillon_core::record
