#include "results/source_figures.h"

#include <array>
#include <utility>

namespace quillon {

namespace {

// A figure of the stock page and the two filters that test it.
struct FigureFilters {
    const char* figure;
    FilterIndex minimum, maximum;
    bool tradierHasIt;
};

constexpr std::array<FigureFilters, 5> kServiceFigures{{
    {"P/E", TX_MinPE, TX_MaxPE, false},
    {"market cap (shares outstanding)", TX_MinMktCap, TX_MaxMktCap, false},
    {"volatility of the quote", TX_MinBeta, TX_MaxBeta, false},
    {"dividend yield", TX_MinYield, TX_MaxYield, false},
    {"52-week range", TX_MinRange, TX_MaxRange, true},
}};

bool Lacks(const FigureFilters& figure, QuoteSource source) {
    switch (source) {
        case QuoteSource::Exchange:
            return true;
        case QuoteSource::Tradier:
            return !figure.tradierHasIt;
        case QuoteSource::Server:
        case QuoteSource::Local:
            return false;
    }
    return false;
}

}  // namespace

std::vector<std::string> FiguresMissing(QuoteSource source) {
    std::vector<std::string> missing;
    for (const FigureFilters& figure : kServiceFigures) {
        if (Lacks(figure, source)) missing.emplace_back(figure.figure);
    }
    return missing;
}

std::vector<FilterIndex> FiltersWithoutFigures(const FilterValues& filters, QuoteSource source) {
    std::vector<FilterIndex> refused;
    for (const FigureFilters& figure : kServiceFigures) {
        if (!Lacks(figure, source)) continue;
        for (const FilterIndex index : {figure.minimum, figure.maximum}) {
            if (filters[index].InUse()) refused.push_back(index);
        }
    }
    return refused;
}

std::string SourceFilterRefusal(const FilterValues& filters, QuoteSource source) {
    const std::vector<FilterIndex> refused = FiltersWithoutFigures(filters, source);
    if (refused.empty()) return {};
    std::string names;
    for (const FilterIndex index : refused) {
        if (!names.empty()) names += ", ";
        names += kFilterNames[index];
    }
    std::string missing;
    for (const std::string& figure : FiguresMissing(source)) {
        if (!missing.empty()) missing += ", ";
        missing += figure;
    }
    return std::string(refused.size() == 1 ? "The filter " : "The filters ") + names +
           (refused.size() == 1 ? " tests a figure that " : " test figures that ") +
           QuoteSourceTitle(source) + (source == QuoteSource::Tradier ? " does" : " do") +
           " not give (" + missing + "), so every stock would fail " +
           (refused.size() == 1 ? "it. Clear it" : "them. Clear them") +
           " or choose another quote source.";
}

}  // namespace quillon
