// The "parse" stage of the accounts operations: open the gateway's envelope
// to the operation's wire record, then convert it to the result record. The
// input is not used here; it only had to decode.
//
// Lists are decoded, converted and written one element at a time into the
// result's JSON text; the outcome (the text, or the first failure) is the
// same as decoding the whole list, converting it and writing it.
#include <optional>
#include <string>
#include <utility>

#include "../quillon_core/envelope.hpp"
#include "model_convert.hpp"
#include "model_json.hpp"
#include "ops.hpp"
#include "wire.hpp"

namespace quillon_accounts::ops {

namespace {

using quillon_core::envelope::CodeData;
using quillon_core::json::Node;

template <class Wire, class Out>
Result<Out> open_as(const HttpResponse& response) {
    auto wire = CodeData::open<Wire>(response);
    if (!wire) return std::move(wire).error();
    return model::convert(std::move(wire).value());
}

// Decodes, converts and writes each element of a list of W; false with the
// first failure's message.
template <class W>
bool write_list(const Node& node, std::string& out, std::string& message) {
    out.push_back('[');
    model::ListText list(out, node.is_array() ? node.items().size() : 0);
    const bool ok = wire::decode_each<W>(
        node,
        [&](W& w) {
            list.next();
            model::write(model::convert(std::move(w)), out);
        },
        message);
    out.push_back(']');
    return ok;
}

// Writes each element of a list as it is read, into the list's JSON text.
template <class W>
class ListWriter final : public quillon_core::envelope::ListSink {
public:
    explicit ListWriter(std::size_t room) {
        text_.reserve(room);
        text_.push_back('[');
    }
    bool element(const Node& item, std::string& message) override {
        if (!wire::decode(item, record_, message)) return false;
        if (count_++ > 0) text_.push_back(',');
        model::write(model::convert(std::move(record_)), text_);
        return true;
    }
    std::string finish() && {
        text_.push_back(']');
        return std::move(text_);
    }

private:
    std::string text_;
    W record_;
    std::size_t count_ = 0;
};

template <class W>
Result<model::Written> open_list(const HttpResponse& response) {
    {
        // One pass over the body when it is a successful list (room for a
        // text about as long as the body, which is what a list of records
        // written back usually takes).
        ListWriter<W> sink(response.body.size() + 64);
        std::optional<quillon_core::error::Error> failure;
        if (CodeData::open_list(response, sink, failure)) {
            if (failure) return std::move(*failure);
            return model::Written{std::move(sink).finish()};
        }
    }
    return CodeData::open_with(response, [](const Node& node, std::string& message) {
        std::optional<model::Written> out(std::in_place);
        if (!write_list<W>(node, out->json, message)) out.reset();
        return out;
    });
}

// A `WReconciliation`, read as its record decoder reads it: an object whose
// "movimientos" and "saldos" (the last of each, unknown keys ignored) are
// lists, or an array of the two lists; failures come in field order, the
// movements first, then the balances, then an array that is too long. The
// result's members are the other way round ("balances" before "movements"),
// so a balance's failure waits until the movements have been read.
bool write_reconciliation(const Node& node, std::string& out, std::string& message) {
    const Node* movements = nullptr;
    const Node* balances = nullptr;
    std::size_t too_long = 0;
    if (node.is_object()) {
        movements = node.find("movimientos");
        balances = node.find("saldos");
    } else if (node.is_array()) {
        const auto items = node.items();
        if (!items.empty()) movements = &items[0];
        if (items.size() > 1) balances = &items[1];
        if (items.size() > 2) too_long = items.size();
    } else {
        message = wire::invalid_type(node, "struct WReconciliation");
        return false;
    }
    std::optional<std::string> balance_failure;
    out.append("{\"balances\":");
    if (balances != nullptr) {
        std::string m;
        if (!write_list<wire::WBalance>(*balances, out, m)) balance_failure = std::move(m);
    } else {
        out.append("[]");
    }
    out.append(",\"movements\":");
    if (movements != nullptr) {
        if (!write_list<wire::WMovement>(*movements, out, message)) return false;
    } else {
        out.append("[]");
    }
    if (balance_failure) {
        message = std::move(*balance_failure);
        return false;
    }
    if (too_long > 0) {
        message = "invalid length " + std::to_string(too_long) + ", expected fewer elements in array";
        return false;
    }
    out.push_back('}');
    return true;
}

}  // namespace

Result<GetAccount::Output> GetAccount::parse_response(const Input&, const HttpResponse& response) {
    return open_as<wire::Detail, Output>(response);
}

Result<ListAccounts::Output> ListAccounts::parse_response(const Input&, const HttpResponse& response) {
    return open_as<wire::List, Output>(response);
}

Result<Create::Output> Create::parse_response(const Input&, const HttpResponse& response) {
    return open_as<wire::Created, Output>(response);
}

Result<ChangeStatus::Output> ChangeStatus::parse_response(const Input&, const HttpResponse& response) {
    return open_list<wire::Changed>(response);
}

Result<Reconcile::Output> Reconcile::parse_response(const Input&, const HttpResponse& response) {
    return CodeData::open_with(response, [](const Node& node, std::string& message) {
        std::optional<model::Written> out(std::in_place);
        if (!write_reconciliation(node, out->json, message)) out.reset();
        return out;
    });
}

Result<Credits::Output> Credits::parse_response(const Input&, const HttpResponse& response) {
    return open_list<wire::WMovement>(response);
}

Result<Debits::Output> Debits::parse_response(const Input&, const HttpResponse& response) {
    return open_list<wire::WMovement>(response);
}

Result<Balances::Output> Balances::parse_response(const Input&, const HttpResponse& response) {
    return open_list<wire::WBalance>(response);
}

}  // namespace quillon_accounts::ops
