// A read-only JSON document over a text that outlives it: the one form
// gateway bodies are read into.
//
// Unlike `Value`, a document allocates almost nothing per value: strings
// without escapes and number literals are views into the text, strings with
// escapes are decoded into the document's own storage, and every array and
// object is one contiguous block of one arena. Objects keep their members in
// the order of the text, repeated keys included; `find` gives the last
// occurrence of a key, and `sorted_members` the members in ascending key
// order with the last of repeated keys winning, as JSON objects are read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "error.hpp"
#include "json_value.hpp"

namespace quillon_core::json {

struct Member;

class Node {
public:
    Node() = default;

    Kind kind() const { return kind_; }
    bool is_null() const { return kind_ == Kind::null; }
    bool is_bool() const { return kind_ == Kind::boolean; }
    bool is_number() const { return kind_ == Kind::number; }
    bool is_string() const { return kind_ == Kind::string; }
    bool is_array() const { return kind_ == Kind::array; }
    bool is_object() const { return kind_ == Kind::object; }

    bool as_bool() const { return bool_; }
    // The string's content, or the number's literal text.
    std::string_view text() const { return {static_cast<const char*>(ptr_), size_}; }
    std::span<const Node> items() const { return {static_cast<const Node*>(ptr_), size_}; }
    // Members in the order of the text.
    std::span<const Member> members() const;

    // The value of the last member named `key`, or null.
    const Node* find(std::string_view key) const;

    // Sizes are kept in 32 bits: a longer text is refused (as a fault of the
    // call), never silently cut short.
    static Node scalar(Kind kind, std::string_view text) {
        if (text.size() > std::numeric_limits<std::uint32_t>::max()) {
            throw std::length_error("JSON string too long");
        }
        return Node(kind, text.data(), static_cast<std::uint32_t>(text.size()));
    }
    static Node boolean(bool b) {
        Node n(Kind::boolean, nullptr, 0);
        n.bool_ = b;
        return n;
    }
    static Node block(Kind kind, const void* first, std::size_t count) {
        return Node(kind, first, static_cast<std::uint32_t>(count));
    }

private:
    Node(Kind kind, const void* ptr, std::uint32_t size) : ptr_(ptr), size_(size), kind_(kind) {}

    const void* ptr_ = nullptr;
    std::uint32_t size_ = 0;
    Kind kind_ = Kind::null;
    bool bool_ = false;
};

struct Member {
    std::string_view key;
    Node value;
};

inline std::span<const Member> Node::members() const {
    return {static_cast<const Member*>(ptr_), size_};
}

class Doc {
public:
    Doc() = default;
    Doc(Doc&&) noexcept = default;
    Doc& operator=(Doc&&) noexcept = default;

    const Node& root() const { return root_; }

    // Reads the whole text as one JSON value (JSON whitespace around it); a
    // failure is a "decode" error with the reader's message and position, as
    // in "expected value at line 1 column 1". The text must outlive the
    // document.
    static error::Result<Doc> parse(std::string_view text);

    // Storage that lives as long as the document.
    void* allocate(std::size_t bytes, std::size_t align);
    std::string_view keep(std::string_view text);
    // Takes over a whole buffer of nodes (whose address does not change).
    const Node* adopt(std::vector<Node>&& nodes);
    // Drops every value, keeping the first block of storage for the next ones.
    void clear();

private:
    struct Block {
        std::unique_ptr<std::byte[]> data;
        std::size_t size;
    };
    std::vector<Block> blocks_;
    std::vector<std::vector<Node>> adopted_;
    std::byte* next_ = nullptr;
    std::size_t left_ = 0;
    Node root_;
};

class Reader;

// Reads one value at a time from a reader into a document of its own, which
// is emptied before each value: the elements of a long list, one after the
// other, without the whole list in memory. The steps (and so the messages
// and positions) are those of `Doc::parse`; like the reader's own, they
// answer false on failure with the failure kept in the reader.
class ValueReader {
public:
    explicit ValueReader(Reader& reader);
    ~ValueReader();
    ValueReader(const ValueReader&) = delete;
    ValueReader& operator=(const ValueReader&) = delete;

    // Empties the document and reads the value at the reader's position;
    // `out` lives until the next call.
    [[nodiscard]] bool next(Node& out);
    // The string at the reader (its opening quotation mark consumed); the
    // view lives until the next call.
    [[nodiscard]] bool string(std::string_view& out);

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

// The members of an object sorted by key, the last of repeated keys kept.
// For the rare paths that need that order.
std::vector<const Member*> sorted_members(const Node& object);

}  // namespace quillon_core::json
