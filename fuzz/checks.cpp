// The properties every answer of the engine must have, checked on each
// fuzzed input: well-formed envelopes, requests and amounts.
#include "checks.hpp"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "quillon_accounts/registry.hpp"
#include "quillon_core/amount.hpp"
#include "quillon_core/ffi.hpp"
#include "quillon_core/json_doc.hpp"
#include "quillon_core/json_reader.hpp"
#include "quillon_core/json_writer.hpp"

namespace fuzz {

using quillon_core::json::Value;

namespace json = quillon_core::json;

namespace {

void require(bool ok, std::string_view what, std::string_view op, std::string_view text) {
    if (!ok) broken(what, op, text);
}

// A document's value as a tree (objects sorted, the last of repeated keys kept).
Value tree(const json::Node& node) {
    switch (node.kind()) {
        case json::Kind::boolean: return Value::boolean(node.as_bool());
        case json::Kind::number: return Value::number(std::string(node.text()));
        case json::Kind::string: return Value::string(std::string(node.text()));
        case json::Kind::array: {
            std::vector<Value> items;
            for (const json::Node& item : node.items()) items.push_back(tree(item));
            return Value::array(std::move(items));
        }
        case json::Kind::object: {
            std::vector<Value::Member> members;
            for (const json::Member& m : node.members()) members.emplace_back(std::string(m.key), tree(m.value));
            return Value::object(std::move(members));
        }
        default: return Value::null();
    }
}

Value parsed(std::string_view op, std::string_view text) {
    const auto doc = json::Doc::parse(text);
    if (!doc) broken("not JSON (" + doc.error().message + ")", op, text);
    return tree(doc.value().root());
}

std::vector<std::string_view> keys_of(const Value& object) {
    std::vector<std::string_view> keys;
    for (const auto& member : object.members()) keys.push_back(member.first);
    return keys;
}

bool has_keys(const Value& v, std::initializer_list<std::string_view> keys) {
    return v.is_object() && keys_of(v) == std::vector<std::string_view>(keys);
}

bool is_string(const Value* v) { return v != nullptr && v->is_string(); }
bool is_text_or_null(const Value* v) { return v != nullptr && (v->is_string() || v->is_null()); }

// An HTTP status as the writer puts an unsigned integer: plain digits.
bool is_status(const Value* v) {
    if (v == nullptr || !v->is_number()) return false;
    const std::string& t = v->text();
    if (t.empty() || t.size() > 5 || (t.size() > 1 && t[0] == '0')) return false;
    unsigned long n = 0;
    for (char c : t) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + static_cast<unsigned long>(c - '0');
    }
    return n <= 65535;
}

bool is_field_errors(const Value* v) {
    if (v == nullptr || !v->is_array()) return false;
    for (const Value& e : v->items()) {
        if (!has_keys(e, {"code", "field", "message"})) return false;
        if (!is_text_or_null(e.find("code")) || !is_text_or_null(e.find("field")) ||
            !is_string(e.find("message"))) {
            return false;
        }
    }
    return true;
}

void check_error(std::string_view op, std::string_view text, const Value& e, const std::string& kind) {
    bool shape = false;
    if (kind == "validation") {
        shape = has_keys(e, {"field", "kind", "message", "retryable"}) && is_string(e.find("field"));
    } else if (kind == "authentication") {
        shape = has_keys(e, {"kind", "message", "retryable", "status"}) && is_status(e.find("status"));
    } else if (kind == "api") {
        shape = has_keys(e, {"errors", "kind", "message", "retryable", "status"}) &&
                is_status(e.find("status")) && is_field_errors(e.find("errors"));
    } else if (kind == "ambiguous") {
        shape = has_keys(e, {"errors", "kind", "message", "retryable"}) && is_field_errors(e.find("errors"));
    } else if (kind == "decode" || kind == "webhook_auth" || kind == "ffi") {
        shape = has_keys(e, {"kind", "message", "retryable"});
    }
    require(shape, "error object without the members of its kind", op, text);
    require(is_string(e.find("message")), "error message is not a string", op, text);
    const Value* retryable = e.find("retryable");
    require(retryable != nullptr && retryable->is_bool(), "\"retryable\" is not a boolean", op, text);
    require(kind == "api" || !retryable->as_bool(), "only gateway failures may be retryable", op, text);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Strips a trailing " at line L column C".
std::string strip_position(const std::string& message) {
    std::size_t end = message.size();
    const auto digits_before = [&](std::size_t at) {
        std::size_t i = at;
        while (i > 0 && is_digit(message[i - 1])) --i;
        return i < at ? i : std::string::npos;
    };
    const std::size_t column = digits_before(end);
    if (column == std::string::npos) return message;
    constexpr std::string_view column_word = " column ";
    if (column < column_word.size() ||
        message.compare(column - column_word.size(), column_word.size(), column_word) != 0) {
        return message;
    }
    const std::size_t line = digits_before(column - column_word.size());
    constexpr std::string_view line_word = " at line ";
    if (line == std::string::npos || line < line_word.size() ||
        message.compare(line - line_word.size(), line_word.size(), line_word) != 0) {
        return message;
    }
    return message.substr(0, line - line_word.size());
}

// ---- re-encoding ------------------------------------------------------------

void append_hex4(std::uint32_t unit, std::string& out) {
    static constexpr char hex[] = "0123456789ABCDEF";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out.push_back(hex[(unit >> shift) & 0xF]);
}

// Every character beyond ASCII as \uXXXX (pairs above the BMP), "/" as "\/",
// control characters as upper-case \u00XX. `s` is well-formed UTF-8.
void write_escaped(std::string_view s, std::string& out) {
    out.push_back('"');
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            if (b == '"') out += "\\\"";
            else if (b == '\\') out += "\\\\";
            else if (b == '/') out += "\\/";
            else if (b < 0x20) append_hex4(b, out);
            else out.push_back(static_cast<char>(b));
            ++i;
            continue;
        }
        const std::size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
        std::uint32_t cp = b & (len == 4 ? 0x07 : len == 3 ? 0x0F : 0x1F);
        for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            append_hex4(0xD800 + (cp >> 10), out);
            append_hex4(0xDC00 + (cp & 0x3FF), out);
        } else {
            append_hex4(cp, out);
        }
        i += len;
    }
    out.push_back('"');
}

struct Rewriter {
    json::Reader reader;
    Style style;
    std::string out;
    std::size_t spaces = 0;

    void space() {
        if (style != Style::spaced) return;
        static constexpr std::array<std::string_view, 4> runs = {" ", "\n", "\t \r\n", "  "};
        out += runs[spaces++ % runs.size()];
    }

    void string(std::string_view s) {
        if (style == Style::escaped) {
            write_escaped(s, out);
        } else {
            json::write_string(s, out);
        }
    }

    bool value() {
        json::Reader& r = reader;
        const int c = r.skip_ws();
        space();
        switch (c) {
            case 'n': r.eat(); if (!r.ident("ull")) return false; out += "null"; break;
            case 't': r.eat(); if (!r.ident("rue")) return false; out += "true"; break;
            case 'f': r.eat(); if (!r.ident("alse")) return false; out += "false"; break;
            case '"': {
                r.eat();
                std::string s;
                if (!r.read_string(s)) return false;
                string(s);
                break;
            }
            case '[': {
                if (!r.enter()) return false;
                out.push_back('[');
                bool first = true;
                bool any = false;
                for (;;) {
                    const int step = r.next_element(first);
                    if (step < 0) return false;
                    if (step == 0) break;
                    if (any) out.push_back(',');
                    any = true;
                    if (!value()) return false;
                }
                r.leave();
                if (!r.end_seq()) return false;
                space();
                out.push_back(']');
                break;
            }
            case '{': {
                if (!r.enter()) return false;
                out.push_back('{');
                bool first = true;
                bool any = false;
                for (;;) {
                    const int step = r.next_key(first);
                    if (step < 0) return false;
                    if (step == 0) break;
                    r.eat();
                    std::string key;
                    if (!r.read_string(key) || !r.colon()) return false;
                    if (any) out.push_back(',');
                    any = true;
                    space();
                    string(key);
                    space();
                    out.push_back(':');
                    if (!value()) return false;
                }
                r.leave();
                if (!r.end_map()) return false;
                space();
                out.push_back('}');
                break;
            }
            default: {
                if (c != '-' && !is_digit(static_cast<char>(c))) return false;
                json::NumberToken t;
                if (!r.scan_number(json::NumberMode::value, t)) return false;
                out.append(t.text);
            }
        }
        space();
        return true;
    }
};

const std::array<std::string_view, 6> AMOUNT_KEYS = {"amount", "available", "booked", "fee", "held", "total"};

void walk_amounts(std::string_view op, std::string_view text, const Value& v) {
    if (v.is_array()) {
        for (const Value& item : v.items()) walk_amounts(op, text, item);
        return;
    }
    if (!v.is_object()) return;
    for (const auto& [key, member] : v.members()) {
        bool is_amount = false;
        for (std::string_view k : AMOUNT_KEYS) is_amount |= key == k;
        if (is_amount && member.is_string()) {
            const auto amount = quillon_core::amount::from_text(member.text());
            require(amount.ok(), "a written amount does not read back", op, text);
            require(quillon_core::amount::to_text(amount.value()) == member.text(),
                    "a written amount is not in normal form", op, text);
        } else {
            walk_amounts(op, text, member);
        }
    }
}

}  // namespace

namespace {

// An input that decodes for each operation, in table order.
constexpr std::string_view INPUTS[] = {
    R"({"nit":"9001234","account_number":"10000001"})",
    R"({"nit":"9001234"})",
    R"({"nit":"9001234","establishment_id":15,"accounts":[{"alias":"Caja","category":"ventas"}]})",
    R"({"nit":"9001234","changes":[{"account_number":"10000001","status":"blocked","reason":"audit"}]})",
    R"({"nit":"9001234","date_from":"2024-01-01","date_to":"2024-01-07"})",
    R"({"nit":"9001234","account_number":"10000001","date_from":"2024-01-01","date_to":"2024-01-31"})",
    R"({"nit":"9001234","account_number":"10000001","date_from":"2024-01-01","date_to":"2024-01-31"})",
    R"({"nit":"9001234","account_numbers":["10000001","10000002"]})",
};
static_assert(sizeof INPUTS / sizeof INPUTS[0] == OPERATION_COUNT);

}  // namespace

std::optional<ParseInput> parse_input(const std::uint8_t* data, std::size_t size) {
    constexpr std::uint16_t STATUSES[] = {200, 201, 204, 299, 199, 300, 400, 401,
                                          403, 404, 408, 429, 500, 502, 503, 65535};
    if (size < 2) return std::nullopt;
    ParseInput out;
    out.op_index = data[0] % OPERATION_COUNT;
    std::size_t header = 2;
    if ((data[1] & 0x80) == 0) {
        out.status = STATUSES[data[1] % (sizeof STATUSES / sizeof STATUSES[0])];
    } else {
        if (size < 3) return std::nullopt;
        out.status = static_cast<std::uint16_t>((data[1] & 0x7F) << 8 | data[2]);
        header = 3;
    }
    out.body = as_utf8(std::string_view(reinterpret_cast<const char*>(data) + header, size - header));
    return out;
}

std::string parse_payload(std::size_t op_index, std::uint16_t status, std::string_view body) {
    std::string payload = R"({"input":)";
    payload += INPUTS[op_index];
    payload += R"(,"response":{"status":)" + std::to_string(status) + R"(,"body":)";
    json::write_string(body, payload);
    payload += "}}";
    return payload;
}

std::string answer(std::string_view op, std::string_view payload) {
    return quillon_core::ffi::call(quillon_accounts::accounts_ops(), op, payload);
}

std::string as_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        const std::size_t len = b < 0x80                 ? 1
                                : b >= 0xC2 && b <= 0xDF ? 2
                                : b >= 0xE0 && b <= 0xEF ? 3
                                : b >= 0xF0 && b <= 0xF4 ? 4
                                                         : 0;
        bool ok = len != 0 && i + len <= bytes.size();
        for (std::size_t k = 1; ok && k < len; ++k) {
            ok = (static_cast<unsigned char>(bytes[i + k]) & 0xC0) == 0x80;
        }
        if (ok && len >= 3) {
            // no overlong forms, no surrogates, nothing above U+10FFFF
            const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
            ok = !(b == 0xE0 && b1 < 0xA0) && !(b == 0xED && b1 > 0x9F) && !(b == 0xF0 && b1 < 0x90) &&
                 !(b == 0xF4 && b1 > 0x8F);
        }
        if (!ok) {
            out.push_back('?');
            ++i;
            continue;
        }
        out.append(bytes.substr(i, len));
        i += len;
    }
    return out;
}

void broken(std::string_view what, std::string_view op, std::string_view text) {
    std::fprintf(stderr, "\n*** property broken: %.*s\n*** op: %.*s\n*** answer (first 2000 bytes): %.*s\n",
                 static_cast<int>(what.size()), what.data(), static_cast<int>(op.size()), op.data(),
                 static_cast<int>(std::min<std::size_t>(text.size(), 2000)), text.data());
    std::abort();
}

std::string check_envelope(std::string_view op, std::string_view text) {
    const Value v = parsed(op, text);
    require(json::to_text(v) == text, "not written in the compact sorted form", op, text);
    if (has_keys(v, {"ok", "value"})) {
        const Value* ok = v.find("ok");
        require(ok->is_bool() && ok->as_bool(), "a value with \"ok\" other than true", op, text);
        return "";
    }
    require(has_keys(v, {"error", "ok"}), "not an envelope", op, text);
    const Value* ok = v.find("ok");
    require(ok->is_bool() && !ok->as_bool(), "an error with \"ok\" other than false", op, text);
    const Value& e = *v.find("error");
    require(e.is_object() && is_string(e.find("kind")), "error without a kind", op, text);
    const std::string kind = e.find("kind")->text();
    check_error(op, text, e, kind);
    return kind;
}

void check_request(std::string_view op, std::string_view text) {
    const Value v = parsed(op, text);
    const Value& r = *v.find("value");
    require(has_keys(r, {"body", "headers", "method", "url"}), "request without its four members", op, text);
    const Value& headers = *r.find("headers");
    require(has_keys(headers, {"Accept", "Authorization", "Content-Type", "access_token", "client_id"}),
            "request without the five headers", op, text);
    for (const auto& [name, value] : headers.members()) {
        require(value.is_string(), "a header value that is not a string", op, text);
        require(value.text().find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos,
                "a header value with CR, LF or NUL", op, text);
    }
    require(headers.find("Authorization")->text() == "Bearer " + headers.find("access_token")->text(),
            "the bearer header and the token header disagree", op, text);
    const Value& method = *r.find("method");
    require(method.is_string() &&
                (method.text() == "GET" || method.text() == "POST" || method.text() == "PATCH"),
            "unknown method", op, text);
    const Value& body = *r.find("body");
    if (method.text() == "GET") {
        require(body.is_null(), "a GET request with a body", op, text);
    } else {
        require(body.is_string(), "a request without its body", op, text);
        const Value inner = parsed(op, body.text());
        require(inner.is_object() && json::to_text(inner) == body.text(),
                "a request body that is not one compact JSON object", op, text);
    }
    require(is_string(r.find("url")) && r.find("url")->text().find("cuentas-comercios/v1/cuentas") !=
                                             std::string::npos,
            "a URL without the accounts path", op, text);
}

void check_amounts(std::string_view op, std::string_view text) { walk_amounts(op, text, parsed(op, text)); }

std::optional<std::string> reencode(std::string_view text, Style style) {
    Rewriter w{json::Reader(text), style, {}, 0};
    if (!w.value() || !w.reader.finish()) return std::nullopt;
    return std::move(w.out);
}

bool is_invalid_payload(std::string_view text) {
    const auto doc = json::Doc::parse(text);
    if (!doc || !doc.value().root().is_object()) return false;
    const json::Node* e = doc.value().root().find("error");
    if (e == nullptr || !e->is_object()) return false;
    const json::Node* m = e->find("message");
    return m != nullptr && m->is_string() && m->text().starts_with("invalid payload: ");
}

std::string without_position(std::string_view text) {
    const auto doc = json::Doc::parse(text);
    if (!doc) return std::string(text);
    Value v = tree(doc.value().root());
    if (const Value* e = v.is_object() ? v.find("error") : nullptr; e != nullptr && e->is_object()) {
        if (const Value* m = e->find("message"); m != nullptr && m->is_string()) {
            Value error = *e;
            error.set("message", Value::string(strip_position(m->text())));
            v.set("error", std::move(error));
        }
    }
    return json::to_text(v);
}

void check_stable(std::string_view op, std::string_view payload, std::string_view text) {
    require(answer(op, payload) == text, "the same call answered differently", op, text);
    const std::string plain = without_position(text);
    for (const Style style : {Style::spaced, Style::escaped}) {
        const auto again = reencode(payload, style);
        if (!again) continue;
        const std::string other = answer(op, *again);
        check_envelope(op, other);
        if (without_position(other) != plain) {
            std::fprintf(stderr, "\n*** the payload in another layout:\n%.*s\n*** was answered:\n%s\n",
                         static_cast<int>(std::min<std::size_t>(again->size(), 2000)), again->data(),
                         other.c_str());
            broken(is_invalid_payload(text) != is_invalid_payload(other)
                       ? "one layout refused as an invalid payload, the other not"
                       : "the same decoded payload answered differently",
                   op, text);
        }
    }
}

}  // namespace fuzz
