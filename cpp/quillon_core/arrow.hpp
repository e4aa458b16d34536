// Columnar data handed to other libraries through the Arrow C data interface
// and the Arrow C stream interface: the three ABI structures, written from
// the Arrow format documentation (they are a published, stable ABI), and the
// trees of immutable arrays and types that are exported through them.
//
// Ownership: an exported array (and each of its children and its dictionary,
// which a consumer may move out and release on their own) holds a shared
// reference to the immutable node it was made from, and through it to the
// buffers; its release callback drops that reference, releases the children
// and dictionary still in place, and marks the structure released. Every
// structure is released exactly once, by whoever holds it last. A stream
// holds a shared reference to its source and can be read from any thread
// (one reader at a time, as the interface asks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The C structures use the C names of the fixed-width integers.
#include <stdint.h>  // NOLINT(modernize-deprecated-headers)

extern "C" {

#ifndef ARROW_C_DATA_INTERFACE
#define ARROW_C_DATA_INTERFACE

#define ARROW_FLAG_DICTIONARY_ORDERED 1
#define ARROW_FLAG_NULLABLE 2
#define ARROW_FLAG_MAP_KEYS_SORTED 4

struct ArrowSchema {
    const char* format;
    const char* name;
    const char* metadata;
    int64_t flags;
    int64_t n_children;
    struct ArrowSchema** children;
    struct ArrowSchema* dictionary;
    void (*release)(struct ArrowSchema*);
    void* private_data;
};

struct ArrowArray {
    int64_t length;
    int64_t null_count;
    int64_t offset;
    int64_t n_buffers;
    int64_t n_children;
    const void** buffers;
    struct ArrowArray** children;
    struct ArrowArray* dictionary;
    void (*release)(struct ArrowArray*);
    void* private_data;
};

#endif  // ARROW_C_DATA_INTERFACE

#ifndef ARROW_C_STREAM_INTERFACE
#define ARROW_C_STREAM_INTERFACE

struct ArrowArrayStream {
    int (*get_schema)(struct ArrowArrayStream*, struct ArrowSchema* out);
    int (*get_next)(struct ArrowArrayStream*, struct ArrowArray* out);
    const char* (*get_last_error)(struct ArrowArrayStream*);
    void (*release)(struct ArrowArrayStream*);
    void* private_data;
};

#endif  // ARROW_C_STREAM_INTERFACE
}

namespace quillon_core::arrow {

// The type of a field: its format string ("u", "L", "d:38,2", "tsu:", "+s",
// "i" with a dictionary), name, flags, children and dictionary type.
struct Type {
    std::string format;
    std::string name;
    std::int64_t flags = 0;
    std::vector<Type> children;
    std::shared_ptr<const Type> dictionary;
};

// An immutable array: its buffers as the format lays them out (a null
// validity buffer when nothing is null), children and dictionary. `keep`
// holds whatever owns the memory the buffers point into.
struct Array {
    std::int64_t length = 0;
    std::int64_t null_count = 0;
    std::vector<const void*> buffers;
    std::vector<std::shared_ptr<const Array>> children;
    std::shared_ptr<const Array> dictionary;
    std::vector<std::shared_ptr<const void>> keep;
};

// What a stream reads: one type (a struct of the columns) and its batches.
class Source {
public:
    virtual ~Source() = default;
    virtual const Type& type() const = 0;
    virtual std::size_t batch_count() const = 0;
    virtual std::shared_ptr<const Array> batch(std::size_t i) const = 0;
};

// A non-null address for a buffer of zero bytes, suitably aligned.
const void* empty_buffer();

// Fill `out` (which the caller owns, and which must not hold a live
// structure) with a new exported structure. They throw only std::bad_alloc,
// and then leave `out` untouched.
void export_type(const Type& type, ArrowSchema* out);
void export_array(std::shared_ptr<const Array> array, ArrowArray* out);
void export_stream(std::shared_ptr<const Source> source, ArrowArrayStream* out);

// ---- building buffers -------------------------------------------------------

// A validity bitmap built one value at a time; nothing is kept while no
// value is null (a null buffer then stands for all valid).
class Validity {
public:
    void push(bool valid) {
        if (!valid && nulls_ == 0) fill(count_);
        if (!bits_.empty() || !valid) {
            if ((count_ & 7) == 0) bits_.push_back(0);
            if (valid) bits_.back() = static_cast<std::uint8_t>(bits_.back() | (1u << (count_ & 7)));
        }
        if (!valid) ++nulls_;
        ++count_;
    }
    bool valid(std::size_t i) const { return nulls_ == 0 || ((bits_[i >> 3] >> (i & 7)) & 1) != 0; }
    std::int64_t nulls() const { return static_cast<std::int64_t>(nulls_); }
    const void* buffer() const { return nulls_ == 0 ? nullptr : bits_.data(); }

private:
    // Bits for the `n` valid values pushed before the first null.
    void fill(std::size_t n) {
        bits_.assign((n + 7) / 8, 0xFF);
        if ((n & 7) != 0) bits_.back() = static_cast<std::uint8_t>((1u << (n & 7)) - 1);
    }

    std::vector<std::uint8_t> bits_;
    std::size_t count_ = 0;
    std::size_t nulls_ = 0;
};

// Texts as utf8 values: 32-bit offsets and the bytes. `push` is false (and
// nothing is pushed) when the bytes would pass what 32-bit offsets reach.
class Texts {
public:
    Texts() { offsets_.push_back(0); }
    bool push(const char* data, std::size_t size) {
        if (size > LIMIT - bytes_.size()) return false;
        bytes_.append(data, size);
        offsets_.push_back(static_cast<std::int32_t>(bytes_.size()));
        return true;
    }
    void push_empty() { offsets_.push_back(offsets_.back()); }
    std::size_t size() const { return offsets_.size() - 1; }
    std::string_view at(std::size_t i) const {
        const auto begin = static_cast<std::size_t>(offsets_[i]);
        return {bytes_.data() + begin, static_cast<std::size_t>(offsets_[i + 1]) - begin};
    }
    const void* offsets() const { return offsets_.data(); }
    const void* bytes() const { return bytes_.empty() ? empty_buffer() : bytes_.data(); }
    std::size_t byte_size() const { return bytes_.size(); }
    void reserve(std::size_t values, std::size_t bytes) {
        offsets_.reserve(values + 1);
        bytes_.reserve(bytes);
    }

private:
    static constexpr std::size_t LIMIT = 0x7FFF'FFFF;
    std::vector<std::int32_t> offsets_;
    std::string bytes_;
};

// A utf8 array of `texts` with `validity`, kept alive by `owner`.
std::shared_ptr<const Array> text_array(const Texts& texts, const Validity& validity,
                                        std::shared_ptr<const void> owner);

}  // namespace quillon_core::arrow
