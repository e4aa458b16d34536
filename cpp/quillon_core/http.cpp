// The request written as JSON text.
#include "http.hpp"

#include "json_writer.hpp"

namespace quillon_core::http {

using json::Value;

std::string_view method_word(Method m) {
    switch (m) {
        case Method::get: return "GET";
        case Method::post: return "POST";
        case Method::patch: return "PATCH";
    }
    return "GET";
}

// Written straight to text: the members in ascending order, the headers in
// the map's (ascending) order.
Value HttpRequest::to_value() const {
    std::string out;
    std::size_t size = 96 + url.size() + (body ? body->size() + body->size() / 4 : 0);
    for (const auto& [name, value] : headers) size += name.size() + value.size() + 6;
    out.reserve(size);
    out.append("{\"body\":");
    if (body) {
        json::write_string(*body, out);
    } else {
        out.append("null");
    }
    out.append(",\"headers\":{");
    bool first = true;
    for (const auto& [name, value] : headers) {
        if (!first) out.push_back(',');
        first = false;
        json::write_string(name, out);
        out.push_back(':');
        json::write_string(value, out);
    }
    out.append("},\"method\":");
    json::write_string(method_word(method), out);
    out.append(",\"url\":");
    json::write_string(url, out);
    out.push_back('}');
    return Value::raw(std::move(out));
}

}  // namespace quillon_core::http
