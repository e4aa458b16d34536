// The gateway's response envelope: a string result code ("00" is success),
// the payload in "data", and on failure a message, an error code and
// sometimes a list of messages. Opening it gives the decoded payload or the
// error that classifies the failure. Bodies are read into a document
// (json_doc.hpp), the one form gateway bodies take.
#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "error.hpp"
#include "http.hpp"
#include "json_doc.hpp"

namespace quillon_core::envelope {

// The body read as one JSON document, or the error for an authentication
// failure (401, 403: the body is never read as an envelope) or an
// unreadable body.
error::Result<json::Doc> json_body(const http::HttpResponse& response);

// The first of `keys` whose member is a string with something left after
// trimming, trimmed; nothing when `value` is no object or no key qualifies.
std::optional<std::string> text_field(const json::Node& value, std::initializer_list<std::string_view> keys);

// The string elements of an array, exactly as received; empty otherwise.
std::vector<std::string> string_list(const json::Node* value);

// The message of an authentication failure's body ("error_description",
// "message", "error"), else `preview` of the body.
std::string message_from_body(std::string_view body);

// The trimmed body's first 200 characters, or "empty response body".
std::string preview(std::string_view body);

// "request failed with HTTP {status}".
std::string failed(const http::HttpResponse& response);

// A payload type is anything with a `decode(const json::Node&, T&)` found by
// overload: it reads the payload's node, and fails (a "decode" error whose
// message says what was wrong) when the node does not have the payload's
// shape.
template <class T>
concept Payload = std::default_initializable<T> && requires(const json::Node& v, T& out) {
    { decode(v, out) } -> std::same_as<error::Result<void>>;
};

// Receives the elements of a list payload one at a time (see
// `CodeData::open_list`).
class ListSink {
public:
    virtual ~ListSink() = default;
    // Decodes one element and keeps what it makes of it; the decoder's error
    // when the element does not have the list's shape.
    virtual error::Result<void> element(const json::Node& item) = 0;
};

// The code-and-data envelope of the accounts gateway.
struct CodeData {
    // Opens a successful response whose payload is a JSON array in one pass
    // over the body, handing each element to `sink` as soon as it is read:
    // neither the body's document nor the list is ever held whole. The
    // outcome is that of `open_with` on the same response: true, or the
    // error when the body is no JSON or an element does not decode (the
    // first one; the rest of the body is still read, as its JSON errors
    // come first). False when the response has to be opened the general way
    // instead (a failed answer, a payload that is no array, a repeated
    // "data"); what the sink received then is to be thrown away.
    //
    // A second way through a body, kept for speed and memory: 10,000
    // movements in 29-32 ms per call instead of 38-45 ms, and a peak of 2.84
    // times the payload's size instead of 3.82 (bench/RESULTS.md). The status
    // and body are the caller's (a body is not copied).
    static error::Result<bool> open_list(std::uint16_t status, std::string_view body, ListSink& sink);

    // The node the payload is decoded from ("data" when present and not
    // null, else the whole body), read into `doc`; or the error of a failed
    // response.
    static error::Result<const json::Node*> payload(const http::HttpResponse& response, json::Doc& doc);

    // Hands the payload's node to `use(node)`, which returns the result or
    // the error of a node that does not have the payload's shape (reported
    // as "unexpected payload shape: {its message}").
    template <class T, class F>
    static error::Result<T> open_with(const http::HttpResponse& response, F&& use) {
        json::Doc doc;
        auto node = payload(response, doc);
        if (!node) return std::move(node).error();
        error::Result<T> out = use(*node.value());
        if (!out) return shape_error(std::move(out).error());
        return out;
    }

    template <Payload T>
    static error::Result<T> open(const http::HttpResponse& response) {
        return open_with<T>(response, [](const json::Node& node) -> error::Result<T> {
            T out{};
            if (auto read = decode(node, out); !read) return std::move(read).error();
            return out;
        });
    }

    // "unexpected payload shape: {message}", a "decode" error.
    static error::Error shape_error(error::Error&& decoding);
};

}  // namespace quillon_core::envelope
