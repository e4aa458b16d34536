// The call protocol: the one door into the core. Takes `op` and the payload
// text and always returns one JSON envelope text.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "config.hpp"
#include "error.hpp"
#include "http.hpp"
#include "json_reader.hpp"
#include "json_value.hpp"
#include "operation.hpp"
#include "record.hpp"
#include "token.hpp"

namespace quillon_core::ffi {

inline constexpr std::string_view CORE_VERSION = "0.1.0";
inline constexpr int PROTOCOL_VERSION = 2;

// The payload of the stage "build".
template <class I>
struct Build {
    config::Config config;
    std::optional<token::AccessToken> token;  // missing or null: no token
    I input;
};

// The payload of the stage "parse". The input only has to decode: the
// response alone makes the result.
template <class I>
struct Parse {
    I input;
    http::HttpResponse response;
};

// {"ok":true,"value":...} or {"error":{...,"retryable":...},"ok":false}.
// Never throws from the operation: a fault inside it comes back as an "ffi"
// error.
std::string call(const operation::Registry& registry, std::string_view op, std::string_view payload);

// The envelope `call` answers "version" with, the same text every time. The
// binding hands it over without calling `call` (no copy, no dispatch): 42 ns
// per call instead of 58 ns (bench/RESULTS.md).
std::string_view version_answer();

// Decodes the whole payload text as the record T; only JSON whitespace may
// follow it.
template <class T>
error::Result<T> parse(std::string_view payload) {
    json::Reader reader(payload);
    T out{};
    if (record::read(reader, out) && reader.finish()) return out;
    return error::Error::ffi("invalid payload: " + reader.error_text());
}

// The JSON form of a result: its own `to_value()` member, or a `to_value`
// function found next to its type. A result handed over as an rvalue may
// give its contents away.
template <class T>
json::Value value_of(T&& v) {
    if constexpr (requires { std::forward<T>(v).to_value(); }) {
        return std::forward<T>(v).to_value();
    } else {
        return to_value(v);
    }
}

// Runs one stage of the operation Op on the payload text.
template <class Op>
error::Result<json::Value> run(std::string_view stage, std::string_view payload) {
    using Input = typename Op::Input;
    if (stage == "build") {
        auto decoded = parse<Build<Input>>(payload);
        if (!decoded) return std::move(decoded).error();
        const Build<Input>& build = decoded.value();
        const operation::Ctx ctx{build.config, build.token ? &*build.token : nullptr};
        auto request = Op::request(ctx, build.input);
        if (!request) return std::move(request).error();
        return value_of(request.value());
    }
    if (stage == "parse") {
        auto decoded = parse<Parse<Input>>(payload);
        if (!decoded) return std::move(decoded).error();
        auto output = Op::parse_response(decoded.value().response);
        if (!output) return std::move(output).error();
        return value_of(std::move(output).value());
    }
    return error::Error::ffi("unknown stage `" + std::string(stage) + "` for `" + std::string(Op::name) + "`");
}

}  // namespace quillon_core::ffi

namespace quillon_core::record {

template <class I>
struct Table<ffi::Build<I>> {
    using R = ffi::Build<I>;
    static constexpr std::string_view name = "Build";
    static constexpr std::array fields = {
        field<&R::config>("config"),
        field<&R::token>("token", Presence::defaulted),
        field<&R::input>("input"),
    };
};

template <class I>
struct Table<ffi::Parse<I>> {
    using R = ffi::Parse<I>;
    static constexpr std::string_view name = "Parse";
    static constexpr std::array fields = {
        field<&R::input>("input"),
        field<&R::response>("response"),
    };
};

}  // namespace quillon_core::record
