// Exporting through the Arrow C data and stream interfaces (arrow.hpp).
#include "arrow.hpp"

#include <cerrno>
#include <exception>
#include <new>
#include <utility>

namespace quillon_core::arrow {

namespace {

// ---- types ------------------------------------------------------------------

// What an exported schema owns: the texts and the structures of its
// children and dictionary (each with its own holder, so that a consumer can
// move any of them out).
struct TypeHolder {
    std::string format;
    std::string name;
    std::vector<ArrowSchema> children;
    std::vector<ArrowSchema*> child_pointers;
    std::unique_ptr<ArrowSchema> dictionary;
};

// Releases a structure made here (a schema or an array, with holder H):
// the children and dictionary still in place first, then what it holds.
template <class H, class S>
void release(S* s) {
    if (s == nullptr || s->release == nullptr) return;
    auto* holder = static_cast<H*>(s->private_data);
    for (S* child : holder->child_pointers) {
        if (child->release != nullptr) child->release(child);
    }
    if (holder->dictionary && holder->dictionary->release != nullptr) {
        holder->dictionary->release(holder->dictionary.get());
    }
    delete holder;
    s->release = nullptr;
    s->private_data = nullptr;
}

void release_type(ArrowSchema* schema) { release<TypeHolder>(schema); }

// Fills `out`; on failure (only std::bad_alloc) releases what it made of
// `out`'s children and rethrows, leaving `out` untouched.
void fill_type(const Type& type, ArrowSchema* out) {
    auto holder = std::make_unique<TypeHolder>();
    holder->format = type.format;
    holder->name = type.name;
    holder->children.resize(type.children.size());
    holder->child_pointers.reserve(type.children.size());
    std::size_t made = 0;
    try {
        for (; made < type.children.size(); ++made) {
            fill_type(type.children[made], &holder->children[made]);
            holder->child_pointers.push_back(&holder->children[made]);
        }
        if (type.dictionary) {
            holder->dictionary = std::make_unique<ArrowSchema>();
            holder->dictionary->release = nullptr;
            fill_type(*type.dictionary, holder->dictionary.get());
        }
    } catch (...) {
        for (std::size_t i = 0; i < made; ++i) release_type(&holder->children[i]);
        throw;
    }
    out->format = holder->format.c_str();
    out->name = holder->name.c_str();
    out->metadata = nullptr;
    out->flags = type.flags;
    out->n_children = static_cast<int64_t>(holder->child_pointers.size());
    out->children = holder->child_pointers.empty() ? nullptr : holder->child_pointers.data();
    out->dictionary = holder->dictionary.get();
    out->release = &release_type;
    out->private_data = holder.release();
}

// ---- arrays -----------------------------------------------------------------

struct ArrayHolder {
    std::shared_ptr<const Array> array;
    std::vector<const void*> buffers;
    std::vector<ArrowArray> children;
    std::vector<ArrowArray*> child_pointers;
    std::unique_ptr<ArrowArray> dictionary;
};

void release_array(ArrowArray* array) { release<ArrayHolder>(array); }

void fill_array(const std::shared_ptr<const Array>& array, ArrowArray* out) {
    auto holder = std::make_unique<ArrayHolder>();
    holder->array = array;
    holder->buffers = array->buffers;
    holder->children.resize(array->children.size());
    holder->child_pointers.reserve(array->children.size());
    std::size_t made = 0;
    try {
        for (; made < array->children.size(); ++made) {
            fill_array(array->children[made], &holder->children[made]);
            holder->child_pointers.push_back(&holder->children[made]);
        }
        if (array->dictionary) {
            holder->dictionary = std::make_unique<ArrowArray>();
            holder->dictionary->release = nullptr;
            fill_array(array->dictionary, holder->dictionary.get());
        }
    } catch (...) {
        for (std::size_t i = 0; i < made; ++i) release_array(&holder->children[i]);
        throw;
    }
    out->length = array->length;
    out->null_count = array->null_count;
    out->offset = 0;
    out->n_buffers = static_cast<int64_t>(holder->buffers.size());
    out->n_children = static_cast<int64_t>(holder->child_pointers.size());
    out->buffers = holder->buffers.empty() ? nullptr : holder->buffers.data();
    out->children = holder->child_pointers.empty() ? nullptr : holder->child_pointers.data();
    out->dictionary = holder->dictionary.get();
    out->release = &release_array;
    out->private_data = holder.release();
}

// ---- streams ----------------------------------------------------------------

struct StreamHolder {
    std::shared_ptr<const Source> source;
    std::size_t next = 0;
    std::string error;
};

int stream_schema(ArrowArrayStream* stream, ArrowSchema* out) {
    auto* holder = static_cast<StreamHolder*>(stream->private_data);
    try {
        fill_type(holder->source->type(), out);
        return 0;
    } catch (const std::exception&) {
        holder->error = "out of memory while exporting the schema";
        return ENOMEM;
    }
}

int stream_next(ArrowArrayStream* stream, ArrowArray* out) {
    auto* holder = static_cast<StreamHolder*>(stream->private_data);
    if (holder->next >= holder->source->batch_count()) {
        out->release = nullptr;  // the end of the stream
        return 0;
    }
    try {
        fill_array(holder->source->batch(holder->next), out);
        ++holder->next;
        return 0;
    } catch (const std::exception&) {
        holder->error = "out of memory while exporting a batch";
        return ENOMEM;
    }
}

const char* stream_error(ArrowArrayStream* stream) {
    auto* holder = static_cast<StreamHolder*>(stream->private_data);
    return holder->error.empty() ? nullptr : holder->error.c_str();
}

void release_stream(ArrowArrayStream* stream) {
    if (stream == nullptr || stream->release == nullptr) return;
    delete static_cast<StreamHolder*>(stream->private_data);
    stream->release = nullptr;
    stream->private_data = nullptr;
}

}  // namespace

const void* empty_buffer() {
    alignas(64) static const std::uint8_t zeros[64] = {};
    return zeros;
}

void export_type(const Type& type, ArrowSchema* out) { fill_type(type, out); }

void export_array(std::shared_ptr<const Array> array, ArrowArray* out) { fill_array(array, out); }

void export_stream(std::shared_ptr<const Source> source, ArrowArrayStream* out) {
    auto holder = std::make_unique<StreamHolder>();
    holder->source = std::move(source);
    out->get_schema = &stream_schema;
    out->get_next = &stream_next;
    out->get_last_error = &stream_error;
    out->release = &release_stream;
    out->private_data = holder.release();
}

std::shared_ptr<const Array> text_array(const Texts& texts, const Validity& validity,
                                        std::shared_ptr<const void> owner) {
    auto out = std::make_shared<Array>();
    out->length = static_cast<std::int64_t>(texts.size());
    out->null_count = validity.nulls();
    out->buffers = {validity.buffer(), texts.offsets(), texts.bytes()};
    out->keep.push_back(std::move(owner));
    return out;
}

}  // namespace quillon_core::arrow
