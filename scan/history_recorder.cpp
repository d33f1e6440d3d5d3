// The pass history recorder: one HistoryRow per finished symbol, under the
// scan's as-of date, written in one transaction per group commit of the pass
// output.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

#include "analytics/iv_history.h"
#include "history/changes.h"
#include "history/history_store.h"
#include "platform/files.h"
#include "scan/evaluation.h"
#include "scan/pass_recorder.h"

namespace quillon {

namespace {

constexpr const char* kHistoryFile = "History.db";
constexpr const char* kNotRecorded = "History not recorded: ";
constexpr float kNoPriceEarnings = 100000;  // the quote's "not available"

HistoryDay DayOf(const DateTime& date) {
    return date.Date().Number();
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
    for (const HistoryFilter& filter : kHistoryFilters)
        text += "\n" + HistoryFilterText(h.*filter.Value);
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
        row.Verdict = Verdict::NoQuote;
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
    row.Verdict = context.Verdict;
    if (context.Verdict == Verdict::Rejected) {
        const char* failed = FirstFailedTest(context);
        row.FailedTest = failed ? failed : RatioTestText(context.settings.Filters.Values);
    }
    return row;
}

namespace {

// The number of symbols the rows of `rows` are of.
std::size_t SymbolsOf(const std::vector<HistoryRow>& rows) {
    std::set<std::string> symbols;
    for (const HistoryRow& row : rows)
        symbols.insert(row.Symbol);
    return symbols.size();
}

class HistoryRecorder final : public PassRecorder {
  public:
    void PassStarted(const Context& context) override {
        if (!problem_.empty()) return;
        changes_.reset();
        rows_.clear();
        pass_ = 0;
        symbols_ = 0;
        day_ = DayOf(ScanNow(context));
        plan_ = HistoryPass{};
        plan_.AsOf = day_;
        // A fetched pass is recorded at its data's time, not the clock's.
        plan_.Started = IsoTime(context.dataTime ? *context.dataTime : context.clock.Now());
        plan_.Source = QuoteSourceName(context.settings.Source());
        plan_.Filters = FilterText(context.settings);
        resumedAt_ = context.counters.SymbolIndex;
        passOpen_ = true;
        // A failure that may pass is tried again at the next commit, which
        // holds the resume point until it succeeds.
        if (!Start(context) && !store_.ErrorMayPass()) Stop();
    }

    void SymbolFinished(const Context& context) override {
        if (!problem_.empty() || !passOpen_) return;
        rows_.push_back(HistoryRowOf(context, day_, 0));
    }

    std::optional<OutputFailure> Commit(const Context& context) override {
        if (!problem_.empty() || !passOpen_) return std::nullopt;
        if (!Start(context)) return Failed(context);
        if (rows_.empty()) return std::nullopt;
        if (!store_.BeginBatch()) return Failed(context);
        for (HistoryRow& row : rows_) {
            row.PassId = pass_;
            if (!store_.Record(row)) return Failed(context);
        }
        // The pass row's counts go with its rows.
        const int symbols = symbols_ + static_cast<int>(rows_.size());
        if (!store_.EndPass(pass_, symbols, context.counters.ProcessCount, false, "") ||
            !store_.CommitBatch()) {
            return Failed(context);
        }
        symbols_ = symbols;
        rows_.clear();
        return std::nullopt;
    }

    std::optional<OutputFailure> PassEnded(const Context& context) override {
        if (!problem_.empty()) return std::nullopt;
        changes_.reset();
        std::optional<HistoryPass> pass;
        if (passOpen_) {
            if (auto failure = Commit(context)) return EndFailed(*failure);
            if (!problem_.empty()) return std::nullopt;
            pass = store_.Pass(pass_);
        } else {
            // A pass whose symbols an earlier run wrote, and whose end it
            // did not: the history's last pass of a scan is that pass.
            if (!OpenStore(context)) return EndFailed(Failed(context));
            pass = store_.LastScanPass();
            if (!pass && store_.Error().empty()) return std::nullopt;
        }
        if (!pass) return EndFailed(Failed(context));
        passOpen_ = false;
        pass_ = 0;
        if (pass->Finished) return ChangesOfEndedPass(context, *pass);
        return EndPass(context, *pass);
    }

    const std::string& Problem() const override { return problem_; }
    const std::optional<PassChanges>& Changes() const override { return changes_; }

  private:
    std::string FileName(const Context& context) const {
        const std::string& directory = context.files.WorkingDirectory;
        return directory.empty() ? kHistoryFile : directory + "/" + kHistoryFile;
    }

    // Opens the store when it is not, and writes to Changes.txt the blocks
    // of passes whose end got no further than the history.
    bool OpenStore(const Context& context) {
        if (store_.IsOpen()) return true;
        if (!store_.Open(FileName(context))) return false;
        // Left for the next opening when they cannot be written now.
        (void)WriteKeptChanges(context);
        return true;
    }

    std::optional<OutputFailure> WriteKeptChanges(const Context& context) {
        const auto kept = store_.UnwrittenChanges();
        if (!kept) return EndFailed(Failed(context));
        for (const HistoryStore::KeptChanges& block : *kept) {
            if (auto failure = WriteChanges(context, block.Pass, block.Block, true)) {
                return failure;
            }
        }
        return std::nullopt;
    }

    // The pass row, once the store is open: settled first when due, and
    // marked partial when the pass goes on past symbols its history lacks.
    bool Start(const Context& context) {
        if (pass_ != 0) return true;
        if (!OpenStore(context)) return false;
        // Before the first pass of a day the recent days move into the
        // table by symbol when a month of them has gathered.
        if (store_.SettleDue(day_) && !store_.Settle(day_)) return false;
        const std::optional<bool> partial = MissesRows();
        if (!partial) return false;
        HistoryPass pass = plan_;
        pass.Partial = *partial;
        pass_ = store_.BeginPass(pass);
        return pass_ != 0;
    }

    // Whether the pass, going on at symbol resumedAt_, lacks rows of the
    // symbols before it: the unfinished pass it goes on from (the last of a
    // scan, of the same source and filters) has fewer, or there is none.
    std::optional<bool> MissesRows() {
        if (resumedAt_ <= 0) return false;
        const std::optional<HistoryPass> last = store_.LastScanPass();
        if (!last) return store_.Error().empty() ? std::optional<bool>(true) : std::nullopt;
        if (last->Finished || last->Source != plan_.Source || last->Filters != plan_.Filters) {
            return true;
        }
        if (last->Partial) return true;
        const std::vector<HistoryRow> rows = store_.RowsOfPass(last->Id);
        if (!store_.Error().empty()) return std::nullopt;
        return SymbolsOf(rows) < static_cast<std::size_t>(resumedAt_);
    }

    // The pass end in one transaction: finished, its saved set kept and its
    // change block with it; then the block goes to Changes.txt.
    std::optional<OutputFailure> EndPass(const Context& context, const HistoryPass& pass) {
        if (!store_.BeginBatch()) return EndFailed(Failed(context));
        std::optional<PassChanges> changes;
        const bool ended = store_.EndPass(pass.Id, pass.Symbols, context.counters.ProcessCount,
                                          true, IsoTime(context.clock.Now())) &&
                           (changes = ChangesAtPassEnd(store_, pass.Id)) &&
                           store_.KeepChanges(pass.Id, ChangesBlock(*changes)) &&
                           store_.CommitBatch();
        if (!ended) return EndFailed(Failed(context));
        changes_ = std::move(changes);
        return WriteChanges(context, pass.Id, ChangesBlock(*changes_));
    }

    // A pass the history had ended when its run stopped: its change list
    // again, and its block when Changes.txt did not get it.
    std::optional<OutputFailure> ChangesOfEndedPass(const Context& context,
                                                    const HistoryPass& pass) {
        if (pass.Filters != FilterText(context.settings) ||
            pass.Saved != context.counters.ProcessCount) {
            return std::nullopt;  // not this pass: its history was not recorded
        }
        changes_ = ChangesOfPass(store_, pass.Id);
        if (!changes_) return EndFailed(Failed(context));
        return WriteKeptChanges(context);
    }

    std::optional<OutputFailure> WriteChanges(const Context& context, std::int64_t pass,
                                              const std::string& block, bool completing = false) {
        const std::string& directory = context.files.WorkingDirectory;
        if (!AppendToChangesFile(directory, block, completing)) {
            const int error = errno;
            OutputFailure failure;
            failure.File = directory.empty() ? "Changes.txt" : directory + "/Changes.txt";
            failure.Cause = OpenErrorText(failure.File, error);
            failure.Error = error;
            failure.What = OutputFailure::Step::PassEnd;
            return failure;
        }
        if (!store_.MarkChangesWritten(pass)) return EndFailed(Failed(context));
        return std::nullopt;
    }

    // A failure of the store: one that may pass holds the scan where it is
    // (the rows not committed are recorded again with their symbols); any
    // other stops the history for the rest of the run.
    std::optional<OutputFailure> Failed(const Context& context) {
        store_.RollbackBatch();
        if (!store_.ErrorMayPass()) {
            Stop();
            return std::nullopt;
        }
        OutputFailure failure;
        failure.File = FileName(context);
        failure.Cause = store_.Error();
        failure.Error = store_.ErrorErrno();
        failure.What = OutputFailure::Step::ResumePoint;
        return failure;
    }

    static std::optional<OutputFailure> EndFailed(std::optional<OutputFailure> failure) {
        if (failure) failure->What = OutputFailure::Step::PassEnd;
        return failure;
    }

    // The history stops for the rest of the run; the scan goes on without it.
    void Stop() {
        problem_ = std::string(kNotRecorded) + kHistoryFile + ": " + store_.Error();
        store_.Close();
        pass_ = 0;
        passOpen_ = false;
        rows_.clear();
    }

    HistoryStore store_;
    std::string problem_;
    HistoryPass plan_;       // the pass row to begin
    bool passOpen_ = false;  // between PassStarted and PassEnded
    std::int64_t pass_ = 0;  // the pass row, once begun
    HistoryDay day_ = 0;
    int resumedAt_ = 0;             // the symbol the pass began or went on at
    int symbols_ = 0;               // rows committed under pass_
    std::vector<HistoryRow> rows_;  // rows waiting for the next commit
    std::optional<PassChanges> changes_;
};

}  // namespace

std::unique_ptr<PassRecorder> MakeHistoryRecorder() {
    return std::make_unique<HistoryRecorder>();
}

}  // namespace quillon
