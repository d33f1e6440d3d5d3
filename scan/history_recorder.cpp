// The pass history recorder: one HistoryRow per finished symbol, under the
// scan's as-of date, written in one transaction per group commit of the pass
// output.

#include <cstdio>

#include "analytics/iv_history.h"
#include "history/changes.h"
#include "history/history_store.h"
#include "scan/evaluation.h"
#include "scan/pass_recorder.h"

namespace quillon {

namespace {

constexpr const char* kHistoryFile = "History.db";
constexpr const char* kNotRecorded = "History not recorded: ";
constexpr float kNoPriceEarnings = 100000;  // the quote's "not available"

HistoryDay DayOf(const DateTime& date) {
    return date.Year * 10000 + date.Month * 100 + date.Day;
}

std::string IsoTime(const DateTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t.Year, t.Month, t.Day,
                  t.Hour, t.Minute, t.Second);
    return text;
}

// The filter values as the settings file keeps them, one a line, then the
// price ZOR is derived from: two passes with the same text used the same
// filters.
std::string FilterText(const FilterSettings& filters) {
    std::string text;
    for (const FilterValue& value : filters.Values)
        text += value.ToText() + "\n";
    text += std::to_string(filters.DeriveZorFrom);
    return text;
}

// The filter text with the IV rank and IV percentile filters after it when
// one is in use; passes without them keep the text they always had.
std::string FilterText(const Settings& settings) {
    std::string text = FilterText(settings.Filters);
    const HistorySettings& h = settings.History;
    if (!h.FiltersInUse()) return text;
    for (const FilterValue* value :
         {&h.MinIvRank, &h.MaxIvRank, &h.MinIvPercentile, &h.MaxIvPercentile}) {
        text += "\n" + (value->IsEmpty() ? std::string("NA") : value->ToText());
    }
    text += "\n" + std::to_string(h.WindowWeeks);
    return text;
}

// The ratio filters in use, for a stock that passed the AND group but
// reached neither ratio.
std::string RatioTestText(const FilterValues& f) {
    std::string text;
    for (FilterIndex index : {TX_MinCallPutRatio, TX_MinPutCallRatio}) {
        if (!f[index].InUse()) continue;
        if (!text.empty()) text += " or ";
        text += kFilterNames[index] + 3;
    }
    return text;
}

std::optional<double> Figure(double value) {
    return value;
}

}  // namespace

HistoryRow HistoryRowOf(const Context& context, HistoryDay day, std::int64_t pass) {
    HistoryRow row;
    const QuoteState& state = context.quote;
    row.Symbol = state.Ticker;
    row.Day = day;
    row.PassId = pass;
    if (!state.HaveStockData) {
        row.Verdict = "NOQUOTE";
        return row;
    }
    const QuoteRecord& q = state.Quote;
    row.Last = Figure(q.LastSale);
    row.Change = Figure(q.PercentChange);
    if (q.Volume >= 0) row.Volume = static_cast<double>(q.Volume);
    row.High52 = Figure(q.High52Week);
    row.Low52 = Figure(q.Low52Week);
    if (q.PriceEarnings != kNoPriceEarnings) row.PeRatio = Figure(q.PriceEarnings);
    row.Yield = Figure(q.YieldPercent);
    row.QuoteVolatility = Figure(q.HistVolatility);
    row.MarketCap = static_cast<double>(q.SharesOutstanding * q.LastSale * 0.000001L);
    if (state.HaveOptionData) {
        const OptionChain& chain = state.Chain;
        row.CallVolume = Figure(chain.TotalVolume[0]);
        row.PutVolume = Figure(chain.TotalVolume[1]);
        row.CallOpenInterest = Figure(chain.TotalOpenInterest[0]);
        row.PutOpenInterest = Figure(chain.TotalOpenInterest[1]);
        row.Zorc = Figure(chain.TotalZOR[0]);
        row.Zorp = Figure(chain.TotalZOR[1]);
    }
    // The evaluation's own IV30 of the symbol, or the whole chain's that the
    // data source gave (which a stock without options in the archive may
    // have too).
    const Iv30Result iv = CurrentIv30(context);
    row.Iv30 = iv.Both;
    row.Iv30Call = iv.Calls;
    row.Iv30Put = iv.Puts;
    row.DaysToNear = iv.DaysNear;
    row.DaysToNext = iv.DaysNext;
    row.Verdict = VerdictName(context.Verdict);
    if (context.Verdict == Verdict::Rejected) {
        const char* failed = FirstFailedTest(context);
        row.FailedTest = failed ? failed : RatioTestText(context.settings.Filters.Values);
    }
    return row;
}

namespace {

class HistoryRecorder final : public PassRecorder {
  public:
    void PassStarted(const Context& context) override {
        if (!problem_.empty()) return;
        if (!store_.IsOpen()) {
            const std::string& directory = context.files.WorkingDirectory;
            const std::string file =
                directory.empty() ? kHistoryFile : directory + "/" + kHistoryFile;
            if (!store_.Open(file)) return Stop();
        }
        Commit(context);
        if (!problem_.empty()) return;
        changes_.reset();
        HistoryPass pass;
        day_ = DayOf(ScanNow(context));
        // Before the first pass of a day the recent days move into the
        // table by symbol when a month of them has gathered.
        if (store_.SettleDue(day_) && !store_.Settle(day_)) return Stop();
        pass.AsOf = day_;
        pass.Started = IsoTime(context.clock.Now());
        pass.Source = context.settings.LocalMode() ? "local" : "server";
        pass.Filters = FilterText(context.settings);
        symbols_ = 0;
        pass_ = store_.BeginPass(pass);
        if (pass_ == 0) Stop();
    }

    void SymbolFinished(const Context& context) override {
        if (!problem_.empty() || pass_ == 0) return;
        if (!store_.InBatch() && !store_.BeginBatch()) return Stop();
        if (!store_.Record(HistoryRowOf(context, day_, pass_))) return Stop();
        ++symbols_;
    }

    void Commit(const Context& context) override {
        if (!problem_.empty() || !store_.InBatch()) return;
        // The pass row's counts go with its rows.
        if (!store_.EndPass(pass_, symbols_, context.counters.ProcessCount, false, "") ||
            !store_.CommitBatch()) {
            Stop();
        }
    }

    void PassEnded(const Context& context) override {
        if (!problem_.empty() || pass_ == 0) return;
        Commit(context);
        if (!problem_.empty()) return;
        if (!store_.EndPass(pass_, symbols_, context.counters.ProcessCount, true,
                            IsoTime(context.clock.Now()))) {
            return Stop();
        }
        // The pass's saved set is kept and compared with the last one of the
        // same filters; the block goes to Changes.txt beside the history.
        changes_ = ChangesAtPassEnd(store_, pass_);
        pass_ = 0;
        if (!changes_) return Stop();
        AppendToChangesFile(context.files.WorkingDirectory, ChangesBlock(*changes_));
    }

    const std::string& Problem() const override { return problem_; }
    const std::optional<PassChanges>& Changes() const override { return changes_; }

  private:
    // The history stops for the rest of the run; the scan goes on without it.
    void Stop() {
        problem_ = std::string(kNotRecorded) + kHistoryFile + ": " + store_.Error();
        store_.Close();
        pass_ = 0;
    }

    HistoryStore store_;
    std::string problem_;
    std::int64_t pass_ = 0;
    HistoryDay day_ = 0;
    int symbols_ = 0;
    std::optional<PassChanges> changes_;
};

}  // namespace

std::unique_ptr<PassRecorder> MakeHistoryRecorder() {
    return std::make_unique<HistoryRecorder>();
}

}  // namespace quillon
