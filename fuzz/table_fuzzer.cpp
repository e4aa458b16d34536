// Fuzzes the columnar builder on what the gateway sends (the input laid out
// as for parse_fuzzer: operation byte, status byte(s), body). A table is
// built exactly when the parse stage answers with a success, and holds as
// many rows as its answer lists; every buffer of the exported Arrow stream
// is walked (with the sanitizers watching) and checked against its type;
// every structure is released; the CSV and JSON-lines forms are well formed.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "checks.hpp"
#include "quillon_accounts/result_columns.hpp"
#include "quillon_core/json_doc.hpp"

namespace {

namespace columns = quillon_accounts::columns;
namespace json = quillon_core::json;

std::string g_op;
std::string g_text;

void require(bool ok, std::string_view what) {
    if (!ok) fuzz::broken(what, g_op, g_text);
}

// Reads every byte, so that the sanitizers see each buffer whole.
unsigned touch(const void* p, std::size_t n) {
    unsigned sum = 0;
    const auto* bytes = static_cast<const unsigned char*>(p);
    for (std::size_t i = 0; i < n; ++i) sum += bytes[i];
    return sum;
}

template <class T>
T at(const void* buffer, std::size_t i) {
    T v;
    std::memcpy(&v, static_cast<const unsigned char*>(buffer) + i * sizeof(T), sizeof(T));
    return v;
}

void walk(const ArrowSchema& s, const ArrowArray& a) {
    const std::string_view f = s.format;
    const auto n = static_cast<std::size_t>(a.length);
    require(a.length >= 0 && a.offset == 0 && a.release != nullptr, "a malformed array");
    require(a.n_children == s.n_children, "children of the array and its type differ");
    if (a.buffers[0] != nullptr) {
        touch(a.buffers[0], (n + 7) / 8);
        std::size_t nulls = 0;
        for (std::size_t i = 0; i < n; ++i) nulls += ((at<std::uint8_t>(a.buffers[0], i / 8) >> (i % 8)) & 1) == 0;
        require(static_cast<std::int64_t>(nulls) == a.null_count, "null count and bitmap differ");
        require((s.flags & ARROW_FLAG_NULLABLE) != 0, "nulls in a column that is not nullable");
    } else {
        require(a.null_count == 0, "nulls without a bitmap");
    }
    if (f == "u") {
        require(a.n_buffers == 3, "utf8 takes three buffers");
        require(at<std::int32_t>(a.buffers[1], 0) == 0, "utf8 offsets start at 0");
        for (std::size_t i = 0; i < n; ++i) {
            require(at<std::int32_t>(a.buffers[1], i) <= at<std::int32_t>(a.buffers[1], i + 1), "offsets go back");
        }
        touch(a.buffers[2], static_cast<std::size_t>(at<std::int32_t>(a.buffers[1], n)));
    } else if (f == "L" || f == "tsu:") {
        require(a.n_buffers == 2, "a fixed-width column takes two buffers");
        touch(a.buffers[1], 8 * n);
    } else if (f.substr(0, 5) == "d:38,") {
        require(a.n_buffers == 2, "a decimal column takes two buffers");
        touch(a.buffers[1], 16 * n);
    } else if (f == "i") {
        require(s.dictionary != nullptr && a.dictionary != nullptr, "a dictionary column without its dictionary");
        walk(*s.dictionary, *a.dictionary);
        for (std::size_t i = 0; i < n; ++i) {
            if (a.buffers[0] != nullptr && ((at<std::uint8_t>(a.buffers[0], i / 8) >> (i % 8)) & 1) == 0) continue;
            const auto code = at<std::int32_t>(a.buffers[1], i);
            require(code >= 0 && code < a.dictionary->length, "a code outside the dictionary");
        }
    } else if (f == "+s") {
        require(a.n_buffers == 1, "a struct takes one buffer");
        for (std::int64_t k = 0; k < a.n_children; ++k) {
            require(a.children[k]->length == a.length, "a child of another length");
            walk(*s.children[k], *a.children[k]);
        }
    } else {
        require(false, "an unexpected format");
    }
}

// Exports and walks the table through a stream, then releases everything.
void check_table(const columns::Table& table, const std::shared_ptr<const columns::Table>& owner) {
    ArrowArrayStream stream{};
    quillon_core::arrow::export_stream(owner, &stream);
    ArrowSchema schema{};
    require(stream.get_schema(&stream, &schema) == 0, "no schema");
    std::int64_t rows = 0;
    for (;;) {
        ArrowArray batch{};
        require(stream.get_next(&stream, &batch) == 0, "no batch");
        if (batch.release == nullptr) break;
        walk(schema, batch);
        rows += batch.length;
        batch.release(&batch);
        require(batch.release == nullptr, "a released batch still looks live");
    }
    require(rows == table.rows(), "the stream's rows differ from the table's");
    schema.release(&schema);
    stream.release(&stream);

    const std::string lines = table.jsonl();
    std::size_t count = 0;
    for (std::size_t start = 0; start < lines.size(); ++count) {
        const std::size_t end = lines.find('\n', start);
        require(end != std::string::npos, "a JSON line without its end");
        require(json::Doc::parse(std::string_view(lines).substr(start, end - start)).ok(), "a JSON line that is no JSON");
        start = end + 1;
    }
    require(static_cast<std::int64_t>(count) == table.rows(), "JSON lines and rows differ");
    const std::string csv = table.csv();
    require(csv.size() >= 2 && csv.substr(csv.size() - 2) == "\r\n", "CSV without its last line end");
}

// The length of an array member of a node (an absent one counts 0).
std::size_t count_of(const json::Node* node) { return node != nullptr && node->is_array() ? node->items().size() : 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = fuzz::parse_input(data, size);
    if (!input) return 0;
    // get, create and set_status bodies become bodies of a table operation.
    constexpr std::size_t TABLE_OF[] = {1, 1, 1, 7, 4, 5, 6, 7};
    const std::size_t op_index = TABLE_OF[input->op_index];
    const std::uint16_t status = input->status;
    const std::string& body = input->body;
    const std::string_view name = fuzz::OPERATIONS[op_index];
    g_op = std::string(name) + ".parse";
    g_text = fuzz::answer(g_op, fuzz::parse_payload(op_index, status, body));
    const bool success = fuzz::check_envelope(g_op, g_text).empty();

    const auto built = columns::build(*columns::table_op(name), status, body);
    require(built.ok() == success, built.ok() ? "a table of an answer that failed" : "no table of a success");
    if (!built) return 0;

    // As many rows as the answer lists.
    const auto doc = json::Doc::parse(g_text);
    require(doc.ok(), "the answer is no JSON");
    const json::Node* value = doc.value().root().find("value");
    const columns::Tables& tables = built.value();
    if (name == "accounts.reconcile") {
        require(tables.second != nullptr, "a reconciliation without its balances");
        require(tables.first->rows() == static_cast<std::int64_t>(count_of(value->find("movements"))) &&
                    tables.second->rows() == static_cast<std::int64_t>(count_of(value->find("balances"))),
                "rows and the answer's lists differ");
    } else if (name == "accounts.list") {
        std::size_t accounts = 0;
        if (const json::Node* list = value->find("establishments"); list != nullptr && list->is_array()) {
            for (const json::Node& e : list->items()) accounts += count_of(e.find("accounts"));
        }
        require(tables.first->rows() == static_cast<std::int64_t>(accounts), "rows and the answer's accounts differ");
    } else {
        require(tables.first->rows() == static_cast<std::int64_t>(count_of(value)), "rows and the answer's list differ");
    }
    check_table(*tables.first, tables.first);
    if (tables.second) check_table(*tables.second, tables.second);
    // Two tables of one kind as one: their batches in order.
    const auto twice = columns::concat({tables.first, tables.first});
    require(twice != nullptr && twice->rows() == 2 * tables.first->rows(), "concat lost rows");
    check_table(*twice, twice);
    return 0;
}
