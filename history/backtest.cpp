#include "history/backtest.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "analytics/iv_history.h"

namespace quillon {

const std::array<const char*, kBacktestGroups> kBacktestGroupNames = {"all", "UP", "DOWN"};

namespace {

constexpr float kNoPriceEarnings = 100000;  // the quote's "not available"

double Or0(const std::optional<double>& value) {
    return value.value_or(0);
}

}  // namespace

ScreenFigures ScreenFiguresOfRow(const HistoryRow& row) {
    ScreenFigures x;
    x.HaveVolume = row.Volume.has_value();
    // The scan divides its long double volume; the row holds it exactly.
    x.VolumeThousands = static_cast<double>(static_cast<long double>(Or0(row.Volume)) / 1000);
    x.PriceEarnings = row.PeRatio ? *row.PeRatio : static_cast<double>(kNoPriceEarnings);
    x.MarketCap = Or0(row.MarketCap);
    x.Last = Or0(row.Last);
    x.QuoteVolatility = Or0(row.QuoteVolatility);
    x.PercentChange = Or0(row.Change);
    x.Yield = Or0(row.Yield);
    x.High52 = Or0(row.High52);
    x.Low52 = Or0(row.Low52);
    x.SmallerOptionVolume = std::min(Or0(row.CallVolume), Or0(row.PutVolume));
    x.SmallerOptionOpenInterest = std::min(Or0(row.CallOpenInterest), Or0(row.PutOpenInterest));
    x.Zorc = Or0(row.Zorc);
    x.Zorp = Or0(row.Zorp);
    return x;
}

namespace {

// One report line being gathered.
struct Tally {
    long long signals = 0;
    int days = 0;
    long long missing = 0;
    long long universeSignals = 0;
    long long universeMissing = 0;
    int excessDays = 0;
    ReturnSample picks, universe;
    explicit Tally(std::size_t limit) : picks(limit), universe(limit) {}
};

ReturnStats StatsOf(ReturnSample& sample) {
    ReturnStats stats;
    stats.Count = sample.Count();
    if (stats.Count == 0) return stats;
    stats.HitRate = sample.HitRate();
    stats.Mean = sample.Mean();
    stats.Median = sample.QuantileOf(0.5);
    stats.Q10 = sample.QuantileOf(0.1);
    stats.Q25 = sample.QuantileOf(0.25);
    stats.Q75 = sample.QuantileOf(0.75);
    stats.Q90 = sample.QuantileOf(0.9);
    stats.Approximate = sample.Approximate();
    return stats;
}

GroupResult ResultOf(Tally& tally) {
    GroupResult result;
    result.Signals = tally.signals;
    result.Days = tally.days;
    result.Missing = tally.missing;
    result.Picks = StatsOf(tally.picks);
    result.Universe = StatsOf(tally.universe);
    // A day's members go into the sample once per sign of its picks (and
    // not at all beside picks without a return): they are counted apart.
    result.Universe.Count = tally.universeSignals - tally.universeMissing;
    result.UniverseSignals = tally.universeSignals;
    result.UniverseMissing = tally.universeMissing;
    result.ExcessDays = tally.excessDays;
    // Both means weigh each pick with a return the same, the universe's
    // through its day: their difference is the mean of the picks' excess.
    if (result.Picks.Count > 0) result.MeanExcess = result.Picks.Mean - result.Universe.Mean;
    return result;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// What the run keeps of a symbol.
struct SymbolState {
    // The last sales of the last recorded days, by day index modulo their
    // number (the longest horizon + 1): (day index, last sale or NaN).
    std::vector<std::pair<int, double>> sales;
    // The IV30 of the last days that had one (the IV window less today).
    IvWindow iv{0};
    // The day index of the last kept signal, per horizon; -1 for none.
    std::vector<int> lastKept;

    double SaleOn(int index) const {
        const auto& slot = sales[static_cast<std::size_t>(index) % sales.size()];
        return slot.first == index ? slot.second : kNaN;
    }
};

struct PendingSignal {
    BacktestSignal signal;
    const SymbolState* state = nullptr;
};

// A judged day whose picks wait for their forward prices.
struct PendingDay {
    int index = 0;           // among the recorded days read
    int position = 0;        // among the judged days
    long long universe = 0;  // symbols recorded with a last sale
    std::vector<PendingSignal> signals;
};

double SignOf(Verdict verdict) {
    return verdict == Verdict::SavedDown ? -1.0 : 1.0;
}

// The figures of a row the filters in use read, with the last sale the
// returns read and the volume whose absence fails the AND group.
std::vector<HistoryDayStream::RowFigure> FiguresRead(const ScreenRules& rules) {
    std::vector<HistoryDayStream::RowFigure> figures = {&HistoryRow::Last, &HistoryRow::Volume};
    const auto& b = rules.Bounds;
    const auto use = [&](FilterIndex a, FilterIndex z,
                         std::initializer_list<HistoryDayStream::RowFigure> read) {
        if (b[a] || b[z]) figures.insert(figures.end(), read);
    };
    use(TX_MinPE, TX_MaxPE, {&HistoryRow::PeRatio});
    use(TX_MinMktCap, TX_MaxMktCap, {&HistoryRow::MarketCap});
    use(TX_MinBeta, TX_MaxBeta, {&HistoryRow::QuoteVolatility});
    use(TX_MinPctChange, TX_MaxPctChange, {&HistoryRow::Change});
    use(TX_MinYield, TX_MaxYield, {&HistoryRow::Yield});
    use(TX_MinRange, TX_MaxRange, {&HistoryRow::High52, &HistoryRow::Low52});
    use(TX_MinOptVol, TX_MinOptVol, {&HistoryRow::CallVolume, &HistoryRow::PutVolume});
    use(TX_MinOptInt, TX_MinOptInt, {&HistoryRow::CallOpenInterest, &HistoryRow::PutOpenInterest});
    if (rules.RatioFiltersActive || b[TX_MinCallPutRatio] || b[TX_MinPutCallRatio]) {
        figures.insert(figures.end(), {&HistoryRow::Zorc, &HistoryRow::Zorp});
    }
    if (rules.IvFiltersInUse) figures.push_back(&HistoryRow::Iv30);
    return figures;
}

bool InGroup(std::size_t group, Verdict verdict) {
    if (group == kUpPicks) return verdict == Verdict::SavedUp;
    if (group == kDownPicks) return verdict == Verdict::SavedDown;
    return true;
}

class Run {
  public:
    Run(const BacktestOptions& options, BacktestReport& report)
        : options_(options),
          report_(report),
          rules_(ScreenRules::Of(options.Filters, options.History)),
          windowDays_(options.History.WindowDays()),
          maxHorizon_(options.Horizons.back()) {
        const std::size_t n = options.Horizons.size();
        for (std::size_t k = 0; k < n; ++k) {
            tallies_.emplace_back();
            for (std::size_t i = 0; i < 2 * kBacktestGroups; ++i)
                tallies_.back().emplace_back(options.ExactLimit);
            dayExcess_.emplace_back();
        }
        universeReturns_.resize(n);
        universeUp_.resize(n);
        universeDown_.resize(n);
    }

    void Passes(const std::vector<HistoryPass>& passes) {
        for (const HistoryPass& pass : passes) {
            if (pass.Source == "import") importPasses_.insert(pass.Id);
        }
    }

    // One recorded day; false once nothing more is needed.
    bool Day(HistoryDay day, std::vector<HistoryRow>& rows) {
        const int t = index_;
        const bool judged = day >= options_.From && day <= options_.To;
        // Past the last day judged, days are read only for the forward
        // prices still missing.
        if (day > options_.To && (pending_.empty() || t - pending_.back().index > maxHorizon_)) {
            return false;
        }
        ++index_;
        report_.LastRecorded = day;
        for (auto& returns : universeReturns_)
            returns.clear();

        walk_ = 0;
        today_.clear();
        PendingDay today;
        today.index = t;
        today.position = static_cast<int>(report_.Days.size());
        bool imported = false;
        for (HistoryRow& row : rows) {
            SymbolState& state = StateOf(row.Symbol);
            const double last = row.Last && *row.Last > 0 ? *row.Last : kNaN;
            ForwardReturns(state, t, last);
            if (judged && row.Last) {
                ++report_.Rows;
                if (row.PassId == 0 || importPasses_.count(row.PassId) > 0) imported = true;
                if (last > 0) ++today.universe;
                Judge(row, state, t, last, today);
            }
            state.sales[static_cast<std::size_t>(t) % state.sales.size()] = {t, last};
            if (row.Iv30) state.iv.Push(*row.Iv30);
        }
        std::swap(yesterday_, today_);
        if (judged) {
            report_.Days.push_back(day);
            if (imported) ++report_.ImportedDays;
            for (auto& excess : dayExcess_)
                excess.push_back(kNaN);
            pending_.push_back(std::move(today));
        }
        // Today is the forward day of the pending days a horizon back.
        for (std::size_t k = 0; k < options_.Horizons.size(); ++k) {
            PendingDay* back = PendingAt(t - options_.Horizons[k]);
            if (back != nullptr) Settle(*back, k, t, true);
        }
        while (!pending_.empty() && t - pending_.front().index >= maxHorizon_) {
            Emit(pending_.front());
            pending_.pop_front();
        }
        return true;
    }

    // The days left whose forward prices lie past the last recorded date.
    void Finish() {
        const int last = index_ - 1;
        for (PendingDay& day : pending_) {
            for (std::size_t k = 0; k < options_.Horizons.size(); ++k) {
                if (day.index + options_.Horizons[k] > last) Settle(day, k, last, false);
            }
            Emit(day);
        }
        pending_.clear();
        report_.Symbols = static_cast<long long>(symbols_.size());
        report_.IvFiltersInUse = rules_.IvFiltersInUse;
        for (std::size_t k = 0; k < options_.Horizons.size(); ++k) {
            HorizonResult result;
            result.Horizon = options_.Horizons[k];
            for (std::size_t line = 0; line < 2 * kBacktestGroups; ++line) {
                Tally& tally = tallies_[k][line];
                for (const auto* samples : {&universeUp_[k], &universeDown_[k]}) {
                    for (const auto& [lines, sample] : *samples) {
                        if (lines & (1u << line)) tally.universe.Merge(sample);
                    }
                }
            }
            for (std::size_t g = 0; g < kBacktestGroups; ++g) {
                result.Every[g] = ResultOf(tallies_[k][g]);
                result.NonOverlapping[g] = ResultOf(tallies_[k][kBacktestGroups + g]);
            }
            // An entry every Horizon judged days, its excess carried to the
            // days up to the next entry; NaN from an entry without its
            // forward prices on.
            const auto every = static_cast<std::size_t>(result.Horizon);
            double sum = 0;
            for (std::size_t d = 0; d < dayExcess_[k].size(); ++d) {
                if (d % every == 0) sum += dayExcess_[k][d];
                result.CumulativeExcess.push_back(sum);
            }
            report_.Horizons.push_back(std::move(result));
        }
    }

  private:
    // The state of `symbol`. A day's rows come by symbol, mostly the symbols
    // of the day before, so that day's list is walked beside them and the map
    // is asked only for the others.
    SymbolState& StateOf(const std::string& symbol) {
        while (walk_ < yesterday_.size() && *yesterday_[walk_].first < symbol)
            ++walk_;
        if (walk_ < yesterday_.size() && *yesterday_[walk_].first == symbol) {
            today_.push_back(yesterday_[walk_++]);
            return *today_.back().second;
        }
        auto [it, added] = symbols_.try_emplace(symbol);
        SymbolState& state = it->second;
        if (added) {
            state.sales.assign(static_cast<std::size_t>(maxHorizon_) + 1, {-1, kNaN});
            state.lastKept.assign(options_.Horizons.size(), -1);
            if (rules_.IvFiltersInUse)
                state.iv = IvWindow(static_cast<std::size_t>(windowDays_ - 1));
        }
        today_.emplace_back(&it->first, &state);
        return state;
    }

    IvStanding StandingOf(const SymbolState& state, const HistoryRow& row) {
        if (!row.Iv30) {
            IvStanding none;
            none.Days = static_cast<int>(state.iv.Size());
            return none;
        }
        return state.iv.StandingWith(*row.Iv30);
    }

    void Judge(const HistoryRow& row, SymbolState& state, int t, double last, PendingDay& today) {
        const ScreenOutcome outcome =
            Screen(rules_, ScreenFiguresOfRow(row), [&] { return StandingOf(state, row); });
        if (options_.Judged) options_.Judged(row, outcome);
        if (outcome.Verdict == Verdict::Rejected) return;
        PendingSignal pick;
        pick.state = &state;
        BacktestSignal& s = pick.signal;
        s.Day = row.Day;
        s.Symbol = row.Symbol;
        s.Verdict = outcome.Verdict;
        s.Rule = outcome.Rule;
        s.Entry = last > 0 ? last : 0;
        s.Returns.assign(options_.Horizons.size(), std::nullopt);
        s.Kept.assign(options_.Horizons.size(), false);
        for (std::size_t k = 0; k < options_.Horizons.size(); ++k) {
            int& kept = state.lastKept[k];
            if (kept < 0 || t - kept >= options_.Horizons[k]) {
                s.Kept[k] = true;
                kept = t;
            }
        }
        today.signals.push_back(std::move(pick));
    }

    // The universe's returns into today from the pending days a horizon
    // back that have picks.
    void ForwardReturns(const SymbolState& state, int t, double last) {
        if (!(last > 0)) return;
        for (std::size_t k = 0; k < options_.Horizons.size(); ++k) {
            const PendingDay* back = PendingAt(t - options_.Horizons[k]);
            if (back == nullptr || back->signals.empty()) continue;
            const double entry = state.SaleOn(back->index);
            if (entry > 0) universeReturns_[k].push_back((last / entry - 1) * 100);
        }
    }

    PendingDay* PendingAt(int index) {
        if (pending_.empty() || index < pending_.front().index) return nullptr;
        // Judged days are consecutive among the days read.
        const auto offset = static_cast<std::size_t>(index - pending_.front().index);
        if (offset >= pending_.size()) return nullptr;
        return &pending_[offset];
    }

    // Horizon k of `day` is settled at recorded day `t`; `forward` is false
    // when that day lies past the last recorded date.
    // Counts of the picks with a return, per report line.
    using LinePicks = std::array<long long, 2 * kBacktestGroups>;

    void Settle(PendingDay& day, std::size_t k, int t, bool forward) {
        if (day.signals.empty()) {
            if (forward) dayExcess_[k][static_cast<std::size_t>(day.position)] = 0;
            return;
        }
        const std::vector<double>& universe = universeReturns_[k];
        double universeMean = 0;
        for (double u : universe)
            universeMean += u;
        if (!universe.empty()) universeMean /= static_cast<double>(universe.size());

        for (PendingSignal& pick : day.signals) {
            BacktestSignal& s = pick.signal;
            if (!forward || !(s.Entry > 0)) continue;
            const double price = pick.state->SaleOn(t);
            if (price > 0) s.Returns[k] = (price / s.Entry - 1) * 100;
        }
        // Per report line, the picks with a return, UP and DOWN apart.
        LinePicks ups{}, downs{};
        for (std::size_t sample = 0; sample < 2; ++sample) {
            for (std::size_t g = 0; g < kBacktestGroups; ++g)
                TallyLine(day, k, sample, g, universeMean, forward, ups, downs);
        }
        if (universe.empty()) return;
        AddUniverse(k, ups, universeUp_[k], 1);
        AddUniverse(k, downs, universeDown_[k], -1);
    }

    // The day's picks of report line (`sample`, `g`) at horizon k into its
    // tally, with their mean excess over the universe.
    void TallyLine(const PendingDay& day, std::size_t k, std::size_t sample, std::size_t g,
                   double universeMean, bool forward, LinePicks& ups, LinePicks& downs) {
        const std::size_t line = sample * kBacktestGroups + g;
        Tally& tally = tallies_[k][line];
        long long picks = 0;
        double excess = 0;
        int withReturn = 0;
        for (const PendingSignal& pick : day.signals) {
            const BacktestSignal& s = pick.signal;
            if (!InGroup(g, s.Verdict) || (sample == 1 && !s.Kept[k])) continue;
            ++picks;
            const std::optional<double>& r = s.Returns[k];
            if (!r) {
                ++tally.missing;
                continue;
            }
            const double sign = SignOf(s.Verdict);
            tally.picks.Add(sign * *r);
            excess += sign * (*r - universeMean);
            ++withReturn;
            ++(sign > 0 ? ups : downs)[line];
        }
        if (picks == 0) return;
        tally.signals += picks;
        ++tally.days;
        // The universe beside the picks is counted as they are: every
        // member, and those without a forward price (all of them on a day
        // past the last recorded date).
        tally.universeSignals += day.universe;
        if (!forward) {
            tally.universeMissing += day.universe;
            return;
        }
        tally.universeMissing += day.universe - static_cast<long long>(universeReturns_[k].size());
        if (withReturn > 0) {
            ++tally.excessDays;
            if (sample == 0 && g == kEveryPick) {
                dayExcess_[k][static_cast<std::size_t>(day.position)] = excess / withReturn;
            }
        } else if (sample == 0 && g == kEveryPick) {
            dayExcess_[k][static_cast<std::size_t>(day.position)] = 0;
        }
    }

    // The day's universe beside each line: each member weighs (picks with a
    // return) / (members with a return), as it is beside the UP picks and
    // turned beside the DOWN ones. Lines of the same weight share one
    // sample, merged into each of them at the end.
    void AddUniverse(std::size_t k, const LinePicks& picks,
                     std::map<unsigned, ReturnSample>& samples, double sign) {
        const std::vector<double>& universe = universeReturns_[k];
        unsigned done = 0;
        for (std::size_t line = 0; line < picks.size(); ++line) {
            if (picks[line] == 0 || (done & (1u << line))) continue;
            unsigned lines = 0;
            for (std::size_t other = line; other < picks.size(); ++other) {
                if (picks[other] == picks[line]) lines |= 1u << other;
            }
            done |= lines;
            const double weight =
                static_cast<double>(picks[line]) / static_cast<double>(universe.size());
            ReturnSample& sample = samples.try_emplace(lines, options_.ExactLimit).first->second;
            sample.AddAll(universe, sign, weight);
        }
    }

    void Emit(const PendingDay& day) {
        if (!options_.Signal) return;
        for (const PendingSignal& pick : day.signals)
            options_.Signal(pick.signal);
    }

    const BacktestOptions& options_;
    BacktestReport& report_;
    const ScreenRules rules_;
    const int windowDays_;
    const int maxHorizon_;
    int index_ = 0;
    std::unordered_map<std::string, SymbolState> symbols_;
    // The symbols of the day before and of today, in the order of their rows.
    std::vector<std::pair<const std::string*, SymbolState*>> yesterday_, today_;
    std::size_t walk_ = 0;
    std::unordered_set<std::int64_t> importPasses_;
    std::deque<PendingDay> pending_;
    // Per horizon: the report lines (every signal: all, UP, DOWN; then the
    // non-overlapping ones), today's universe returns of the day a horizon
    // back, and each judged day's mean excess.
    std::vector<std::vector<Tally>> tallies_;
    std::vector<std::vector<double>> universeReturns_;
    // Per horizon: the universe's returns of the days with picks, weighted,
    // as they are (beside UP picks) and turned (beside DOWN picks); one
    // sample per set of report lines (a bit per line) that took a day's
    // universe with the same weight.
    std::vector<std::map<unsigned, ReturnSample>> universeUp_, universeDown_;
    std::vector<std::vector<double>> dayExcess_;
};

}  // namespace

bool RunBacktest(const HistoryDayStream& store, const BacktestOptions& options,
                 BacktestReport& report, std::string& error) {
    report = BacktestReport{};
    error.clear();
    if (options.Horizons.empty() || options.Horizons.front() < 1 ||
        !std::is_sorted(options.Horizons.begin(), options.Horizons.end()) ||
        std::adjacent_find(options.Horizons.begin(), options.Horizons.end()) !=
            options.Horizons.end()) {
        error = "the horizons must be whole numbers of days from 1 up, each once, ascending";
        return false;
    }
    // One snapshot of the file: a day a scan writes meanwhile is read as it
    // stood when the read began.
    if (!store.BeginRead()) {
        error = "History.db: " + store.Error();
        return false;
    }
    const struct EndRead {
        const HistoryDayStream& store;
        ~EndRead() { store.EndRead(); }
    } endRead{store};
    Run run(options, report);
    run.Passes(store.Passes());
    if (!store.Error().empty()) {
        error = "History.db: " + store.Error();
        return false;
    }
    // The IV window reaches back before the first day judged; without the IV
    // filters nothing before it is needed.
    const ScreenRules rules = ScreenRules::Of(options.Filters, options.History);
    const HistoryDay start = rules.IvFiltersInUse ? 0 : options.From;
    // The days to be read: from the start to the last day judged, and the
    // longest horizon after it (with the one that ends the read).
    int total = 0;
    if (options.Progress) {
        const std::vector<HistoryDay> all = store.Days();
        const auto first = std::lower_bound(all.begin(), all.end(), start);
        const auto after = std::upper_bound(first, all.end(), options.To);
        total =
            static_cast<int>(after - first) + static_cast<int>(std::min<std::ptrdiff_t>(
                                                  all.end() - after, options.Horizons.back() + 1));
    }
    int done = 0;
    const bool read =
        store.ForEachDay(start, 99991231, FiguresRead(rules), [&](HistoryDay day, auto& rows) {
            const bool more = run.Day(day, rows);
            if (options.Progress) options.Progress(++done, total);
            return more;
        });
    if (!read) {
        error = "History.db: " + store.Error();
        return false;
    }
    if (options.Progress && done < total) options.Progress(total, total);
    run.Finish();
    if (!report.Days.empty()) {
        const std::vector<HistoryDay> partial =
            store.PartialDays(report.Days.front(), report.Days.back());
        if (!store.Error().empty()) {
            error = "History.db: " + store.Error();
            return false;
        }
        std::set_intersection(partial.begin(), partial.end(), report.Days.begin(),
                              report.Days.end(), std::back_inserter(report.PartialDays));
    }
    return true;
}

}  // namespace quillon
