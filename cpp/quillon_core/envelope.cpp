// Opening the gateway's envelope: the general way over a whole document, and
// the one pass over a successful list.
#include "envelope.hpp"

#include "json_doc.hpp"
#include "json_reader.hpp"
#include "text.hpp"

namespace quillon_core::envelope {

using error::Error;
using error::Result;

namespace {

constexpr std::size_t PREVIEW_CHARS = 200;

// Worth sending again as it is: timeouts, throttling and server failures.
bool retryable_status(std::uint16_t status) { return status >= 500 || status == 408 || status == 429; }

// The pieces of `text` between the separators "; ", empty pieces kept.
std::vector<std::string> split_messages(std::string_view text) {
    static constexpr std::string_view sep = "; ";
    std::vector<std::string> pieces;
    for (;;) {
        const auto at = text.find(sep);
        pieces.emplace_back(text.substr(0, at));
        if (at == std::string_view::npos) return pieces;
        text.remove_prefix(at + sep.size());
    }
}

// A failed response read as an envelope: the gateway's message, code and
// list of messages, one field error per message.
Error rejection(const http::HttpResponse& response, const json::Node& value,
                const std::optional<std::string>& envelope_code, bool by_code) {
    std::string message = text_field(value, {"errorMessage", "message"}).value_or(failed(response));
    std::optional<std::string> code = text_field(value, {"errorCode"});
    if (!code) code = envelope_code;

    std::vector<std::string> items = string_list(value.is_object() ? value.find("data") : nullptr);
    if (items.empty() && message.find("; ") != std::string::npos) items = split_messages(message);

    std::vector<error::ApiFieldError> errors;
    if (items.empty()) {
        errors.push_back({std::nullopt, message, code});
    } else {
        errors.reserve(items.size());
        for (auto& item : items) errors.push_back({std::nullopt, std::move(item), code});
    }
    // A refusal by the gateway's own code is an answer about the request,
    // not a passing failure: sending it again would be refused again.
    const bool retryable = !by_code && retryable_status(response.status);
    return Error::api(response.status, std::move(message), std::move(errors), retryable);
}

}  // namespace

Result<json::Doc> json_body(const http::HttpResponse& response) {
    if (response.status == 401 || response.status == 403) {
        return Error::authentication(response.status, message_from_body(response.body));
    }
    auto doc = json::Doc::parse(response.body);
    if (doc) return doc;
    if (response.is_success()) return Error::decode("invalid JSON body: " + doc.error().message);
    return Error::api(response.status, preview(response.body), {}, retryable_status(response.status));
}

std::optional<std::string> text_field(const json::Node& value, std::initializer_list<std::string_view> keys) {
    if (!value.is_object()) return std::nullopt;
    for (const auto key : keys) {
        const json::Node* member = value.find(key);
        if (member == nullptr || !member->is_string()) continue;
        const auto trimmed = text::trim(member->text());
        if (!trimmed.empty()) return std::string(trimmed);
    }
    return std::nullopt;
}

std::vector<std::string> string_list(const json::Node* value) {
    std::vector<std::string> out;
    if (value == nullptr || !value->is_array()) return out;
    for (const auto& item : value->items()) {
        if (item.is_string()) out.emplace_back(item.text());
    }
    return out;
}

std::string message_from_body(std::string_view body) {
    if (const auto doc = json::Doc::parse(body)) {
        if (auto text = text_field(doc.value().root(), {"error_description", "message", "error"})) return *text;
    }
    return preview(body);
}

std::string preview(std::string_view body) {
    const auto trimmed = text::trim(body);
    if (trimmed.empty()) return "empty response body";
    return std::string(text::first_chars(trimmed, PREVIEW_CHARS));
}

std::string failed(const http::HttpResponse& response) {
    return "request failed with HTTP " + std::to_string(response.status);
}

Result<const json::Node*> CodeData::payload(const http::HttpResponse& response, json::Doc& doc) {
    auto body = json_body(response);
    if (!body) return std::move(body).error();
    doc = std::move(body).value();
    const json::Node& root = doc.root();

    std::optional<std::string> code;
    if (root.is_object()) {
        if (const json::Node* c = root.find("code"); c != nullptr && c->is_string()) code = std::string(c->text());
    }
    if (code && *code != "00") return rejection(response, root, code, true);
    if (!response.is_success()) return rejection(response, root, code, false);

    if (root.is_object()) {
        if (const json::Node* data = root.find("data"); data != nullptr && !data->is_null()) return data;
    }
    return &root;
}

Error CodeData::shape_error(Error&& decoding) {
    decoding.message.insert(0, "unexpected payload shape: ");
    return std::move(decoding);
}

Result<bool> CodeData::open_list(std::uint16_t status, std::string_view body, ListSink& sink) {
    // Failed answers, authentication failures included, go the general way.
    if (status < 200 || status > 299) return false;
    // The steps below are those of `json::Doc::parse` (the same messages
    // and positions for a body that is no JSON); only where the values go
    // differs.
    json::Reader r(body);
    json::ValueReader values(r);
    std::optional<Error> shape;  // the first element that did not decode
    const auto list = [&]() {
        return r.each_element([&] {
            json::Node item;
            if (!values.next(item)) return false;
            if (shape) return true;
            if (auto kept = sink.element(item); !kept) shape = std::move(kept).error();
            return true;
        });
    };

    bool general = false;  // decided once the body has been read
    bool ok = false;
    const int c = r.skip_ws();
    if (c == '[') {
        ok = list();  // no envelope: the whole body is the payload
    } else if (c == '{') {
        std::optional<std::string> code;
        int data_members = 0;
        bool data_listed = false;
        ok = r.each_member([&] {
            std::string_view key;
            if (!values.string(key)) return false;
            const bool is_data = key == "data";
            const bool is_code = key == "code";
            if (!r.colon()) return false;
            if (is_data) {
                ++data_members;
                data_listed = r.skip_ws() == '[';
                if (data_listed) return list();
            }
            json::Node value;
            if (!values.next(value)) return false;
            if (is_code) code = value.is_string() ? std::optional(std::string(value.text())) : std::nullopt;
            return true;
        });
        // A rejection by code, a payload other than the one list (the whole
        // body, a "data" that is no array, one "data" after another).
        general = (code && *code != "00") || data_members != 1 || !data_listed;
    } else {
        return false;
    }
    if (ok) ok = r.finish();
    if (!ok) return Error::decode("invalid JSON body: " + r.error_text());
    if (general) return false;
    if (shape) return shape_error(std::move(*shape));
    return true;
}

}  // namespace quillon_core::envelope
