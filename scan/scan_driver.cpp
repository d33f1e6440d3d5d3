#include "scan/scan_driver.h"

#include "results/source_figures.h"

#include <cerrno>
#include <cmath>
#include <string>
#include <string_view>
#include <utility>

#include "platform/date_format.h"
#include "platform/files.h"
#include "platform/number_format.h"
#include "results/archive_date.h"
#include "scan/reply_status.h"
#include "scan/symbol_file.h"

namespace quillon {

ScanDriver::ScanDriver(Context& context, ScanView& view, QuoteSocket& socket, ScanParts parts)
    : context_(context), view_(view), socket_(socket), parts_(std::move(parts)) {
    if (parts_.MakeRecorder) Recorder_ = parts_.MakeRecorder();
    // The history commits its rows before each group commit of the pass
    // output: the resume point never moves past a symbol whose row could
    // still be lost. Rows committed ahead of it are recorded again, over
    // themselves, when their symbols are done again.
    context_.outputs.BeforeCommit = [this] { return CommitHistory(); };
}

ScanDriver::~ScanDriver() {
    context_.outputs.BeforeCommit = nullptr;
    // The output files may still be committed after the driver has gone:
    // the history goes first, and a history that could not commit keeps
    // them from moving the resume point. The window may be going too:
    // nothing is shown.
    if (!Recorder_) return;
    if (std::optional<OutputFailure> failure = Recorder_->Commit(context_)) {
        context_.outputs.BeforeCommit = [failure] { return failure; };
    }
}

std::optional<OutputFailure> ScanDriver::CommitHistory() {
    if (!Recorder_) return std::nullopt;
    std::optional<OutputFailure> failure = Recorder_->Commit(context_);
    CheckHistory();
    return failure;
}

// A history that cannot be recorded, or read for the IV rank and percentile,
// is told once; the scan goes on as before (the IV figures are then n/a).
void ScanDriver::CheckHistory() {
    if (!HistoryProblem_.empty()) return;
    if (Recorder_ && !Recorder_->Problem().empty()) {
        HistoryProblem_ = Recorder_->Problem();
    } else if (!context_.ivHistory.Problem.empty()) {
        HistoryProblem_ = kIvFiguresNotRead + context_.ivHistory.Problem;
    } else {
        return;
    }
    view_.SetStatusText(1, HistoryProblem_);
}

// ---------------------------------------------------------------- window

void ScanDriver::FormShow() {
    view_.SetMemoText("");
}

void ScanDriver::FormActivate() {
    // What a write cut short by a kill or a failure left in the output files
    // goes before the resume point is read: the files then end where that
    // point says.
    context_.outputs.Recover(context_.files);
    ReadProgress();

    context_.settings.InterestRate = SaneInterestRate(context_.settings.InterestRate);

    PB_PauseClick();
    RecorderPassOpen_ = false;
    // This driver's history goes with the output files from now on, also
    // when another driver of the same context has come and gone.
    context_.outputs.BeforeCommit = [this] { return CommitHistory(); };
    PrevState_ = kNoState;
    ScanState_ = ReadSymbols;
    // A time-out pending when the window is activated again belongs to the
    // request given up on; the next request is a fresh one that may start a
    // pass (after a Reset, or when the resume point comes out at 0).
    RetryPending_ = false;
    RequestPhase_ = 0;
    RequestSent_ = false;
    EmptyReplies_ = 0;
    GiveUpPending_ = false;
    ForgetStripping();

    const Settings& settings = context_.settings;
    QuoteHosts hosts = ReadQuoteHosts(context_.files.WorkingDirectory);
    if (settings.QuoteServer == 0) {
        ServerHost_ = hosts.Delayed.Host;
        ServerPort_ = hosts.Delayed.Port;
    } else if (settings.QuoteServer == 1) {
        ServerHost_ = hosts.RealTime.Host;
        ServerPort_ = hosts.RealTime.Port;
    }
    if (ServerPort_.empty()) ServerPort_ = kDefaultServerPort;
    StockRequestPrefix_ = kStockRequestPrefix;
    OptionRequestPrefix_ = kOptionRequestPrefix;
    AuthHeader_ = BuildAuthHeader(settings.UserName, settings.Password);

    ChooseScanDate();
    context_.ivHistory.ChainIv30.clear();
    context_.dataTime.reset();

    if (!settings.LocalMode()) {
        view_.SetEnabled(ScanControl::CkRepeat, true);
        return;
    }
    // An imported archive carries each stock's IV30 of its whole chain.
    context_.ivHistory.ChainIv30 = LoadChainIv30(context_.files.WorkingDirectory);
    view_.SetEnabled(ScanControl::CkRepeat, false);
    ClearPendingOutput();
    // Opening creates a missing file empty and reads from the start.
    context_.replay.LocalQuoteFile.Open(context_.files.QuoteFile);
    context_.replay.LocalAscFile.Open(context_.files.AscQuoteFile);
}

// The date the scan runs as of: the requested one, or in local mode the date
// recorded with Quote.txt, or the clock's. A date other than today's is told
// in status panel 1, and so is a recorded date that cannot be read: an
// archive of another day scanned as of today would show no option at all.
void ScanDriver::ChooseScanDate() {
    ScanDateNote_.clear();
    ScanDateProblem_ = false;
    context_.asOfDate = context_.requestedDate;
    const bool local = context_.settings.LocalMode();
    if (!context_.asOfDate && local) {
        ArchiveDateRead recorded = ReadArchiveDate(context_.files.QuoteDateFile);
        context_.asOfDate = recorded.Date;
        if (!recorded.Problem.empty()) {
            ScanDateNote_ = recorded.Problem + kTakenAsOfToday;
            ScanDateProblem_ = true;
        }
    }
    // A server pass as of a date of its own records it beside its Quote.txt.
    context_.outputs.ArchiveDate = local ? std::nullopt : context_.requestedDate;

    const DateTime today = context_.clock.Now();
    const std::optional<DateTime>& date = context_.asOfDate;
    if (date &&
        (date->Year != today.Year || date->Month != today.Month || date->Day != today.Day)) {
        ScanDateNote_ = context_.requestedDate ? kScanningAsOf + ShortDateText(*date)
                                               : kQuotesOf + ShortDateText(*date) + kFromQuoteFile;
    }
    if (ScanDateNote_.empty()) return;
    view_.SetStatusText(1, context_.runtime.SymbolsLoaded && !SymbolList_.empty()
                               ? SymbolCountText()
                               : ScanDateNote_);
}

std::string ScanDriver::NoSymbolsMessage() const {
    return context_.settings.SymbolFileName + kNoSymbolsReason + "\r\n" +
           context_.advice.ChooseSymbolFile;
}

// "12 symbols" ("1 symbol"), followed by the scan-date note when there is
// one.
std::string ScanDriver::SymbolCountText() const {
    std::string text = CountedText(static_cast<long long>(SymbolList_.size()), "symbol", "symbols");
    if (!ScanDateNote_.empty()) text += " - " + ScanDateNote_;
    return text;
}

void ScanDriver::ReadProgress() {
    ScanCounters& counters = context_.counters;
    counters.ProcessCount = 0;
    counters.SymbolIndex = 0;
    if (std::optional<std::string> text = ReadWholeFile(context_.files.ProgressFile)) {
        ProgressPoint point = ParseProgress(*text);
        counters.ProcessCount = point.ProcessCount;
        counters.SymbolIndex = point.SymbolIndex;
    }
}

void ScanDriver::FormClose() {
    CommitHistory();
    context_.outputs.CloseOutputFiles();
    if (context_.settings.LocalMode()) {
        context_.replay.LocalQuoteFile.Close();
        context_.replay.LocalAscFile.Close();
    }
}

// ---------------------------------------------------------------- controls

void ScanDriver::PB_GoClick() {
    view_.SetLamp(LampColour::clLime);
    view_.SetEnabled(ScanControl::PB_Pause, true);
    view_.SetEnabled(ScanControl::PB_Go, false);
    view_.SetEnabled(ScanControl::PB_Print, false);
    view_.SetEnabled(ScanControl::PB_Reset, false);
    context_.counters.Running = 1;
    AlarmTicks_ = 0;
    PrevState_ = kNoState;
    LastStop_ = ScanStop::None;
}

void ScanDriver::PB_PauseClick() {
    // What the scan has written so far is made durable, and the resume
    // point moved past it, while the scan stands still.
    if (std::optional<OutputFailure> failure = context_.outputs.Commit()) {
        view_.SetStatusText(1, failure->Message());
    }
    view_.SetLamp(LampColour::clRed);
    view_.SetEnabled(ScanControl::PB_Pause, false);
    view_.SetEnabled(ScanControl::PB_Go, true);
    view_.SetEnabled(ScanControl::PB_Print, true);
    view_.SetEnabled(ScanControl::PB_Reset, true);
    context_.counters.Running = 0;
}

void ScanDriver::PB_ResetClick() {
    view_.SetLamp(LampColour::clYellow);
    bool yes = context_.messages.Confirm(kResetQuestion);
    // Closing the question re-activates the scan window.
    FormActivate();
    if (!yes) return;
    context_.runtime.RestartPending = true;
    PB_GoClick();
}

void ScanDriver::CkAlarmClick() {
    AlarmTicks_ = 0;
}

void ScanDriver::CkRepeatClick() {
    if (view_.RepeatChecked()) PB_GoClick();
}

bool ScanDriver::AlarmChecked() const {
    return view_.AlarmChecked();
}

// The symbol's own line of the pending SavedSym.txt text (the last one, after
// the heading of a pass's first symbol), without its line end and the blanks
// around it.
static std::string SavedSymbolLine(std::string_view pendingSavedSym) {
    while (!pendingSavedSym.empty() &&
           (pendingSavedSym.back() == '\n' || pendingSavedSym.back() == '\r')) {
        pendingSavedSym.remove_suffix(1);
    }
    const std::size_t start = pendingSavedSym.find_last_of('\n');
    std::string_view line =
        start == std::string_view::npos ? pendingSavedSym : pendingSavedSym.substr(start + 1);
    const std::size_t first = line.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    line = line.substr(first, line.find_last_not_of(' ') - first + 1);
    return std::string(line);
}

void ScanDriver::StartAlarm() {
    AlarmTicks_ = kAlarmTicks;
    view_.SetStatusText(0, "Alarm: " + context_.quote.Ticker + " saved");
    // Beeps go unheard with the sound off or the window hidden: the desktop's
    // notification area shows the first few stocks a pass saves at once;
    // past them the pass posts one notification of its own at its end, so
    // that a screen that saves many does not bury the desktop.
    if (++PassSaves_ <= kNoticesPerStock) {
        context_.notifications.Notify("Quillon: " + context_.quote.Ticker + " saved",
                                      SavedSymbolLine(context_.pending.PendingSavedSym));
    }
}

// ---------------------------------------------------------------- stepping

void ScanDriver::ScanStep() {
    if (TimeoutTicks_ > 0) --TimeoutTicks_;
    if (RequestTicks_ > 0) --RequestTicks_;

    if (AlarmTicks_ > 0) {
        --AlarmTicks_;
        if (AlarmTicks_ % kAlarmBeepEvery == 0) context_.beeper.Beep();
        return;
    }

    if (ScanState_ != PrevState_) {
        StateEntered_ = true;
        PrevState_ = ScanState_;
        if (context_.counters.Running == 0) {
            if (view_.StatusText(0) != kDone) view_.SetStatusText(0, kPressGo);
            return;
        }
    } else {
        StateEntered_ = false;
    }

    switch (ScanState_) {
        case ReadSymbols:
            if (StateEntered_) DoReadSymbols();
            break;
        case NextSymbol:
            if (StateEntered_) DoNextSymbol();
            break;
        case Connecting:
        case AwaitReply:
            CheckTimeout();
            break;
        case SendRequest:
            if (StateEntered_) DoSendRequest();
            break;
        case ProcessReply:
            if (StateEntered_) DoProcessReply();
            break;
        case ReadLocal:
            DoReadLocal();
            break;
        case EvaluateLocal:
            DoEvaluateLocal();
            break;
        case AwaitChain:
            DoAwaitChain();
            break;
        case Connected:  // waits for the socket to take the request
        case kNoState:   // never the current state once the window is open
            break;
    }
}

bool ScanDriver::AwaitingNetwork() const {
    return ScanState_ == Connecting || ScanState_ == Connected || ScanState_ == AwaitReply ||
           ScanState_ == AwaitChain;
}

void ScanDriver::ShowMessageAndClose(const std::string& text) {
    context_.messages.ShowMessage(text);
    // Closing the message re-activates the scan window, which then closes.
    FormActivate();
    view_.CloseWindow();
}

// A failure the user must act on: the message, then the scan window is
// activated again, which pauses the scan at the resume point on disk.
void ScanDriver::PauseWithMessage(ScanStop reason, const std::string& text,
                                  const std::string& status) {
    // Paused before the box opens: the timer keeps stepping while it is
    // open, and the scan must not go on behind it.
    PB_PauseClick();
    context_.messages.ShowMessage(text);
    FormActivate();
    LastStop_ = reason;
    view_.SetStatusText(1, status);
}

void ScanDriver::DoReadSymbols() {
    // Every activation leads here: a new run, in which no reply has been
    // answered yet and no symbol refused.
    AnsweredInRun_ = false;
    RefusedSymbol_.clear();
    ClearPendingOutput();
    const FilterValues& filters = context_.settings.Filters.Values;
    ScanCounters& counters = context_.counters;
    counters.RatioFiltersActive =
        filters[TX_MinCallPutRatio].InUse() || filters[TX_MinPutCallRatio].InUse();
    counters.OptionFiltersActive = counters.RatioFiltersActive || filters[TX_MinOptVol].InUse() ||
                                   filters[TX_MinOptInt].InUse();
    view_.SetStatusText(0, "Reading symbols, please wait...");

    if (!context_.runtime.SymbolsLoaded) {
        const std::string& name = context_.settings.SymbolFileName;
        const std::string noSymbols = NoSymbolsMessage();
        if (QueryFileSize(name) < 1) {
            ShowMessageAndClose(noSymbols);
            return;
        }
        std::optional<std::vector<std::string>> symbols = ReadSymbolFile(name);
        if (!symbols) {
            ShowMessageAndClose("Error reading " + name);
            return;
        }
        // A file with bytes but no symbol gets the same answer as an empty one.
        if (symbols->empty()) {
            ShowMessageAndClose(noSymbols);
            return;
        }
        SymbolList_ = std::move(*symbols);
        context_.runtime.SymbolsLoaded = true;
        view_.SetStatusText(1, SymbolCountText());
        view_.SetStatusText(0, "");
    }

    // A filter on a figure the source does not give would fail every stock.
    if (const std::string refusal =
            SourceFilterRefusal(context_.settings.Filters.Values, context_.settings.Source());
        !refusal.empty()) {
        ShowMessageAndClose(refusal);
        return;
    }
    if (context_.settings.Fetched() && context_.chains == nullptr) {
        const bool tradier = context_.settings.Source() == QuoteSource::Tradier;
        ShowMessageAndClose(std::string("The quotes are set to come from ") +
                            QuoteSourceTitle(context_.settings.Source()) +
                            (tradier
                                 ? ", and no access token is given. " + context_.advice.CheckToken
                                 : std::string(", which this scan cannot reach.")));
        return;
    }
    counters.SymbolCount = static_cast<int>(SymbolList_.size());
    socket_.SetServer(ServerHost_, ServerPort_);
    ScanState_ = NextSymbol;
}

void ScanDriver::DoNextSymbol() {
    if (GiveUpPending_) {
        GiveUpSymbol();
        return;
    }
    ScanCounters& counters = context_.counters;
    if (counters.SymbolCount <= 0 || SymbolList_.empty()) {
        // Nothing to walk (the list was emptied behind the driver's back).
        ShowMessageAndClose(NoSymbolsMessage());
        return;
    }
    if (counters.SymbolIndex == counters.SymbolCount && !context_.runtime.RestartPending &&
        RequestPhase_ == 0 && !RetryPending_) {
        // Every symbol of the pass was written, but not the pass's end (the
        // disk was full then): the pass is ended now, not made again.
        ClearPendingOutput();
        EndOfPass();
        return;
    }
    // A damaged progress file may hold a negative position: start the pass.
    if (counters.SymbolIndex >= counters.SymbolCount || counters.SymbolIndex < 0) {
        counters.SymbolIndex = 0;
    }
    if (context_.runtime.RestartPending) {
        counters.SymbolIndex = 0;
        counters.ProcessCount = 0;
    }
    if (counters.SymbolIndex == 0 && RequestPhase_ == 0 && !RetryPending_) {
        context_.runtime.RestartPending = false;
        counters.ProcessCount = 0;
        ClearPendingOutput();
        // The files of the previous pass are moved aside by the first write
        // of this one; a pass that writes nothing leaves them as they are.
        context_.outputs.StartPass();
        if (context_.settings.LocalMode()) context_.replay.LocalQuoteFile.Rewind();
        RecorderPassOpen_ = false;
        PassSaves_ = 0;
    }
    // A fetched pass opens its history row with its first answer, which
    // gives the data's date.
    if (!context_.settings.Fetched()) OpenRecorderPass();
    RetryPending_ = false;
    RequestSent_ = false;
    ReplyBytes_ = 0;
    context_.quote.Ticker = SymbolList_[static_cast<std::size_t>(counters.SymbolIndex)];

    if (context_.settings.LocalMode()) {
        ScanState_ = ReadLocal;
        return;
    }
    if (context_.settings.Fetched()) {
        StartFetch();
        return;
    }
    view_.SetStatusText(0, "Connecting to " + ServerAddress());
    TimeoutTicks_ = kTimeoutTicks;
    socket_.SConnect();
    ScanState_ = Connecting;
}

void ScanDriver::DoProcessReply() {
    QuoteState& quote = context_.quote;
    if (!Stripping_) {
        const int status = ReplyStatusCode(quote.PageText);
        if (LoginRefusedStatus(status)) {
            // Nothing of this reply is archived.
            quote.PageText.clear();
            if (RefusalIsTheLogin(status)) {
                // Nothing is listed either: every other symbol would be
                // refused the same way.
                PauseWithMessage(
                    ScanStop::LoginRefused,
                    std::string(kLoginRefusedReason) + " " + context_.advice.CheckLogin,
                    context_.advice.LoginRefusedStatus);
                return;
            }
            // The server will not quote this one symbol: the scan goes on.
            RefusedSymbol_ = quote.Ticker;
            ListAsBad(FormatArgs("%s refused (%d)", quote.Ticker.c_str(), status));
            return;
        }
        AnsweredInRun_ = true;
        EmptyReplies_ = 0;
        Stripping_ = quote.PageText.size() > parts_.StripBytesPerStep;
    }
    if (Stripping_) {
        if (!StripNextPart()) {
            // The next step enters this state again and strips the next part.
            PrevState_ = kNoState;
            return;
        }
        quote.PageText.swap(Stripped_);
        ForgetStripping();
    } else {
        quote.PageText = parts_.StripTags(quote.PageText);
    }
    ScanState_ = NextSymbol;
    if (RequestPhase_ == 0) {
        quote.HaveStockData = parts_.ParseStockPage(context_);
        if (quote.HaveStockData) {
            RequestPhase_ = 1;
        } else {
            ++context_.counters.SymbolIndex;
            RefusedSymbol_.clear();
            EndOfSymbolWithoutQuote();
        }
    } else {
        quote.HaveOptionData = parts_.ParseOptionPage(context_);
        parts_.SaveQuote(context_);
        ++context_.counters.SymbolIndex;
        parts_.EvaluateSymbol(context_, *this);
        view_.SetMemoText(quote.PageText);
        RequestPhase_ = 0;
        RefusedSymbol_.clear();
        EndOfSymbol();
    }
}

// Strips the next part of PageText into Stripped_: about StripBytesPerStep
// bytes, ending just after a ">", where the whole page stripped at once is
// outside a tag too. True once the whole page is stripped.
bool ScanDriver::StripNextPart() {
    const std::string& page = context_.quote.PageText;
    std::size_t end = page.size();
    if (page.size() - StripAt_ > parts_.StripBytesPerStep) {
        const std::size_t limit = StripAt_ + parts_.StripBytesPerStep;
        std::size_t close = page.rfind('>', limit - 1);
        if (close == std::string::npos || close < StripAt_) close = page.find('>', limit);
        if (close != std::string::npos) end = close + 1;
    }
    Stripped_ += parts_.StripTags(page.substr(StripAt_, end - StripAt_));
    StripAt_ = end;
    return StripAt_ == page.size();
}

void ScanDriver::ForgetStripping() {
    Stripping_ = false;
    StripAt_ = 0;
    std::string().swap(Stripped_);  // the memory of a large page goes too
}

void ScanDriver::DoReadLocal() {
    view_.SetStatusText(0, "Processing " + context_.quote.Ticker);
    parts_.ReplayQuote(context_);
    ScanState_ = EvaluateLocal;
}

void ScanDriver::DoEvaluateLocal() {
    ++context_.counters.SymbolIndex;
    parts_.EvaluateSymbol(context_, *this);
    view_.SetMemoText(context_.quote.PageText);
    ScanState_ = NextSymbol;
    if (context_.quote.HaveStockData) {
        EndOfSymbol();
    } else {
        EndOfSymbolWithoutQuote();
    }
}

}  // namespace quillon
