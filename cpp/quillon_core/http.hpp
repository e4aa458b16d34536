// The HTTP exchange the engine describes: the request the caller sends and
// the response it hands back (read from the "parse" payload).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "json_value.hpp"
#include "record.hpp"

namespace quillon_core::http {

// Declaration order is part of the contract.
enum class Method : std::uint8_t { get, post, patch };

std::string_view method_word(Method m);

using Headers = std::map<std::string, std::string>;  // ascending byte order of the name

struct HttpRequest {
    Method method = Method::get;
    std::string url;
    Headers headers;
    std::optional<std::string> body;  // compact JSON text; absent for GET

    // {"body":...,"headers":{...},"method":"GET","url":"..."}
    json::Value to_value() const;
};

struct HttpResponse {
    std::uint16_t status = 0;
    std::string body;  // exactly as received

    bool is_success() const { return status >= 200 && status <= 299; }
};

}  // namespace quillon_core::http

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
