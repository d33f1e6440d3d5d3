#pragma once
// The 20 filter values, the rule that decides which are in use, the
// defaults and the five templates.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform/number_read.h"

namespace quillon {

// A tagged value: nothing, a number, or a text.
class FilterValue {
  public:
    FilterValue() = default;
    static FilterValue Number(double v) { return FilterValue(v); }
    static FilterValue Text(std::string t) { return FilterValue(std::move(t)); }

    bool IsEmpty() const { return std::holds_alternative<std::monostate>(value_); }
    bool IsNumber() const { return std::holds_alternative<double>(value_); }
    bool IsText() const { return std::holds_alternative<std::string>(value_); }

    // The text form: a text unchanged, a number in its general form with up
    // to 15 significant digits (250, 8, 1.5), an empty value as "".
    std::string ToText() const;

    // True when the text form converts completely to a number.
    bool InUse() const;

    // The number the filter compares with; only meaningful when InUse().
    double AsNumber() const;

    bool operator==(const FilterValue&) const = default;

  private:
    explicit FilterValue(double v) : value_(v) {}
    explicit FilterValue(std::string t) : value_(std::move(t)) {}
    std::variant<std::monostate, double, std::string> value_;
};

// Indexes of the 20 values, in settings-file order.
enum FilterIndex : std::size_t {
    TX_MinPE,
    TX_MaxPE,
    TX_MinMktCap,
    TX_MaxMktCap,
    TX_MinVolume,
    TX_MaxVolume,
    TX_MinLast,
    TX_MaxLast,
    TX_MinBeta,
    TX_MaxBeta,
    TX_MinPctChange,
    TX_MaxPctChange,
    TX_MinYield,
    TX_MaxYield,
    TX_MinRange,
    TX_MaxRange,
    TX_MinOptVol,
    TX_MinOptInt,
    TX_MinCallPutRatio,
    TX_MinPutCallRatio,
    kFilterCount
};

// Names of the values as the edit boxes of the filter dialog carry them.
extern const std::array<const char*, kFilterCount> kFilterNames;

using FilterValues = std::array<FilterValue, kFilterCount>;

// The filter values and the price ZOR is derived from (0 = "Last price",
// 1 = "Ask price"; any value other than 0 reads as "Ask price").
struct FilterSettings {
    FilterValues Values;
    int DeriveZorFrom = 1;
};

// The number when the whole text is a decimal number, otherwise the text "NA".
FilterValue ParseFilterValue(std::string_view text);

void ClearFilters(FilterSettings& filters);
void SetDefaultFilters(FilterSettings& filters);

// The templates of the filter dialog, in the order of its list.
enum class FilterTemplate {
    DefaultSetting,
    ForBuyingStocks,
    ForSellingStocks,
    ForLowPEStocks,
    ForHighYieldStocks
};
extern const std::array<const char*, 5> kFilterTemplateNames;
// The templates as the programs' --help lists them, a line each:
// "  0   Default Setting\n".
std::string FilterTemplateList();
void ApplyFilterTemplate(FilterSettings& filters, FilterTemplate which);

}  // namespace quillon
