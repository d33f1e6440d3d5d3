#include "analytics/filters.h"

#include "platform/number_format.h"
#include "platform/number_read.h"

namespace quillon {

const std::array<const char*, kFilterCount> kFilterNames = {
    "TX_MinPE",     "TX_MaxPE",     "TX_MinMktCap",       "TX_MaxMktCap",
    "TX_MinVolume", "TX_MaxVolume", "TX_MinLast",         "TX_MaxLast",
    "TX_MinBeta",   "TX_MaxBeta",   "TX_MinPctChange",    "TX_MaxPctChange",
    "TX_MinYield",  "TX_MaxYield",  "TX_MinRange",        "TX_MaxRange",
    "TX_MinOptVol", "TX_MinOptInt", "TX_MinCallPutRatio", "TX_MinPutCallRatio"};

const std::array<const char*, 5> kFilterTemplateNames = {"Default Setting", "For Buying Stocks",
                                                         "For Selling Stocks", "For Low P/E Stocks",
                                                         "For High Yield Stocks"};

std::string FilterTemplateList() {
    std::string text;
    for (std::size_t i = 0; i < kFilterTemplateNames.size(); ++i)
        text += "  " + std::to_string(i) + "   " + kFilterTemplateNames[i] + "\n";
    return text;
}

namespace {

constexpr const char* kNotAvailable = "NA";

}  // namespace

std::string FilterValue::ToText() const {
    if (const auto* number = std::get_if<double>(&value_)) return FormatGeneral(*number);
    if (const auto* text = std::get_if<std::string>(&value_)) return *text;
    return {};
}

bool FilterValue::InUse() const {
    return IsNumberText(ToText());
}

double FilterValue::AsNumber() const {
    if (const auto* number = std::get_if<double>(&value_)) return *number;
    return ParseDecimalNumber(ToText()).value_or(0.0);
}

FilterValue ParseFilterValue(std::string_view text) {
    if (const auto number = ParseDecimalNumber(text)) return FilterValue::Number(*number);
    return FilterValue::Text(kNotAvailable);
}

void ClearFilters(FilterSettings& filters) {
    for (auto& value : filters.Values)
        value = FilterValue::Text(kNotAvailable);
    filters.DeriveZorFrom = 1;
}

void SetDefaultFilters(FilterSettings& filters) {
    ClearFilters(filters);
    filters.Values[TX_MinOptInt] = FilterValue::Number(250);
    filters.Values[TX_MinCallPutRatio] = FilterValue::Number(8);
    filters.Values[TX_MinPutCallRatio] = FilterValue::Number(8);
}

void ApplyFilterTemplate(FilterSettings& filters, FilterTemplate which) {
    switch (which) {
        case FilterTemplate::DefaultSetting:
            SetDefaultFilters(filters);
            break;
        case FilterTemplate::ForBuyingStocks:
            // Only the call/put ratio stays: ZORC at least eight times ZORP.
            SetDefaultFilters(filters);
            filters.Values[TX_MinPutCallRatio] = FilterValue::Text(kNotAvailable);
            break;
        case FilterTemplate::ForSellingStocks:
            // Only the put/call ratio stays: ZORP at least eight times ZORC.
            SetDefaultFilters(filters);
            filters.Values[TX_MinCallPutRatio] = FilterValue::Text(kNotAvailable);
            break;
        case FilterTemplate::ForLowPEStocks:
            // Texts, as typed into the dialog; they count as in use all the same.
            ClearFilters(filters);
            filters.Values[TX_MinPE] = FilterValue::Text("0");
            filters.Values[TX_MaxPE] = FilterValue::Text("7");
            break;
        case FilterTemplate::ForHighYieldStocks:
            ClearFilters(filters);
            filters.Values[TX_MinYield] = FilterValue::Text("5");
            break;
    }
}

}  // namespace quillon
