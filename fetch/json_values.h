#pragma once
// The few ways the reply readers take values out of simdjson's on-demand
// documents, and the refusal they throw. Only the readers in fetch/
// include this (and simdjson); their callers see plain rows and a message.
// On-demand rather than DOM: it converts only the numbers a reader takes
// (7 of about 20 in an option row), and read a whole chain in four fifths
// of the DOM parser's time.

#include <simdjson.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "ingest/import_rows.h"

namespace quillon::fetch::json {

namespace od = simdjson::ondemand;

// A reply that is JSON but not in the shape its service writes.
class ReplyRefused : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A number, or nothing for null; anything else refuses the reply, naming
// the key. Integers and Java-style exponents ("7.1E-4") read alike.
std::optional<double> NumberOrNull(od::value value, std::string_view key);

// A number that fits a float, or nothing for null.
std::optional<float> FigureOrNull(od::value value, std::string_view key);

// An integer (epoch milliseconds, say), or nothing for null.
std::optional<std::int64_t> IntegerOrNull(od::value value, std::string_view key);

// A string, or nothing for null.
std::optional<std::string_view> TextOrNull(od::value value, std::string_view key);

// An option row's figure: -1 (no value, as the archive marks it) for null
// or a value below 0.
float OptionFigure(od::value value, std::string_view key);

// Sets the root, expiration, type and strike of `option` from a contract
// symbol; false when the value is no contract symbol that can be read.
bool ReadContract(od::value value, std::string_view key, import::OptionRow& option);

// The key of an object's field, unescaped.
template <class Field>
std::string_view KeyOf(Field& field) {
    const std::string_view key = field.unescaped_key();
    return key;
}

// Whether a value is null (and then taken).
bool IsNull(od::value& value);
// The kind of a value, before it is taken.
od::json_type TypeOf(od::value& value);

// Runs `read` over the reply and gives its result; on invalid JSON, a reply
// cut short or one of another shape, nothing with `error` set in words.
// `capacity`: the bytes that may be read from reply.data() on; a reply with
// simdjson's padding room after it is read where it is, any other is copied.
template <class Result, class Read>
std::optional<Result> ReadReply(std::string_view reply, std::string& error, Read read,
                                std::size_t capacity = 0) {
    try {
        const bool roomy = capacity >= reply.size() + simdjson::SIMDJSON_PADDING;
        const simdjson::padded_string copy =
            roomy ? simdjson::padded_string() : simdjson::padded_string(reply.data(), reply.size());
        const simdjson::padded_string_view padded =
            roomy ? simdjson::padded_string_view(reply.data(), reply.size(), capacity)
                  : simdjson::padded_string_view(copy);
        od::parser parser;
        od::document document = parser.iterate(padded);
        Result result = read(document);
        // Past the document's last token there is no location: anything
        // else is a second value after the reply.
        if (document.current_location().error() != simdjson::OUT_OF_BOUNDS) {
            throw ReplyRefused("the reply goes on after its end");
        }
        return result;
    } catch (const simdjson::simdjson_error& e) {
        error = std::string("the reply is not valid JSON: ") + e.what();
    } catch (const ReplyRefused& e) {
        error = e.what();
    }
    return std::nullopt;
}

}  // namespace quillon::fetch::json
