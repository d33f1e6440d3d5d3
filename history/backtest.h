#pragma once
// The back-test: a set of filters judged on every recorded day of History.db
// as the scan would have judged the day's figures, and what each saved stock
// (a pick) did next, against every stock recorded that day (the universe).
//
// History.db is read in one pass, day by day in date order (a block of days
// read ahead, HistoryDayStream::ForEachDay). What is held: those rows, each
// symbol's last sales over the longest horizon and its IV30 over the IV
// window, the picks of the last (longest horizon) days waiting for their
// forward prices, and the returns gathered for the report (binned past a
// limit); never the years behind. A day's verdicts read that day's row
// alone, and its IV rank and IV percentile the IV30 of the symbol's earlier
// recorded days and the day's own: nothing after the day.
//
// Returns are in percent: from the last sale recorded on the signal's day
// (the entry) to the last sale recorded N trading days later, a trading day
// being a date History.db holds rows of. A pick without a forward price (the
// symbol is not recorded then, is recorded without a last sale, or the day
// lies past the last recorded date) is counted missing for that horizon.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analytics/filters.h"
#include "analytics/iv_history.h"
#include "history/history_access.h"
#include "history/history_row.h"
#include "results/screen.h"
#include "results/settings.h"
#include "results/verdict.h"

namespace quillon {

// The figures the filters read of a recorded row, as the scan compared them:
// a row's doubles hold the scan's floats exactly; the volume is divided by
// 1000 in long double as the scan does; a figure the row lacks is the scan's
// 0 (a P/E ratio the quote had not: 100000; a volume: the "Volume" test).
ScreenFigures ScreenFiguresOfRow(const HistoryRow& row);

// The p quantile (0 to 1) of `sorted` (ascending, not empty) by linear
// interpolation between order statistics: with h = p * (n - 1), k its whole
// part and f the rest, x[k] + f * (x[k + 1] - x[k]).
double Quantile(const std::vector<double>& sorted, double p);

// Returns gathered for a report line: exact up to a limit of values, then
// counted in bins of 0.01 percentage points from -1000 to +1000 (the extremes
// kept apart), so that memory stays bounded however many years are read.
// The mean is always exact.
//
// A value may carry a weight (the universe beside a line of picks weighs each
// day's members by the picks of that day); the figures are then those of the
// weighted sample: its mean, the share of its weight above 0, and quantiles
// by WeightedQuantile. Without weights every value weighs 1 and the figures
// are the plain ones.
class ReturnSample {
  public:
    explicit ReturnSample(std::size_t exactLimit = 200000) : exactLimit_(exactLimit) {}
    void Add(double value, double weight = 1);
    // Add(sign * value, weight) for every value.
    void AddAll(const std::vector<double>& values, double sign, double weight);
    // Adds every value of `other`, as if each had been added here.
    void Merge(const ReturnSample& other);
    long long Count() const { return count_; }
    double Mean() const { return weight_ > 0 ? sum_ / weight_ : 0; }
    // The share of values above 0, in percent.
    double HitRate() const;
    // As Quantile() (WeightedQuantile() once weighted) over every value
    // added; within about 0.01 once binned.
    double QuantileOf(double p);
    bool Approximate() const { return binned_; }

  private:
    void ToBins();
    void BecomeWeighted();
    std::size_t exactLimit_;
    long long count_ = 0;
    double weight_ = 0;  // the sum of the weights
    double above_ = 0;   // of those, the values' above 0
    double sum_ = 0;     // of each value times its weight
    bool binned_ = false;
    bool sorted_ = true;
    bool weighted_ = false;  // a weight other than 1 was added
    std::vector<double> values_;
    std::vector<double> weights_;  // beside values_, once weighted
    // Once binned: the values in each bin, or their weight once weighted
    // (a float, as the old counts took 4 bytes: the quantiles read from the
    // bins are within a bin anyway, the mean and hit rate kept apart).
    std::vector<std::uint32_t> bins_;
    std::vector<float> weightBins_;
    // Values below and above the binned range, with their weights.
    std::vector<std::pair<double, double>> low_, high_;
    // A weighted sample's values and weights in order, for its quantiles.
    std::vector<std::pair<double, double>> ordered_;
    bool orderedValid_ = false;
};

// The p quantile (0 to 1) of values with positive weights, `sorted` by value:
// each value stands at the middle of its weight laid end to end, and the
// quantile is read by linear interpolation along those positions, the first
// value at p = 0 and the last at p = 1. With equal weights this is
// Quantile().
double WeightedQuantile(const std::vector<std::pair<double, double>>& sorted, double p);

// A symbol's IV30 of its last days that had one, for IV rank and IV
// percentile with a day's own IV30: the figures IvRankAndPercentile gives for
// the window followed by today's, without copying the window.
class IvWindow {
  public:
    // `days`: the earlier days kept (the IV window less today).
    explicit IvWindow(std::size_t days) : ring_(days) {}
    void Push(double iv30);
    std::size_t Size() const { return size_; }
    IvStanding StandingWith(double today) const;

  private:
    std::vector<double> ring_;  // the oldest at head_ once full
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

// One line of the report: the returns of a horizon over some picks or over
// the universe of the same days.
struct ReturnStats {
    long long Count = 0;  // returns (signals with a forward price)
    double HitRate = 0;   // percent of returns above 0
    double Mean = 0, Median = 0, Q10 = 0, Q25 = 0, Q75 = 0, Q90 = 0;  // percent
    bool Approximate = false;                                         // quantiles from the bins
};

// Picks of one group (every pick, UP or DOWN) for one horizon.
struct GroupResult {
    long long Signals = 0;  // picks, with or without a forward price
    int Days = 0;           // distinct days with a pick
    long long Missing = 0;  // picks without a forward price
    ReturnStats Picks;
    // Every symbol recorded with a last sale on the same days, counted as the
    // picks are: members with or without a forward price, and those without.
    // Its figures weigh each day's members by the day's picks with a return
    // (each pick the same), signed as each pick: so its Mean is the mean
    // over those picks of their day's universe mean return.
    ReturnStats Universe;           // Count: the members with a return
    long long UniverseSignals = 0;  // members of the days
    long long UniverseMissing = 0;  // of those, recorded without a forward price
    // The picks' mean excess over the universe of their days: Picks.Mean
    // less Universe.Mean (percentage points), over the days with a return.
    double MeanExcess = 0;
    int ExcessDays = 0;
};

enum BacktestGroup : std::size_t { kEveryPick, kUpPicks, kDownPicks, kBacktestGroups };
extern const std::array<const char*, kBacktestGroups> kBacktestGroupNames;  // all, UP, DOWN

struct HorizonResult {
    int Horizon = 0;  // recorded trading days
    // DOWN picks count with their sign turned (as a put buyer sees them), in
    // kEveryPick too; the universe beside a line is signed as each pick of
    // its day: turned beside a DOWN pick, as it is beside an UP one.
    std::array<GroupResult, kBacktestGroups> Every;
    // The non-overlapping subsample: a signal is kept for this horizon only
    // when its symbol had no kept signal in the Horizon recorded trading
    // days before it.
    std::array<GroupResult, kBacktestGroups> NonOverlapping;
    // The screen traded: an entry every Horizon judged days from the first
    // (positions 0, Horizon, 2 Horizon, ...), none overlapping the next;
    // each entry's excess is the mean over the day's picks with a return of
    // the pick's return less its day's universe mean, signed as the pick (0
    // on a day without one). Per judged day (BacktestReport::Days): the sum
    // of the entries' excess up to that day; NaN from the first entry whose
    // forward prices lie past the last recorded date.
    std::vector<double> CumulativeExcess;
};

// A pick, once its forward prices are known.
struct BacktestSignal {
    HistoryDay Day = 0;
    std::string Symbol;
    quillon::Verdict Verdict = quillon::Verdict::Saved;
    const char* Rule = "";                       // as ScreenOutcome::Rule
    double Entry = 0;                            // the day's last sale
    std::vector<std::optional<double>> Returns;  // percent, per horizon
    std::vector<bool> Kept;                      // in the non-overlapping subsample, per horizon
};

struct BacktestOptions {
    FilterValues Filters;
    HistorySettings History;  // the IV rank and IV percentile filters and their window
    HistoryDay From = 0;
    HistoryDay To = 99991231;
    std::vector<int> Horizons = {1, 5, 10, 20};  // ascending, each 1 or more
    std::size_t ExactLimit = 200000;             // exact quantiles up to this many returns
    // After each recorded day read: days read so far, and how many there are.
    std::function<void(int done, int total)> Progress;
    // Each pick once its forward prices are known, by day and symbol.
    std::function<void(const BacktestSignal&)> Signal;
    // Every row judged, with its verdict, as it is judged. The row holds the
    // figures the filters in use read, its last sale and its volume; the
    // others are not read.
    std::function<void(const HistoryRow&, const ScreenOutcome&)> Judged;
};

struct BacktestReport {
    std::vector<HistoryDay> Days;  // the recorded days judged, oldest first
    long long Rows = 0;            // rows judged (those with a quote)
    long long Symbols = 0;         // distinct symbols among them
    HistoryDay LastRecorded = 0;   // the last recorded day read
    int ImportedDays = 0;          // judged days holding rows from imported files
    bool IvFiltersInUse = false;
    std::vector<HorizonResult> Horizons;
    // The judged days no pass has ended whole (a scan may still be writing
    // them): their figures may be incomplete.
    std::vector<HistoryDay> PartialDays;
};

// Runs the back-test over `store`, all of it read as of one moment. False
// with `error` set when History.db cannot be read or the options are unusable (no horizon, one
// below 1).
bool RunBacktest(const HistoryDayStream& store, const BacktestOptions& options,
                 BacktestReport& report, std::string& error);

}  // namespace quillon
