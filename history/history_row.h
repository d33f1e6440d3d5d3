#pragma once
// What the history keeps of one symbol on one as-of date, and of one pass:
// plain figures, written by the scan and by quillon-history, read by the
// filters, the report line, the chart and the exports.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/civil_day.h"
#include "results/verdict.h"

namespace quillon {

// A date as the history keys it: YYYYMMDD (20251017), CivilDay::Number().
using HistoryDay = std::int32_t;

// 20251017 as "2025-10-17".
inline std::string HistoryDayText(HistoryDay day) {
    return CivilDay::FromNumber(day).IsoText();
}

// The figures of one symbol on one as-of date. A figure the quote or the
// chain did not give is nothing.
struct HistoryRow {
    std::string Symbol;
    HistoryDay Day = 0;
    std::int64_t PassId = 0;  // the pass that wrote the row; 0 for imports

    // The quote figures the filters use.
    std::optional<double> Last;
    std::optional<double> Change;
    std::optional<double> Volume;
    std::optional<double> High52;
    std::optional<double> Low52;
    std::optional<double> PeRatio;
    std::optional<double> Yield;
    std::optional<double> QuoteVolatility;  // the quote's own historical volatility
    std::optional<double> MarketCap;

    // The options: activity totals, ZOR and the 30-day implied volatility
    // (in volatility points: 31.5 means 31.5 %).
    std::optional<double> CallVolume;
    std::optional<double> PutVolume;
    std::optional<double> CallOpenInterest;
    std::optional<double> PutOpenInterest;
    std::optional<double> Zorc;
    std::optional<double> Zorp;
    std::optional<double> Iv30;
    std::optional<double> Iv30Call;
    std::optional<double> Iv30Put;
    std::optional<int> DaysToNear;  // days to the two expirations IV30 used
    std::optional<int> DaysToNext;

    // The verdict: UP, DOWN, SAVED (saved by the AND group alone), REJECTED
    // with the first test failed, or NOQUOTE; none where no row was read.
    std::optional<quillon::Verdict> Verdict;
    std::string FailedTest;
};

// One pass, finished or not.
struct HistoryPass {
    std::int64_t Id = 0;
    HistoryDay AsOf = 0;
    std::string Started;  // ISO 8601 local time, "2026-12-09T04:40:00"
    std::string Ended;    // empty while unfinished
    std::string Source;   // "server", "local", "exchange", "tradier", "import"
    std::string Filters;  // the filter values, one text (as the settings file keeps them)
    int Symbols = 0;      // symbols finished
    int Saved = 0;
    bool Finished = false;
    // Some symbols the pass went past have no row of it: its history
    // stopped for a while and the scan went on without it.
    bool Partial = false;
};

}  // namespace quillon
