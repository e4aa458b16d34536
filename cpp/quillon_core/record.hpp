// Decoding records straight from JSON text, driven by field tables.
//
// A record type R is described once, next to its definition, by a
// specialisation of `Table<R>`:
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
// depends on. Each field's decoder follows from its member's type (text,
// optional, integer, enumeration, nested record, list). One engine
// (`read_record`) interprets every table:
//   - object form: keys compared exactly; unknown keys skipped; a repeated
//     field fails "duplicate field `f`"; at the end, the first required field
//     missing in declaration order fails "missing field `f`";
//   - array form: element i is field i; an array ending before a required
//     field fails "invalid length i, expected struct R with N elements";
//   - anything else: "invalid type: X, expected struct R".
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
#include <vector>

#include "json_reader.hpp"

namespace quillon_core::record {

using json::Reader;

enum class Presence : std::uint8_t {
    required,   // missing from an object or a short array: the record fails
    defaulted,  // missing anywhere: keeps the record's default value
    optional,   // missing from an object: absent; a short array still fails
};

// One field of a record, type-erased so that one engine serves all records.
struct FieldDesc {
    std::string_view name;
    bool (*read)(Reader&, void* record);
    Presence presence = Presence::required;
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
concept Enumerated = requires(std::size_t i) {
    Words<T>::words;
    { Words<T>::from_index(i) } -> std::same_as<T>;
};

// ---- the engine (record.cpp) ---------------------------------------------

bool read_record(Reader& r, void* record, std::string_view name, std::span<const FieldDesc> fields);
bool read_text(Reader& r, std::string& out);
enum class IntType : std::uint8_t { u16, i64, u64 };
// The value's bits: u16 and u64 as unsigned, i64 as two's complement.
bool read_integer(Reader& r, IntType type, std::uint64_t& out);
// Sets `index` to the position of the word read in `words`.
bool read_variant(Reader& r, std::span<const std::string_view> words, std::size_t& index);
// Steps over an optional value's null; true when the value is null.
bool read_null(Reader& r, bool& is_null);
// Reads a list, calling `element` for each element at its start.
bool read_list(Reader& r, void* list, bool (*element)(Reader&, void* list));

// ---- decoders by type ----------------------------------------------------

template <class T>
struct Codec;

template <>
struct Codec<std::string> {
    static bool read(Reader& r, std::string& out) { return read_text(r, out); }
};

template <>
struct Codec<std::uint16_t> {
    static bool read(Reader& r, std::uint16_t& out) {
        std::uint64_t bits = 0;
        if (!read_integer(r, IntType::u16, bits)) return false;
        out = static_cast<std::uint16_t>(bits);
        return true;
    }
};

template <>
struct Codec<std::uint64_t> {
    static bool read(Reader& r, std::uint64_t& out) { return read_integer(r, IntType::u64, out); }
};

template <>
struct Codec<std::int64_t> {
    static bool read(Reader& r, std::int64_t& out) {
        std::uint64_t bits = 0;
        if (!read_integer(r, IntType::i64, bits)) return false;
        out = static_cast<std::int64_t>(bits);
        return true;
    }
};

// null means absent; anything else is decoded as T.
template <class T>
struct Codec<std::optional<T>> {
    static bool read(Reader& r, std::optional<T>& out) {
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
    static bool read(Reader& r, std::vector<T>& out) {
        out.clear();
        return read_list(r, &out, [](Reader& rr, void* list) {
            auto& items = *static_cast<std::vector<T>*>(list);
            return Codec<T>::read(rr, items.emplace_back());
        });
    }
};

template <Described R>
struct Codec<R> {
    static bool read(Reader& r, R& out) {
        return read_record(r, &out, Table<R>::name, Table<R>::fields);
    }
};

template <Enumerated E>
struct Codec<E> {
    static bool read(Reader& r, E& out) {
        std::size_t index = 0;
        if (!read_variant(r, Words<E>::words, index)) return false;
        out = Words<E>::from_index(index);
        return true;
    }
};

// ---- table building ------------------------------------------------------

template <auto Member>
struct MemberOf;
template <class R, class T, T R::*M>
struct MemberOf<M> {
    using Record = R;
    using Type = T;
};

// The field of the member `Member`, decoded by its type's Codec.
template <auto Member>
constexpr FieldDesc field(std::string_view name, Presence presence = Presence::required) {
    using R = typename MemberOf<Member>::Record;
    using T = typename MemberOf<Member>::Type;
    return FieldDesc{name,
                     [](Reader& r, void* record) {
                         return Codec<T>::read(r, static_cast<R*>(record)->*Member);
                     },
                     presence};
}

// Decodes a described record from the reader's position.
template <Described R>
bool read(Reader& r, R& out) {
    return Codec<R>::read(r, out);
}

}  // namespace quillon_core::record
