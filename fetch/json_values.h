#pragma once
// The few ways the reply readers take values out of simdjson's documents,
// and the refusal they throw. The DOM parser is used, not the on-demand
// one: it picks the processor's fastest code at run time (AVX2 where
// there is one), where the on-demand code is compiled for the build's
// baseline target only and reads a whole chain several times slower. Only the readers in fetch/
// include this (and simdjson); their callers see plain rows and a message.

#include <simdjson.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "ingest/import_rows.h"

namespace quillon::fetch::json {

namespace dom = simdjson::dom;

// A reply that is JSON but not in the shape its service writes.
class ReplyRefused : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A number, or nothing for null; anything else refuses the reply, naming
// the key. Integers and Java-style exponents ("7.1E-4") read alike.
std::optional<double> NumberOrNull(dom::element value, std::string_view key);

// A number that fits a float, or nothing for null.
std::optional<float> FigureOrNull(dom::element value, std::string_view key);

// An integer (epoch milliseconds, say), or nothing for null.
std::optional<std::int64_t> IntegerOrNull(dom::element value, std::string_view key);

// A string, or nothing for null.
std::optional<std::string_view> TextOrNull(dom::element value, std::string_view key);

// An option row's figure: -1 (no value, as the archive marks it) for null
// or a value below 0.
float OptionFigure(dom::element value, std::string_view key);

// Sets the root, expiration, type and strike of `option` from a contract
// symbol; false when the value is no contract symbol that can be read.
bool ReadContract(dom::element value, std::string_view key, import::OptionRow& option);

// Whether a value is null.
bool IsNull(dom::element value);
// The kind of a value.
dom::element_type TypeOf(dom::element value);

// Runs `read` over the reply and gives its result; on invalid JSON, a reply
// cut short or one of another shape, nothing with `error` set in words.
template <class Result, class Read>
std::optional<Result> ReadReply(std::string_view reply, std::string& error, Read read) {
    try {
        dom::parser parser;
        // Copied into a padded buffer; the whole reply is checked, so a
        // reply cut short or with anything after it is refused here.
        const dom::element document = parser.parse(reply.data(), reply.size());
        return read(document);
    } catch (const simdjson::simdjson_error& e) {
        error = std::string("the reply is not valid JSON: ") + e.what();
    } catch (const ReplyRefused& e) {
        error = e.what();
    }
    return std::nullopt;
}

}  // namespace quillon::fetch::json
