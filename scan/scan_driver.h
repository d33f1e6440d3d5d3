#pragma once
// The scan driver: a nine-state machine that walks the sorted symbol list one
// symbol at a time, stepped by a 55 ms timer and moved on by the events of
// its socket. It owns the scan window's state; the window itself is reached
// through ScanView.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "scan/chain_source.h"
#include "scan/context.h"
#include "scan/quote_requests.h"
#include "scan/quote_socket.h"
#include "scan/scan_parts.h"
#include "scan/scan_view.h"

namespace quillon {

// The nine states of the machine; kNoState is PrevState before the first step
// and after Go, so that the next step enters the current state afresh.
enum ScanState : std::uint8_t {
    kNoState = 0,
    ReadSymbols = 1,
    NextSymbol = 2,
    Connecting = 3,
    Connected = 4,
    SendRequest = 5,
    AwaitReply = 6,
    ProcessReply = 7,
    ReadLocal = 8,
    EvaluateLocal = 9,
    // A market-data service's scan: the symbol's whole chain is awaited.
    AwaitChain = 10,
};

inline constexpr int kTimeoutTicks = 1091;  // 60.0 s of 55 ms ticks
inline constexpr int kAlarmTicks = 1080;    // 59.4 s
inline constexpr int kAlarmBeepEvery = 18;  // 0.99 s
inline constexpr int kReceiveChunk = 8192;  // bytes asked of one receive
// A request that has not completed within five minutes, whatever trickles in,
// is given up like one that timed out.
inline constexpr int kRequestLimitTicks = 5455;
// A reply larger than this (32 MiB) is no quote page: the request fails and
// says the reply was too large.
inline constexpr std::size_t kMaxPageBytes = 32u << 20;
// A page that grows past this gets room for kMaxPageBytes at once.
inline constexpr std::size_t kLargePageBytes = 1u << 20;
// A request that brings no reply is repeated this many times before its
// symbol is listed as bad and the scan moves on.
inline constexpr int kEmptyReplyRetries = 3;
// A pass that saves more stocks than this (with the alarm on) posts one
// notification for the pass instead of one per stock; its text lists this
// many changes at most.
inline constexpr int kNoticesPerStock = 3;
// Before the reason the history could not be read for the IV filters.
inline constexpr const char* kIvFiguresNotRead = "IV rank and percentile n/a: ";
inline constexpr std::size_t kNoticeLines = 8;

inline constexpr const char* kPressGo = "Press Go to continue";
inline constexpr const char* kDone = "Done";
// The message of a refused login is the reason followed by the advice of
// the program (ScanAdvice); kLoginRefused is the desktop program's whole text.
inline constexpr const char* kLoginRefusedReason =
    "The quote server refused the user name or password.";
inline constexpr const char* kLoginRefused =
    "The quote server refused the user name or password. Check them in Setup, Quotes Server, "
    "then open the scan again.";
inline constexpr const char* kLoginRefusedShort = "Login refused: see Setup, Quotes Server";
// The text after "<file> contains no symbols" when the symbol file holds none.
inline constexpr const char* kNoSymbolsReason = " contains no symbols, process stopped.";
// The scan-date notes of status panel 1, around the date ("6/17/2025").
inline constexpr const char* kScanningAsOf = "Scanning as of ";
inline constexpr const char* kQuotesOf = "Quotes of ";
inline constexpr const char* kFromQuoteFile = " from Quote.txt";
inline constexpr const char* kTakenAsOfToday = "; quotes taken as of today";
inline constexpr const char* kResetQuestion =
    "This will reset the process count and overwrite Reset.txt. Are you sure ?";

// The texts of status panel 1 for a request that failed and for a symbol
// listed in BadSym.txt; each follows or precedes the symbol.
inline constexpr const char* kTimeoutRetry = "Timeout Retry";
inline constexpr const char* kNoReplyFor = "No reply for ";
inline constexpr const char* kReplyTooLargeFor = "Reply too large for ";
inline constexpr const char* kListedAsBad = ": listed in BadSym.txt";
// Status panel 1 for a symbol that got no stock quote, before the symbol.
inline constexpr const char* kNoQuoteFor = "No quote for ";

// Why the scan paused by itself rather than at the user's word.
enum class ScanStop {
    None,
    // The quote server refused the login: 401 or 407, or 403 before any reply
    // of this run was answered or for two symbols in a row (a 403 for one
    // symbol among answered ones only lists that symbol in BadSym.txt).
    LoginRefused,
    WriteFailed,  // a working file could not be written
    // A market-data service gave no answer before any symbol of this run was
    // answered.
    Unreachable,
};

class ScanDriver final : public AlarmControl {
  public:
    // FormCreate: a new scan window, never connected.
    ScanDriver(Context& context, ScanView& view, QuoteSocket& socket,
               ScanParts parts = ScanParts::Defaults());
    ~ScanDriver() override;
    ScanDriver(const ScanDriver&) = delete;
    ScanDriver& operator=(const ScanDriver&) = delete;

    // Window events.
    void FormShow();
    void FormActivate();
    void FormClose();

    // One step of the state machine (one timer tick).
    void ScanStep();

    // Controls.
    void PB_GoClick();
    void PB_PauseClick();
    void PB_ResetClick();
    void CkAlarmClick();
    void CkRepeatClick();

    // Socket events.
    void Sockets1SessionConnected();
    void Sockets1DataNeeded();
    void Sockets1DataAvailable();
    void Sockets1SessionClosed();
    void Sockets1ErrorOccurred(int error, const std::string& message);

    // AlarmControl, for the evaluation.
    bool AlarmChecked() const override;
    void StartAlarm() override;

    // State, for the window, the runner and the tests.
    quillon::ScanState ScanState() const { return ScanState_; }
    int RequestPhase() const { return RequestPhase_; }
    bool EverConnected() const { return EverConnected_; }
    int AlarmTicks() const { return AlarmTicks_; }
    int TimeoutTicks() const { return TimeoutTicks_; }
    bool Running() const { return context_.counters.Running != 0; }
    const std::vector<std::string>& SymbolList() const { return SymbolList_; }
    const std::string& ServerHost() const { return ServerHost_; }
    const std::string& ServerPort() const { return ServerPort_; }
    // Symbols finished since the window was created.
    int SymbolsFinished() const { return SymbolsFinished_; }
    // The symbols among them that got no stock quote, in the order they were
    // finished: no stock data on the page or in the local quote file, or
    // listed in BadSym.txt for want of a reply or for a refusal.
    const std::vector<std::string>& NoQuoteSymbols() const { return NoQuoteSymbols_; }
    // Why the scan last paused by itself; None after Go.
    ScanStop LastStop() const { return LastStop_; }
    // What the scan window says of the date the scan runs as of: empty when
    // it runs as of today; a text such as "Quotes of 6/17/2025 from
    // Quote.txt" otherwise, or why the date recorded with Quote.txt could not
    // be read (then ScanDateProblem() is true and the scan runs as of today).
    const std::string& ScanDateNote() const { return ScanDateNote_; }
    bool ScanDateProblem() const { return ScanDateProblem_; }
    // Why the pass history is not recorded ("History not recorded:
    // History.db: database is locked") or not read for the IV rank and
    // percentile, told once in status panel 1; empty while it is recorded and
    // read. The scan goes on as before either way.
    const std::string& HistoryProblem() const { return HistoryProblem_; }
    // The Changes.txt block of the pass that ended last (empty without a
    // history); the scan window's memo shows it at the end of the pass.
    const std::string& ChangesText() const { return ChangesText_; }
    // True while the driver waits for the network rather than for a step.
    bool AwaitingNetwork() const;

    // The state of the machine may be set by the socket events only; tests
    // use this to place it.
    void SetScanStateForTest(quillon::ScanState state) { ScanState_ = state; }

  private:
    // The request text the next send carries.
    std::string CurrentRequest() const;
    void DoReadSymbols();
    void DoNextSymbol();
    void CheckTimeout();
    void DoSendRequest();
    void DoProcessReply();
    bool StripNextPart();
    void ForgetStripping();
    void DoReadLocal();
    void DoEvaluateLocal();
    // A market-data service's scan: the symbol's chain asked for, then
    // taken when it is there.
    void StartFetch();
    void DoAwaitChain();
    void FetchedSymbol(const ChainOutcome& outcome);
    void FetchFailed(const ChainOutcome& outcome);
    // The history's pass row opened for the symbols now being finished.
    void OpenRecorderPass();
    // True when the symbol's output was written (the end of the pass may
    // still have failed).
    bool EndOfSymbol(bool quoted = true);
    // EndOfSymbol for a symbol that got no quote: it is remembered and told
    // in status panel 1.
    void EndOfSymbolWithoutQuote();
    void EndOfPass();
    void PostPassNotices(const PassChanges* changes);
    // The history's part of a group commit, before the resume point moves.
    std::optional<OutputFailure> CommitHistory();
    // Tells a problem of the history once.
    void CheckHistory();
    void PauseForFailure(const OutputFailure& failure);
    void ClearPendingOutput();
    void ShowMessageAndClose(const std::string& text);
    void PauseWithMessage(ScanStop reason, const std::string& text, const std::string& status);
    // Why a request ended without a reply the scan can use.
    enum class RequestFailure { NoReply, TooLarge };
    void FailedRequest(RequestFailure failure);
    void GiveUpSymbol();
    // Lists the current symbol in BadSym.txt and goes on with the next one;
    // `reason` begins the text of status panel 1.
    void ListAsBad(const std::string& reason);
    // Whether a refusing status pauses the scan as a refused login rather
    // than listing only the current symbol as bad.
    bool RefusalIsTheLogin(int status) const;
    void ReadProgress();
    void ChooseScanDate();
    std::string SymbolCountText() const;
    std::string NoSymbolsMessage() const;
    // "127.0.0.1:8080": the quote server the scan talks to.
    std::string ServerAddress() const { return ServerHost_ + ":" + ServerPort_; }

    Context& context_;
    ScanView& view_;
    QuoteSocket& socket_;
    ScanParts parts_;

    // Fields of the scan window.
    int RequestPhase_ = 0;
    std::vector<std::string> SymbolList_;
    bool StateEntered_ = false;
    bool EverConnected_ = false;
    std::string ServerHost_;
    std::string ServerPort_;
    std::string StockRequestPrefix_;
    std::string OptionRequestPrefix_;
    std::string AuthHeader_;
    quillon::ScanState PrevState_ = kNoState;
    quillon::ScanState ScanState_ = kNoState;
    int AlarmTicks_ = 0;
    int TimeoutTicks_ = 0;
    // Set by a time-out: the next request repeats the last one and so does
    // not start a pass.
    bool RetryPending_ = false;
    int SymbolsFinished_ = 0;
    std::vector<std::string> NoQuoteSymbols_;
    // The request of the current connection has been sent; bytes of its
    // reply received so far; steps left before it is given up.
    bool RequestSent_ = false;
    std::size_t ReplyBytes_ = 0;
    int RequestTicks_ = 0;
    // Requests of the current page that brought no reply.
    int EmptyReplies_ = 0;
    bool GiveUpPending_ = false;  // the next step lists the symbol as bad
    // What the last failed request says when its symbol is given up: "No
    // reply for S10" or "Reply too large for S10".
    std::string FailureText_;
    // Since the symbols were read after an activation (this run): a reply
    // with a status other than a refusal came back; and the symbol the last
    // symbol finished was, when a refusal ended it (empty otherwise).
    bool AnsweredInRun_ = false;
    std::string RefusedSymbol_;
    // A long reply being stripped of its tags over several steps: the text
    // stripped so far and where in PageText the next part begins.
    bool Stripping_ = false;
    std::string Stripped_;
    std::size_t StripAt_ = 0;
    ScanStop LastStop_ = ScanStop::None;
    std::string ScanDateNote_;
    bool ScanDateProblem_ = false;
    std::unique_ptr<PassRecorder> Recorder_;
    // A pass row of the history stands for the symbols now being finished:
    // a new one at each pass and at the first symbol after an activation.
    bool RecorderPassOpen_ = false;
    std::string HistoryProblem_;
    // The notifications of the stocks saved in this pass, posted at its end.
    int PassSaves_ = 0;
    std::string ChangesText_;
};

}  // namespace quillon
