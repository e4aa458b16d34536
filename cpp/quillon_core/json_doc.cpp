// Reading a text into a document, and the arena the document keeps.
#include "json_doc.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "json_reader.hpp"

namespace quillon_core::json {

namespace {

constexpr std::size_t FIRST_BLOCK = 16 * 1024;
constexpr std::size_t LARGEST_BLOCK = 1024 * 1024;

// Reads values into a document. The children of the
// arrays and objects still open wait on two stacks until their bracket
// closes; then they move into the document as one block.
class Builder {
    static constexpr std::size_t ADOPT = 1024;  // items worth a buffer of their own

public:
    Builder(Reader& r, Doc& doc) : r_(r), doc_(doc) {}

    bool value(Node& out) {
        const int c = r_.skip_ws();
        switch (c) {
            case -1: return r_.fail_at(says::eof_value);
            case 'n': r_.eat(); out = Node(); return r_.ident("ull");
            case 't': r_.eat(); out = Node::boolean(true); return r_.ident("rue");
            case 'f': r_.eat(); out = Node::boolean(false); return r_.ident("alse");
            case '"': {
                r_.eat();
                std::string_view s;
                if (!string(s)) return false;
                out = Node::scalar(Kind::string, s);
                return true;
            }
            case '[': return array(out);
            case '{': return object(out);
            default: {
                if (c == '-' || (c >= '0' && c <= '9')) {
                    NumberToken t;
                    if (!r_.scan_number(NumberMode::value, t)) return false;
                    out = Node::scalar(Kind::number, t.text);
                    return true;
                }
                return r_.fail_at(says::expected_value);
            }
        }
    }

    bool string(std::string_view& out) {
        if (!r_.read_string_view(out, scratch_)) return false;
        if (out.data() == scratch_.data()) out = doc_.keep(out);  // decoded escapes
        return true;
    }

private:
    bool array(Node& out) {
        const std::size_t base = items_.size();
        const bool read = r_.each_element([&] {
            Node item;
            if (!value(item)) return false;
            items_.push_back(item);
            return true;
        });
        if (!read) return false;
        const std::size_t n = items_.size() - base;
        const Node* block = nullptr;
        if (base == 0 && n >= ADOPT) {
            // No enclosing array waits on the stack: the stack itself becomes
            // the block, which spares a long list (a gateway's list of
            // movements) its copy.
            block = doc_.adopt(std::move(items_));
            items_ = std::vector<Node>();
        } else {
            auto* copy = static_cast<Node*>(doc_.allocate(n * sizeof(Node), alignof(Node)));
            std::copy(items_.begin() + static_cast<std::ptrdiff_t>(base), items_.end(), copy);
            items_.resize(base);
            block = copy;
        }
        out = Node::block(Kind::array, block, checked(n));
        return true;
    }

    bool object(Node& out) {
        const std::size_t base = members_.size();
        const bool read = r_.each_member([&] {
            Member m;
            if (!string(m.key) || !r_.colon() || !value(m.value)) return false;
            members_.push_back(m);
            return true;
        });
        if (!read) return false;
        const std::size_t n = members_.size() - base;
        auto* block = static_cast<Member*>(doc_.allocate(n * sizeof(Member), alignof(Member)));
        std::copy(members_.begin() + static_cast<std::ptrdiff_t>(base), members_.end(), block);
        members_.resize(base);
        out = Node::block(Kind::object, block, checked(n));
        return true;
    }

    static std::size_t checked(std::size_t n) {
        if (n > std::numeric_limits<std::uint32_t>::max()) throw std::length_error("JSON block too large");
        return n;
    }

    Reader& r_;
    Doc& doc_;
    std::string scratch_;
    std::vector<Node> items_;
    std::vector<Member> members_;
};

}  // namespace

void* Doc::allocate(std::size_t bytes, std::size_t align) {
    const std::size_t pad = left_ == 0 ? 0 : (align - reinterpret_cast<std::uintptr_t>(next_) % align) % align;
    if (bytes + pad > left_) {
        const std::size_t last = blocks_.empty() ? 0 : blocks_.back().size;
        const std::size_t size = std::max(bytes + align, std::min(LARGEST_BLOCK, std::max(FIRST_BLOCK, last * 2)));
        blocks_.push_back(Block{std::unique_ptr<std::byte[]>(new std::byte[size]), size});  // left uninitialised
        next_ = blocks_.back().data.get();
        left_ = size;
        return allocate(bytes, align);
    }
    std::byte* p = next_ + pad;
    next_ = p + bytes;
    left_ -= bytes + pad;
    return p;
}

void Doc::clear() {
    adopted_.clear();
    if (blocks_.empty()) return;
    // The largest block stays.
    std::swap(blocks_.front(), *std::max_element(blocks_.begin(), blocks_.end(), [](const Block& a, const Block& b) {
        return a.size < b.size;
    }));
    blocks_.resize(1);
    next_ = blocks_.front().data.get();
    left_ = blocks_.front().size;
    root_ = Node();
}

struct ValueReader::Parts {
    explicit Parts(Reader& r) : builder(r, doc) {}
    Doc doc;
    Builder builder;
};

ValueReader::ValueReader(Reader& reader) : parts_(std::make_unique<Parts>(reader)) {}
ValueReader::~ValueReader() = default;

bool ValueReader::next(Node& out) {
    parts_->doc.clear();
    return parts_->builder.value(out);
}

bool ValueReader::string(std::string_view& out) {
    parts_->doc.clear();
    return parts_->builder.string(out);
}

const Node* Doc::adopt(std::vector<Node>&& nodes) {
    adopted_.push_back(std::move(nodes));
    return adopted_.back().data();
}

std::string_view Doc::keep(std::string_view text) {
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) throw std::length_error("JSON string too large");
    if (text.empty()) return {};
    auto* p = static_cast<char*>(allocate(text.size(), 1));
    std::memcpy(p, text.data(), text.size());
    return {p, text.size()};
}

error::Result<Doc> Doc::parse(std::string_view text) {
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) throw std::length_error("JSON text too large");
    Doc doc;
    Reader reader(text);
    Builder builder(reader, doc);
    Node root;
    if (builder.value(root) && reader.finish()) {
        doc.root_ = root;
        return doc;
    }
    return error::Error::decode(reader.error_text());
}

const Node* Node::find(std::string_view key) const {
    const auto list = members();
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
        if (it->key == key) return &it->value;
    }
    return nullptr;
}

std::vector<const Member*> sorted_members(const Node& object) {
    std::vector<const Member*> out;
    out.reserve(object.members().size());
    for (const Member& m : object.members()) out.push_back(&m);
    std::stable_sort(out.begin(), out.end(), [](const Member* a, const Member* b) { return a->key < b->key; });
    // Of a run of equal keys, the last one read wins.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (i + 1 < out.size() && out[i + 1]->key == out[i]->key) continue;
        out[kept++] = out[i];
    }
    out.resize(kept);
    return out;
}

}  // namespace quillon_core::json
