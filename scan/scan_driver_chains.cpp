// The scan driver's side of a market-data service: each symbol's whole chain
// asked of the chain source (which fetches ahead), taken when it is there,
// and then judged, archived and written as a server pass does with its pages.

#include "analytics/calendar.h"
#include "platform/date_format.h"
#include "results/chain_iv30.h"
#include "scan/scan_driver.h"

namespace quillon {

namespace {

// A reason as the first sentence of a message.
std::string Sentence(std::string text) {
    if (!text.empty() && text.back() != '.') text += '.';
    return text;
}

}  // namespace

void ScanDriver::OpenRecorderPass() {
    if (!RecorderPassOpen_ && Recorder_) {
        Recorder_->PassStarted(context_);
        CheckHistory();
    }
    RecorderPassOpen_ = true;
}

void ScanDriver::StartFetch() {
    const ScanCounters& counters = context_.counters;
    view_.SetStatusText(0, "Fetching " + context_.quote.Ticker);
    context_.chains->Expect(SymbolList_, static_cast<std::size_t>(counters.SymbolIndex));
    ScanState_ = AwaitChain;
}

// Each step looks whether the symbol's outcome is there.
void ScanDriver::DoAwaitChain() {
    std::optional<ChainOutcome> outcome =
        context_.chains->Take(context_.quote.Ticker, context_.quote, context_.requestedDate,
                              context_.settings.InterestRate);
    if (!outcome) return;
    if (outcome->kind == ChainOutcome::Kind::Quoted) {
        FetchedSymbol(*outcome);
    } else {
        FetchFailed(*outcome);
    }
}

// The chain is in the quote state. The pass runs as of the data's date
// unless a date was asked for; its history records the data's time, and the
// chain's IV30 stands for the stock's.
void ScanDriver::FetchedSymbol(const ChainOutcome& outcome) {
    QuoteState& quote = context_.quote;
    AnsweredInRun_ = true;
    if (!context_.requestedDate && !RecorderPassOpen_) {
        context_.asOfDate = DateTime{outcome.time.Year, outcome.time.Month, outcome.time.Day};
        const DateTime today = context_.clock.Now();
        const bool otherDay = outcome.time.Year != today.Year ||
                              outcome.time.Month != today.Month || outcome.time.Day != today.Day;
        ScanDateNote_ = otherDay ? kQuotesOf + ShortDateText(*context_.asOfDate) + " from " +
                                       QuoteSourceTitle(context_.settings.Source())
                                 : std::string();
    }
    // Quote.txt's date goes beside it, so that a replay of the archive runs
    // as of the same day.
    if (!context_.outputs.ArchiveDate) context_.outputs.ArchiveDate = context_.asOfDate;
    context_.dataTime = outcome.time;
    OpenRecorderPass();
    BuildExpirationCalendar(context_.calendar, ScanNow(context_));
    SelectStrikes(context_.strikes, quote.Quote.LastSale);
    // One entry at a time: the table stays as small as the pass is long.
    ChainIv30Table& whole = context_.ivHistory.ChainIv30;
    whole.clear();
    whole[quote.Ticker] =
        ChainIv30Entry{ScanNow(context_).Date().Number(), quote.Quote.LastSale, outcome.iv30};
    quote.PageText.clear();
    parts_.SaveQuote(context_);
    ++context_.counters.SymbolIndex;
    parts_.EvaluateSymbol(context_, *this);
    view_.SetMemoText(quote.PageText);
    ScanState_ = NextSymbol;
    EndOfSymbol();
}

// A symbol the service does not know, or whose reply could not be used, is
// listed as bad and the scan goes on; a refused token pauses the scan as a
// refused login does; no answer pauses it when nothing of this run has been
// answered yet (the service, not the symbol, is out of reach).
void ScanDriver::FetchFailed(const ChainOutcome& outcome) {
    const std::string service = context_.chains->ServiceText();
    switch (outcome.kind) {
        case ChainOutcome::Kind::Refused:
            PauseWithMessage(ScanStop::LoginRefused,
                             Sentence(outcome.reason) + " " + context_.advice.CheckToken,
                             "Token refused: " + service);
            return;
        case ChainOutcome::Kind::Unreachable:
            if (!AnsweredInRun_) {
                PauseWithMessage(ScanStop::Unreachable,
                                 Sentence(outcome.reason) + " " + context_.advice.GoOnLater,
                                 "No answer from " + service);
                return;
            }
            break;
        case ChainOutcome::Kind::UnknownSymbol:
            AnsweredInRun_ = true;
            break;
        case ChainOutcome::Kind::Quoted:
        case ChainOutcome::Kind::Failed:
            break;
    }
    OpenRecorderPass();
    context_.quote.HaveStockData = false;
    context_.quote.HaveOptionData = false;
    ListAsBad(outcome.reason);
}

}  // namespace quillon
