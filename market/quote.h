#pragma once
// The current stock: its quote record, its option chain with the per-type
// totals, the presence flags and the page buffer the parsers scan. There is
// one instance, reset for every symbol.

#include <array>
#include <string>

#include "market/option_tables.h"

namespace quillon {

inline constexpr int kOptionTypes = 2;  // 0 calls, 1 puts
inline constexpr int kStrikeSlots = 5;  // positions in the strike table
inline constexpr int kMonthSlots = 4;   // positions in the calendar; 0 to 2 used
inline constexpr int kFilledMonthSlots = 3;

using Extended = long double;

struct QuoteRecord {
    std::string OptionRoot;
    std::string CompanyName;
    std::string LastTick;
    std::string Exchange;
    float LastSale = 0;
    std::string SaleTime;
    float OpenPrice = 0;
    float HighPrice = 0;
    float LowPrice = 0;
    Extended Volume = 0;
    float Bid = 0;
    float Ask = 0;
    std::string BidAskSize;
    float NetChange = 0;
    float PercentChange = 0;
    float PreviousClose = 0;
    float High52Week = 0;
    float Low52Week = 0;
    float HistVolatility = 0;
    std::string ExDividendDate;
    float Dividend = 0;
    std::string SpareText;
    float EarningsPerShare = 0;
    float PriceEarnings = 0;  // 100000 means not available
    float YieldPercent = 0;
    Extended SharesOutstanding = 0;
};

// Indexed [type][strike slot][month slot].
template <class T>
using ChainArray = std::array<std::array<std::array<T, kMonthSlots>, kStrikeSlots>, kOptionTypes>;

struct OptionChain {
    ChainArray<std::string> OptSymbol;
    ChainArray<float> OptLast{};
    ChainArray<float> OptColumn2{};
    ChainArray<float> OptBid{};
    ChainArray<float> OptAsk{};
    ChainArray<float> OptVolume{};
    ChainArray<float> OptOpenInterest{};
    ChainArray<float> OptZOR{};
    std::array<float, kOptionTypes> TotalVolume{};
    std::array<float, kOptionTypes> TotalOpenInterest{};
    std::array<float, kOptionTypes> TotalZOR{};
};

struct QuoteState {
    std::string Ticker;  // the symbol being processed
    QuoteRecord Quote;
    OptionChain Chain;
    bool HaveStockData = false;
    bool HaveOptionData = false;
    std::string PageText;  // the page being parsed; then the symbol's report
    int ScanPos = 1;       // 1-based cursor of the parsers in PageText
};

// The position of one option in the chain.
struct OptionEntry {
    int Type = 0;    // 0 calls, 1 puts
    int Strike = 0;  // strike slot 0 to 4
    int Month = 0;   // month slot 0 to 3
};

// The twelve options nearest the money, which the archive keeps and ZOR
// weighs: calls then puts, strike slots 1 to 3, month slots 0 and 1.
template <class Visit>
void ForEachNearMoneyOption(Visit visit) {
    for (int type = 0; type < kOptionTypes; ++type) {
        for (int strike = 1; strike <= 3; ++strike) {
            for (int month = 0; month <= 1; ++month)
                visit(OptionEntry{type, strike, month});
        }
    }
}

// Empties the quote record and the option chain (texts empty, numbers 0,
// chain entries -1, totals 0). Ticker, the presence flags and the page buffer
// stay. The scan rebuilds the calendar from today's date with every reset.
void ResetQuote(QuoteState& quote);

}  // namespace quillon
