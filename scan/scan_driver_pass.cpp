// The end of a symbol and of a pass: the output written, the history's
// row and pass end, the notices of the pass, and a pause for a file that
// could not be written.

#include "scan/scan_driver.h"

#include <cerrno>
#include <string>

namespace quillon {

namespace {

// What the user does about a file that cannot be written, by the cause of
// the failure: a full disk wants room, a directory or file that may not be
// written wants its permissions put right. `goOn` says how the scan goes on
// then ("press Go").
std::string WriteFailureAdvice(int error, const std::string& goOn) {
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS:
            return "The directory cannot be written: check its permissions, then " + goOn + ".";
        case 0:  // a write that stopped short without a cause is a full disk
        case ENOSPC:
        case EDQUOT:
            return "Make room, then " + goOn + ".";
        default:
            return "When the file can be written again, " + goOn + ".";
    }
}

}  // namespace

// Writes the symbol's output. A symbol whose output cannot be written is not
// finished: the scan pauses at it with the reason, to go on when the user
// has made room and pressed Go.
bool ScanDriver::EndOfSymbol(bool quoted) {
    ScanCounters& counters = context_.counters;
    if (Recorder_) {
        // Before the output: a group commit made by this flush takes the
        // symbol's row with it.
        const bool hadStockData = context_.quote.HaveStockData;
        context_.quote.HaveStockData = hadStockData && quoted;
        Recorder_->SymbolFinished(context_);
        context_.quote.HaveStockData = hadStockData;
        CheckHistory();
    }
    if (std::optional<OutputFailure> failure = context_.outputs.FlushPendingOutput(
            context_.pending, context_.files, context_.settings.LocalMode())) {
        PauseForFailure(*failure);
        return false;
    }
    ++SymbolsFinished_;
    if (counters.SymbolIndex < counters.SymbolCount) return true;
    EndOfPass();
    return true;
}

// The status is shown first, so that the end of the pass (the scan-date note
// beside "Done") or a failure to write puts its own text in its place. A
// symbol whose output could not be written is done again, and remembered
// then.
void ScanDriver::EndOfSymbolWithoutQuote() {
    const std::string ticker = context_.quote.Ticker;
    view_.SetStatusText(1, kNoQuoteFor + ticker);
    if (EndOfSymbol(false)) NoQuoteSymbols_.push_back(ticker);
}

// The pass is over: the resume point starts the next one.
void ScanDriver::EndOfPass() {
    ScanCounters& counters = context_.counters;
    // Every symbol on the disk and the resume point past it, then the
    // history's pass end, then the next pass's resume point: a run stopped
    // in between ends the pass, and its history, when it comes again.
    std::optional<OutputFailure> failure = context_.outputs.Commit();
    if (!failure && Recorder_) {
        failure = Recorder_->PassEnded(context_);
        CheckHistory();
    }
    if (!failure) failure = context_.outputs.EndPass(context_.files, counters.ProcessCount);
    if (failure) {
        PauseForFailure(*failure);
        return;
    }
    const PassChanges* changes =
        Recorder_ && Recorder_->Changes() ? &*Recorder_->Changes() : nullptr;
    ChangesText_ = changes != nullptr ? ChangesBlock(*changes) : "";
    // The memo showed the last symbol's page; the change list takes its place.
    if (!ChangesText_.empty()) view_.SetMemoText(ChangesText_);
    PostPassNotices(changes);
    RecorderPassOpen_ = false;
    counters.SymbolIndex = 0;
    if (view_.RepeatChecked()) {
        // The next step enters NextSymbol again and starts the next pass.
        PrevState_ = kNoState;
        return;
    }
    view_.SetStatusText(0, kDone);
    // A scan as of another day keeps saying so beside "Done".
    view_.SetStatusText(1, ScanDateNote_);
    PB_PauseClick();
}

// A pass that saved more stocks than got a notification of their own posts
// one for the pass: its change list when the history gives one.
void ScanDriver::PostPassNotices(const PassChanges* changes) {
    const int saves = PassSaves_;
    PassSaves_ = 0;
    if (saves <= kNoticesPerStock) return;
    if (changes == nullptr) {
        context_.notifications.Notify("Quillon: " + std::to_string(saves) + " saved", "");
        return;
    }
    std::string body;
    for (std::size_t i = 0; i < changes->Lines.size(); ++i) {
        const ChangeLine& line = changes->Lines[i];
        if (i == kNoticeLines) {
            body += "and " + std::to_string(changes->Lines.size() - i) + " more";
            break;
        }
        body += std::string(1, line.Mark) + " " + line.Symbol + "  " + line.Why + "\n";
    }
    while (!body.empty() && body.back() == '\n')
        body.pop_back();
    context_.notifications.Notify(ChangesNotice(*changes), body);
}

// A working file could not be written: the scan pauses, and the message says
// what was kept and what the next Go does.
void ScanDriver::PauseForFailure(const OutputFailure& failure) {
    AlarmTicks_ = 0;
    const std::string& ticker = context_.quote.Ticker;
    std::string what;
    switch (failure.What) {
        case OutputFailure::Step::Symbol:
            what = "The scan is paused at " + ticker + ", whose output was not written.";
            break;
        case OutputFailure::Step::ResumePoint:
            what = "The scan is paused after " + ticker +
                   ": the resume point could not be moved past the symbols written last, which "
                   "are scanned again.";
            break;
        case OutputFailure::Step::PassEnd:
            what = "Every symbol of the pass is written; the resume point of the next pass is not.";
            break;
    }
    const std::string& goOn = context_.advice.GoOn;
    PauseWithMessage(
        ScanStop::WriteFailed,
        failure.Message() + "\r\n" + what + " " +
            WriteFailureAdvice(failure.Error, failure.What == OutputFailure::Step::PassEnd
                                                  ? goOn + " to end the pass"
                                                  : goOn),
        "Cannot write " + failure.File.substr(failure.File.rfind('/') + 1));
}

void ScanDriver::ClearPendingOutput() {
    context_.pending.Clear();
    context_.replay.ReplayLine.clear();
}

}  // namespace quillon
