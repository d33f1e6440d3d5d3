#include "fetch/json_values.h"

#include <cmath>

#include "ingest/row_fields.h"

namespace quillon::fetch::json {

namespace {

[[noreturn]] void Refuse(std::string_view what, std::string_view key) {
    throw ReplyRefused("'" + std::string(key) + "' is not " + std::string(what));
}

}  // namespace

bool IsNull(od::value& value) {
    const bool null = value.is_null();
    return null;
}

od::json_type TypeOf(od::value& value) {
    const od::json_type type = value.type();
    return type;
}

std::optional<double> NumberOrNull(od::value value, std::string_view key) {
    if (IsNull(value)) return std::nullopt;
    if (TypeOf(value) != od::json_type::number) Refuse("a number", key);
    const double number = value.get_double();
    return number;
}

std::optional<float> FigureOrNull(od::value value, std::string_view key) {
    const std::optional<double> number = NumberOrNull(value, key);
    if (!number) return std::nullopt;
    // Values beyond this are no prices or counts (and past float's range
    // there is no float to convert to).
    if (!(std::fabs(*number) <= import::fields::kLargestValue)) Refuse("a figure in range", key);
    return static_cast<float>(*number);
}

std::optional<std::int64_t> IntegerOrNull(od::value value, std::string_view key) {
    if (IsNull(value)) return std::nullopt;
    if (TypeOf(value) != od::json_type::number) Refuse("a number", key);
    const std::int64_t number = value.get_int64();
    return number;
}

std::optional<std::string_view> TextOrNull(od::value value, std::string_view key) {
    if (IsNull(value)) return std::nullopt;
    if (TypeOf(value) != od::json_type::string) Refuse("a text", key);
    const std::string_view text = value.get_string();
    return text;
}

float OptionFigure(od::value value, std::string_view key) {
    const std::optional<float> figure = FigureOrNull(value, key);
    return figure && *figure >= 0 ? *figure : -1;
}

bool ReadContract(od::value value, std::string_view key, import::OptionRow& option) {
    const std::optional<std::string_view> text = TextOrNull(value, key);
    const auto contract = text ? import::DecodeContractSymbol(*text) : std::nullopt;
    if (!contract) return false;
    option.Root = contract->Root;
    option.Expiration = contract->Expiration;
    option.Type = contract->Type;
    option.Strike = contract->Strike;
    return true;
}

}  // namespace quillon::fetch::json
