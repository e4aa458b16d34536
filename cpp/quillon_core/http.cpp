#include "http.hpp"

namespace quillon_core::http {

using json::Value;

std::string_view method_word(Method m) {
    switch (m) {
        case Method::GET: return "GET";
        case Method::POST: return "POST";
        case Method::PATCH: return "PATCH";
    }
    return "GET";
}

Value HttpRequest::to_value() const {
    Value headers_obj = Value::object();
    for (const auto& [name, value] : headers) headers_obj.set(name, Value::string(value));
    Value obj = Value::object();
    obj.set("body", body ? Value::string(*body) : Value::null());
    obj.set("headers", std::move(headers_obj));
    obj.set("method", Value::string(std::string(method_word(method))));
    obj.set("url", Value::string(url));
    return obj;
}

}  // namespace quillon_core::http
