// The JSON value tree: what the engine writes (request bodies, errors, the
// listing of operations). Gateway bodies are read into a document instead
// (json_doc.hpp).
//
// Numbers keep the exact text they were written with, so amounts and account
// numbers never pass through binary floating point. Objects keep their
// members sorted in ascending byte order of the key, with unique keys, so
// every text written from a tree lists members sorted.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillon_core::json {

// `Raw` is a piece of compact JSON text written elsewhere (a large result
// written straight to text), written out as it is.
enum class Kind : std::uint8_t { null, boolean, number, string, array, object, raw };

class Value {
public:
    using Member = std::pair<std::string, Value>;

    Value() = default;

    static Value null() { return Value(); }
    static Value boolean(bool b) {
        Value v(Kind::boolean);
        v.bool_ = b;
        return v;
    }
    // `literal` must be valid JSON number text; it is written out unchanged.
    static Value number(std::string literal) {
        Value v(Kind::number);
        v.text_ = std::move(literal);
        return v;
    }
    static Value number(std::uint64_t n) { return number(std::to_string(n)); }
    static Value string(std::string s) {
        Value v(Kind::string);
        v.text_ = std::move(s);
        return v;
    }
    static Value array(std::vector<Value> items = {}) {
        Value v(Kind::array);
        v.items_ = std::move(items);
        return v;
    }
    static Value object() { return Value(Kind::object); }
    // `json` must be compact JSON text with sorted keys; written out unchanged.
    static Value raw(std::string json) {
        Value v(Kind::raw);
        v.text_ = std::move(json);
        return v;
    }
    // Members in any order; a repeated key keeps its last value.
    static Value object(std::vector<Member> members) {
        Value v(Kind::object);
        const auto by_key = [](const Member& a, const Member& b) { return a.first < b.first; };
        // Members are usually written in order already; a few are sorted in
        // place (stable), only many with a buffer.
        if (!std::is_sorted(members.begin(), members.end(), by_key)) {
            if (members.size() <= 16) {
                for (std::size_t i = 1; i < members.size(); ++i) {
                    for (std::size_t j = i; j > 0 && by_key(members[j], members[j - 1]); --j) {
                        std::swap(members[j], members[j - 1]);
                    }
                }
            } else {
                std::stable_sort(members.begin(), members.end(), by_key);
            }
        }
        v.members_.reserve(members.size());
        for (auto& m : members) {
            if (!v.members_.empty() && v.members_.back().first == m.first) {
                v.members_.back().second = std::move(m.second);
            } else {
                v.members_.push_back(std::move(m));
            }
        }
        return v;
    }

    Kind kind() const { return kind_; }
    bool is_null() const { return kind_ == Kind::null; }
    bool is_bool() const { return kind_ == Kind::boolean; }
    bool is_number() const { return kind_ == Kind::number; }
    bool is_string() const { return kind_ == Kind::string; }
    bool is_array() const { return kind_ == Kind::array; }
    bool is_object() const { return kind_ == Kind::object; }
    bool is_raw() const { return kind_ == Kind::raw; }

    bool as_bool() const { return bool_; }
    // The string's content, the number's literal text, or the raw JSON text.
    const std::string& text() const { return text_; }
    // The text given away (a large raw result moved into its envelope).
    std::string take_text() && { return std::move(text_); }

    const std::vector<Value>& items() const { return items_; }
    void push(Value v) { items_.push_back(std::move(v)); }

    // Members in ascending byte order of the key.
    const std::vector<Member>& members() const { return members_; }

    const Value* find(std::string_view key) const {
        auto it = lower(key);
        return it != members_.end() && it->first == key ? &it->second : nullptr;
    }

    // Inserts the member, or replaces the value of an existing key.
    Value& set(std::string key, Value v) {
        auto it = lower(key);
        if (it != members_.end() && it->first == key) {
            it->second = std::move(v);
            return it->second;
        }
        return members_.emplace(it, std::move(key), std::move(v))->second;
    }

    friend bool operator==(const Value& a, const Value& b) {
        return a.kind_ == b.kind_ && a.bool_ == b.bool_ && a.text_ == b.text_ &&
               a.items_ == b.items_ && a.members_ == b.members_;
    }

private:
    explicit Value(Kind k) : kind_(k) {}

    std::vector<Member>::iterator lower(std::string_view key) {
        return std::lower_bound(members_.begin(), members_.end(), key,
                                [](const Member& m, std::string_view k) { return m.first < k; });
    }
    std::vector<Member>::const_iterator lower(std::string_view key) const {
        return std::lower_bound(members_.begin(), members_.end(), key,
                                [](const Member& m, std::string_view k) { return m.first < k; });
    }

    Kind kind_ = Kind::null;
    bool bool_ = false;
    std::string text_;
    std::vector<Value> items_;
    std::vector<Member> members_;
};

}  // namespace quillon_core::json
