#include "analytics/filters.h"

#include <gtest/gtest.h>

#include <string>

namespace quillon {
namespace {

FilterValue Num(double v) {
    return FilterValue::Number(v);
}
FilterValue Txt(const char* t) {
    return FilterValue::Text(t);
}
const FilterValue kNA = FilterValue::Text("NA");

struct ParseCase {
    std::string text;
    FilterValue expected;
};

TEST(ParseFilterValue, NumbersAndNonNumbers) {
    const ParseCase cases[] = {
        {"", kNA},
        {"   ", kNA},
        {"n/a", kNA},
        {"NA", kNA},
        {"abc", kNA},
        {"1.50", Num(1.5)},
        {"1e3", Num(1000)},
        {"1E3", Num(1000)},
        {" -2.5E-1 ", Num(-0.25)},
        {"+7", Num(7)},
        {"0", Num(0)},
        // A point with digits on one side only is a number; so is a sign
        // before a fraction without a leading digit.
        {"1.", Num(1)},
        {".5", Num(0.5)},
        {"+.5e+2", Num(50)},
        {"-.5", Num(-0.5)},
        // Not numbers: an exponent without digits, no mantissa digit, two
        // points, two signs, inner blanks, a comma, other spellings.
        {"1e", kNA},
        {"1e+", kNA},
        {"e3", kNA},
        {".", kNA},
        {"+", kNA},
        {"-.e1", kNA},
        {"1.2.3", kNA},
        {"--1", kNA},
        {"1 000", kNA},
        {"1,5", kNA},
        {"- 1", kNA},
        {"inf", kNA},
        {"nan", kNA},
        {"0x10", kNA},
        {"\t5 ", Num(5)},
        {"\n5", kNA},
        {std::string("5\0", 2), kNA},
        // Beyond the range of a 64-bit float: does not convert completely.
        {"1e999", kNA},
        {"1e-999", kNA},
        {"0e-999", Num(0)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseFilterValue(c.text), c.expected) << '"' << c.text << '"';
        EXPECT_EQ(IsNumberText(c.text), c.expected.IsNumber()) << '"' << c.text << '"';
    }
}

struct TextCase {
    FilterValue value;
    std::string text;
    bool inUse;
    double number;  // AsNumber when in use
};

TEST(FilterValue, TextFormInUseAndNumber) {
    const TextCase cases[] = {
        {FilterValue(), "", false, 0},
        {kNA, "NA", false, 0},
        {Num(250), "250", true, 250},
        {Num(1.5), "1.5", true, 1.5},
        {Num(-0.25), "-0.25", true, -0.25},
        {Num(1e20), "1e+20", true, 1e20},
        {Num(0.1 + 0.2), "0.3", true, 0.1 + 0.2},  // 15 significant digits
        {Txt("250"), "250", true, 250},
        {Txt(" 7 "), " 7 ", true, 7},
        {Txt("1.5x"), "1.5x", false, 0},
        {Txt(""), "", false, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.value.ToText(), c.text);
        EXPECT_EQ(c.value.InUse(), c.inUse) << c.text;
        if (c.inUse) {
            EXPECT_EQ(c.value.AsNumber(), c.number) << c.text;
        }
    }
}

TEST(FilterValue, EnteredNumberShowsInGeneralForm) {
    EXPECT_EQ(ParseFilterValue("1.50").ToText(), "1.5");
    EXPECT_EQ(ParseFilterValue("1e3").ToText(), "1000");
    EXPECT_EQ(ParseFilterValue("abc").ToText(), "NA");
}

// The expected values after a template: all "NA" with the given changes.
FilterSettings Expected(std::initializer_list<std::pair<FilterIndex, FilterValue>> changes) {
    FilterSettings s;
    for (auto& v : s.Values)
        v = kNA;
    s.DeriveZorFrom = 1;
    for (const auto& [index, value] : changes)
        s.Values[index] = value;
    return s;
}

struct TemplateCase {
    FilterTemplate which;
    FilterSettings expected;
};

TEST(ApplyFilterTemplate, EachTemplateExactly) {
    const TemplateCase cases[] = {
        {FilterTemplate::DefaultSetting, Expected({{TX_MinOptInt, Num(250)},
                                                   {TX_MinCallPutRatio, Num(8)},
                                                   {TX_MinPutCallRatio, Num(8)}})},
        {FilterTemplate::ForBuyingStocks,
         Expected({{TX_MinOptInt, Num(250)}, {TX_MinCallPutRatio, Num(8)}})},
        {FilterTemplate::ForSellingStocks,
         Expected({{TX_MinOptInt, Num(250)}, {TX_MinPutCallRatio, Num(8)}})},
        {FilterTemplate::ForLowPEStocks, Expected({{TX_MinPE, Txt("0")}, {TX_MaxPE, Txt("7")}})},
        {FilterTemplate::ForHighYieldStocks, Expected({{TX_MinYield, Txt("5")}})},
    };
    for (const auto& c : cases) {
        // Start from values every template must overwrite.
        FilterSettings s;
        for (auto& v : s.Values)
            v = Num(3);
        s.DeriveZorFrom = 0;
        ApplyFilterTemplate(s, c.which);
        EXPECT_EQ(s.DeriveZorFrom, c.expected.DeriveZorFrom);
        for (std::size_t i = 0; i < kFilterCount; ++i) {
            EXPECT_EQ(s.Values[i], c.expected.Values[i])
                << kFilterTemplateNames[static_cast<std::size_t>(c.which)] << ' '
                << kFilterNames[i];
        }
    }
}

TEST(ApplyFilterTemplate, LowPEClosedInDialogLeavesOnlyPELimits) {
    FilterSettings s;
    ApplyFilterTemplate(s, FilterTemplate::ForLowPEStocks);
    // Closing the dialog stores each edit's text through ParseFilterValue.
    for (auto& v : s.Values)
        v = ParseFilterValue(v.ToText());
    for (std::size_t i = 0; i < kFilterCount; ++i) {
        EXPECT_EQ(s.Values[i].InUse(), i == TX_MinPE || i == TX_MaxPE) << kFilterNames[i];
    }
    EXPECT_EQ(s.Values[TX_MinPE], Num(0));
    EXPECT_EQ(s.Values[TX_MaxPE], Num(7));
}

}  // namespace
}  // namespace quillon
