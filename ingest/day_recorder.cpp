#include "ingest/day_recorder.h"

#include <unordered_set>

#include "analytics/calendar.h"
#include "platform/number_format.h"
#include "platform/text.h"
#include "scan/evaluation.h"
#include "scan/pass_recorder.h"

namespace quillon::historytool {

namespace {

// The evaluation starts an alarm for a saved stock when the window asks for
// one; the history has no window.
class NoAlarm final : public AlarmControl {
  public:
    bool AlarmChecked() const override { return false; }
    void StartAlarm() override {}
};

std::string TrimmedTicker(const std::string& ticker) {
    return std::string(TrimEnd(ticker, IsSpaceOrControl));
}

}  // namespace

std::string FiltersText(const Settings& settings) {
    std::string text;
    for (const FilterValue& value : settings.Filters.Values)
        text += value.ToText() + "\n";
    return text + std::to_string(settings.Filters.DeriveZorFrom);
}

std::string IsoNow(const Clock& clock) {
    const DateTime t = clock.Now();
    return FormatArgs("%04d-%02d-%02dT%02d:%02d:%02d", t.Year, t.Month, t.Day, t.Hour, t.Minute,
                      t.Second);
}

HistoryRow RowOfQuote(const Context& context, HistoryDay day) {
    HistoryRow row = HistoryRowOf(context, day, 0);
    // An archive record's symbol is read with the blanks that pad it.
    row.Symbol = TrimmedTicker(row.Symbol);
    return row;
}

DayRecorder::DayRecorder(HistoryPassWriter& store, const Settings& settings, const Clock& now)
    : store_(store), now_(now), context_(dayClock_, messages_, beeper_) {
    context_.settings = settings;
    // As the scan driver sets them when a pass starts.
    const FilterValues& filters = settings.Filters.Values;
    ScanCounters& counters = context_.counters;
    counters.RatioFiltersActive =
        filters[TX_MinCallPutRatio].InUse() || filters[TX_MinPutCallRatio].InUse();
    counters.OptionFiltersActive = counters.RatioFiltersActive || filters[TX_MinOptVol].InUse() ||
                                   filters[TX_MinOptInt].InUse();
}

bool DayRecorder::RecordDay(const DateTime& date, const std::function<bool(Context&)>& next,
                            Count& count, std::string& error) {
    count = {};
    const HistoryDay day = date.Date().Number();
    dayClock_.Set(date);
    context_.asOfDate = date;
    context_.counters.ProcessCount = 0;
    context_.counters.SymbolIndex = 0;
    NoAlarm alarm;

    auto fail = [&] {
        error = "History.db: " + store_.Error();
        store_.RollbackBatch();
        return false;
    };
    if (!store_.BeginBatch()) return fail();
    HistoryPass pass;
    pass.AsOf = day;
    pass.Started = IsoNow(now_);
    pass.Source = "import";
    pass.Filters = FiltersText(context_.settings);
    const std::int64_t id = store_.BeginPass(pass);
    if (id == 0) return fail();

    std::unordered_set<std::string> seen;
    BuildExpirationCalendar(context_.calendar, ScanNow(context_));
    for (;;) {
        if (!next(context_)) break;
        ++context_.counters.SymbolIndex;
        if (context_.quote.HaveStockData) EvaluateSymbol(context_, alarm);
        HistoryRow row = RowOfQuote(context_, day);
        // The evaluation's texts for the pass files are not written here.
        context_.pending.Clear();
        if (row.Symbol.empty() || !seen.insert(row.Symbol).second) continue;
        row.PassId = id;
        if (!store_.Record(row)) return fail();
        ++count.symbols;
        if (IsSaved(row.Verdict)) ++count.saved;
    }
    if (!store_.EndPass(id, count.symbols, count.saved, true, IsoNow(now_))) return fail();
    if (!store_.CommitBatch()) return fail();
    return true;
}

}  // namespace quillon::historytool
