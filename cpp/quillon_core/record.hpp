// Records described once by a table of their fields, and the two engines
// that read them: one straight from the call's payload text, one from a
// gateway body's document. Both kinds of record are declared the same way,
// next to their definition, by a specialisation of `Table<R>`:
//
//     template <> struct Table<AccountRef> {
//         static constexpr std::string_view name = "AccountRef";
//         static constexpr std::array fields = {
//             field<&AccountRef::nit>("nit"),
//             field<&AccountRef::account_number>("account_number"),
//         };
//     };
//
// The field order is the record's declaration order, which the array form
// depends on. Messages name the record "struct {name}".
//
// Payload records (`field<&R::m>(key, presence)`): each field's decoder
// follows from its member's type (text, optional, integer, enumeration,
// nested record, list). They are decoded from the text as it is read, so a
// failure carries its position; like the reader they answer bool, the
// failure kept in the reader (json_reader.hpp):
//   - object form: keys compared exactly; unknown keys skipped; a repeated
//     field fails "duplicate field `f`"; at the end, the first required field
//     missing in declaration order fails "missing field `f`";
//   - array form: element i is field i; an array ending before a required
//     field fails "invalid length i, expected struct R with N elements";
//   - anything else: "invalid type: X, expected struct R".
//
// Gateway records (`field<&R::m, Kind>(key, alias)`): the kind says how
// tolerant the field is (the gateway writes some texts as numbers, some
// values of the wrong type are dropped). They are decoded from a document,
// the members counted in ascending key order with the last of repeated keys
// winning; messages carry no position. A short array form leaves optional
// fields at their defaults, a long one fails "invalid length n, expected
// fewer elements in array". A record that fails is left at its defaults.
//
// Enumerations are described by `Words<E>`: their words in declaration order.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "error.hpp"
#include "json_doc.hpp"
#include "json_reader.hpp"

namespace quillon_core::record {

enum class Presence : std::uint8_t {
    required,   // missing from an object or a short array: the record fails
    defaulted,  // missing anywhere: keeps the record's default value
    optional,   // missing from an object: absent; a short array still fails
};

// Reads a field's value from the payload text at the reader into the record.
using TextRead = bool (*)(json::Reader&, void* record);
// Reads a field's value from a gateway document node into the record; a
// "decode" error when the value does not fit.
using NodeRead = error::Result<void> (*)(const json::Node&, void* record);

// One field of a record, type-erased so that one engine serves all records.
template <class Read>
struct Field {
    std::string_view name;
    Read read;
    Presence presence = Presence::required;
    std::string_view alias = {};            // a second key for the same field
    void (*reset)(void* record) = nullptr;  // back to its default (gateway records)

    bool named(std::string_view key) const { return key == name || (!alias.empty() && key == alias); }
};

template <class R>
struct Table;  // specialised per record: `name` and `fields`

template <class E>
struct Words;  // specialised per enumeration: `words`, and `from_index`

template <class T>
concept Described = requires {
    { Table<T>::name } -> std::convertible_to<std::string_view>;
    Table<T>::fields;
};

template <class T>
concept TextDescribed = Described<T> && std::same_as<typename decltype(Table<T>::fields)::value_type, Field<TextRead>>;

template <class T>
concept NodeDescribed = Described<T> && std::same_as<typename decltype(Table<T>::fields)::value_type, Field<NodeRead>>;

template <class T>
concept Enumerated = requires(std::size_t i) {
    Words<T>::words;
    { Words<T>::from_index(i) } -> std::same_as<T>;
};

template <auto Member>
struct MemberOf;
template <class R, class T, T R::*M>
struct MemberOf<M> {
    using Record = R;
    using Type = T;
};

// ---- the payload engine (record.cpp) ----------------------------------------

[[nodiscard]] bool read_record(json::Reader& r, void* record, std::string_view name, std::span<const Field<TextRead>> fields);
[[nodiscard]] bool read_text(json::Reader& r, std::string& out);
enum class IntType : std::uint8_t { u16, i64, u64 };
// The value's bits: u16 and u64 as unsigned, i64 as two's complement.
[[nodiscard]] bool read_integer(json::Reader& r, IntType type, std::uint64_t& out);
// Sets `index` to the position of the word read in `words`.
[[nodiscard]] bool read_variant(json::Reader& r, std::span<const std::string_view> words, std::size_t& index);
// Steps over an optional value's null; true when the value is null.
[[nodiscard]] bool read_null(json::Reader& r, bool& is_null);
// Reads a list, calling `element` for each element at its start.
[[nodiscard]] bool read_list(json::Reader& r, void* list, bool (*element)(json::Reader&, void* list));

// Payload decoders by type.
template <class T>
struct Codec;

template <>
struct Codec<std::string> {
    static bool read(json::Reader& r, std::string& out) { return read_text(r, out); }
};

template <std::unsigned_integral T>
    requires(sizeof(T) == 2 || sizeof(T) == 8)
struct Codec<T> {
    static bool read(json::Reader& r, T& out) {
        std::uint64_t bits = 0;
        if (!read_integer(r, sizeof(T) == 2 ? IntType::u16 : IntType::u64, bits)) return false;
        out = static_cast<T>(bits);
        return true;
    }
};

template <>
struct Codec<std::int64_t> {
    static bool read(json::Reader& r, std::int64_t& out) {
        std::uint64_t bits = 0;
        if (!read_integer(r, IntType::i64, bits)) return false;
        out = static_cast<std::int64_t>(bits);
        return true;
    }
};

// null means absent; anything else is decoded as T.
template <class T>
struct Codec<std::optional<T>> {
    static bool read(json::Reader& r, std::optional<T>& out) {
        bool is_null = false;
        if (!read_null(r, is_null)) return false;
        if (is_null) {
            out.reset();
            return true;
        }
        return Codec<T>::read(r, out.emplace());
    }
};

template <class T>
struct Codec<std::vector<T>> {
    static bool read(json::Reader& r, std::vector<T>& out) {
        out.clear();
        return read_list(r, &out, [](json::Reader& rr, void* list) {
            auto& items = *static_cast<std::vector<T>*>(list);
            return Codec<T>::read(rr, items.emplace_back());
        });
    }
};

template <TextDescribed R>
struct Codec<R> {
    static bool read(json::Reader& r, R& out) { return read_record(r, &out, Table<R>::name, Table<R>::fields); }
};

template <Enumerated E>
struct Codec<E> {
    static bool read(json::Reader& r, E& out) {
        std::size_t index = 0;
        if (!read_variant(r, Words<E>::words, index)) return false;
        out = Words<E>::from_index(index);
        return true;
    }
};

// The payload field of the member `Member`, decoded by its type's Codec.
template <auto Member>
constexpr Field<TextRead> field(std::string_view name, Presence presence = Presence::required) {
    using R = typename MemberOf<Member>::Record;
    using T = typename MemberOf<Member>::Type;
    return {name, [](json::Reader& r, void* record) { return Codec<T>::read(r, static_cast<R*>(record)->*Member); },
            presence};
}

// Decodes a payload record from the reader's position.
template <TextDescribed R>
[[nodiscard]] bool read(json::Reader& r, R& out) {
    return Codec<R>::read(r, out);
}

// ---- the gateway engine (record.cpp) ----------------------------------------

// Which field followed which the last time a record of one type was read:
// the members of a gateway's records come in the same order record after
// record, so the next key is nearly always the guessed field. Guesses only
// save comparisons; they never change which field is found.
struct KeyOrder {
    static constexpr std::size_t MAX_FIELDS = 32;
    std::array<std::uint8_t, MAX_FIELDS + 1> next = [] {
        std::array<std::uint8_t, MAX_FIELDS + 1> a{};
        for (std::size_t i = 0; i <= MAX_FIELDS; ++i) a[i] = static_cast<std::uint8_t>(i == MAX_FIELDS ? 0 : i + 1);
        return a;
    }();
};

error::Result<void> read_record(const json::Node& node, void* record, std::string_view name,
                                std::span<const Field<NodeRead>> fields, KeyOrder& order);

// "invalid type: {found}, expected {expected}", the found value named as in
// "unit value", "boolean `true`", "number", "string \"x\"", "sequence", "map".
std::string invalid_type(const json::Node& found, std::string_view expected);

// The gateway field of the member `Member`, read by `Kind::read(node,
// member)`; `Kind::required` says whether the field must be present.
template <auto Member, class Kind>
constexpr Field<NodeRead> field(std::string_view name, std::string_view alias = {}) {
    using R = typename MemberOf<Member>::Record;
    using T = typename MemberOf<Member>::Type;
    return {name,
            [](const json::Node& node, void* record) { return Kind::read(node, static_cast<R*>(record)->*Member); },
            Kind::required ? Presence::required : Presence::optional, alias,
            [](void* record) { static_cast<R*>(record)->*Member = T{}; }};
}

// Decodes a gateway record from a document node.
template <NodeDescribed R>
error::Result<void> read(const json::Node& node, R& out) {
    static_assert(Table<R>::fields.size() <= KeyOrder::MAX_FIELDS);
    thread_local KeyOrder order;
    return read_record(node, &out, Table<R>::name, Table<R>::fields, order);
}

}  // namespace quillon_core::record
