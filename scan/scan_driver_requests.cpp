// The scan driver's side of the conversation with the quote server: sending
// a request, the time-outs, failed requests, and the socket's events.
#include <array>
#include <cstring>

#include "platform/number_format.h"
#include "scan/scan_driver.h"

namespace quillon {

// ---------------------------------------------------------------- requests

void ScanDriver::CheckTimeout() {
    // A reply that keeps trickling in re-arms the time-out with every chunk;
    // the whole request still has its limit.
    const bool overdue = ScanState_ == AwaitReply && RequestSent_ && RequestTicks_ == 0;
    if ((TimeoutTicks_ != 0 && !overdue) || !EverConnected_) return;
    RequestSent_ = false;
    socket_.Disconnect();
    view_.SetStatusText(1, kTimeoutRetry);
    RetryPending_ = true;
    ScanState_ = NextSymbol;
}

std::string ScanDriver::CurrentRequest() const {
    const std::string& prefix = RequestPhase_ == 0 ? StockRequestPrefix_ : OptionRequestPrefix_;
    return BuildRequest(prefix, context_.quote.Ticker, AuthHeader_);
}

void ScanDriver::DoSendRequest() {
    const std::string& ticker = context_.quote.Ticker;
    view_.SetStatusText(0, RequestPhase_ == 0 ? "Requesting stock data of " + ticker
                                              : "Requesting options data of " + ticker);
    socket_.SetText(CurrentRequest());
    context_.quote.PageText.clear();
    TimeoutTicks_ = kTimeoutTicks;
    RequestTicks_ = kRequestLimitTicks;
    RequestSent_ = true;
    ReplyBytes_ = 0;
    ScanState_ = AwaitReply;
}

// A request that ended without a reply (closed before it was sent or before a
// byte came back, or a reply too large to be a page) is repeated like one that
// timed out; after a few such tries the symbol is listed as bad. A reply too
// large says so, in the window and when its symbol is listed.
void ScanDriver::FailedRequest(RequestFailure failure) {
    socket_.Disconnect();
    RequestSent_ = false;
    context_.quote.PageText.clear();
    RetryPending_ = true;
    ScanState_ = NextSymbol;
    const bool tooLarge = failure == RequestFailure::TooLarge;
    FailureText_ = (tooLarge ? kReplyTooLargeFor : kNoReplyFor) + context_.quote.Ticker;
    if (++EmptyReplies_ > kEmptyReplyRetries) {
        // Listed by the next step: writing is work for a step, not an event.
        GiveUpPending_ = true;
        return;
    }
    view_.SetStatusText(1, tooLarge ? FailureText_ : std::string(kTimeoutRetry));
}

void ScanDriver::GiveUpSymbol() {
    // A symbol that ends without a refusal breaks a row of refused ones.
    RefusedSymbol_.clear();
    ListAsBad(FailureText_.empty() ? kNoReplyFor + context_.quote.Ticker : FailureText_);
}

// The symbol goes to BadSym.txt through the pending texts, with the resume
// point past it, and is written as any finished symbol is.
void ScanDriver::ListAsBad(const std::string& reason) {
    ScanCounters& counters = context_.counters;
    GiveUpPending_ = false;
    RetryPending_ = false;
    EmptyReplies_ = 0;
    FailureText_.clear();
    RequestPhase_ = 0;
    ++counters.SymbolIndex;
    context_.pending.PendingBadSym += context_.quote.Ticker + "\r\n";
    context_.pending.PendingProgress =
        FormatArgs("%d %d", counters.ProcessCount, counters.SymbolIndex);
    ScanState_ = NextSymbol;
    const std::string ticker = context_.quote.Ticker;
    if (!EndOfSymbol(false)) return;  // paused by a write failure
    NoQuoteSymbols_.push_back(ticker);
    if (ScanState_ != NextSymbol) return;  // paused by a failed end of the pass
    view_.SetStatusText(1, reason + kListedAsBad);
    // The next step takes the next symbol.
    PrevState_ = kNoState;
}

// 401 and 407 are always the login's. A 403 may be the server's answer for
// one symbol it will not quote: it is the login's only when nothing of this
// run has been answered yet, or when the symbol before was refused too.
bool ScanDriver::RefusalIsTheLogin(int status) const {
    if (status != 403) return true;
    if (!AnsweredInRun_) return true;
    return !RefusedSymbol_.empty() && RefusedSymbol_ != context_.quote.Ticker;
}

// ---------------------------------------------------------------- socket events

void ScanDriver::Sockets1SessionConnected() {
    EverConnected_ = true;
    ScanState_ = Connected;
}

void ScanDriver::Sockets1DataNeeded() {
    ScanState_ = SendRequest;
}

void ScanDriver::Sockets1DataAvailable() {
    std::string& page = context_.quote.PageText;
    std::array<char, kReceiveChunk + 1> buffer{};
    for (;;) {
        int received = socket_.SReceive(buffer.data(), kReceiveChunk);
        if (received < 1) break;
        if (received > kReceiveChunk) received = kReceiveChunk;
        // Bytes before the request went out, or after it was given up,
        // belong to no reply.
        if (!RequestSent_) continue;
        ReplyBytes_ += static_cast<std::size_t>(received);
        if (ReplyBytes_ > kMaxPageBytes) {
            // No quote page is this large: a server that never stops sending
            // must not fill the memory. The page holds no more bytes than
            // came in, so the room reserved below is enough.
            FailedRequest(RequestFailure::TooLarge);
            return;
        }
        // A chunk counts as a zero-terminated text: the bytes after a zero
        // byte in it are dropped on purpose, so that a reply reads the same
        // as it always has (a zero byte has no place in a quote page). Only
        // "a" to "z" are raised; bytes from 0x80 stay as they are.
        const void* zero = std::memchr(buffer.data(), '\0', static_cast<std::size_t>(received));
        const std::size_t kept =
            zero != nullptr
                ? static_cast<std::size_t>(static_cast<const char*>(zero) - buffer.data())
                : static_cast<std::size_t>(received);
        const std::size_t at = page.size();
        if (at + kept > page.capacity() && at >= kLargePageBytes) {
            // Doubling a page of megabytes would copy it into fresh memory
            // within one socket event and hold the window up; the room for
            // the largest page is only address space until bytes arrive.
            page.reserve(kMaxPageBytes);
        }
        page.append(buffer.data(), kept);
        for (std::size_t i = at; i < page.size(); ++i) {
            const char c = page[i];
            if (c >= 'a' && c <= 'z') page[i] = static_cast<char>(c - 'a' + 'A');
        }
    }
    if (!RequestSent_) return;
    view_.SetStatusText(1, FormatArgs("Receiving %zu Bytes", page.size()));
    TimeoutTicks_ = kTimeoutTicks;
}

void ScanDriver::Sockets1SessionClosed() {
    if (!RequestSent_ || ReplyBytes_ == 0) {
        // Closed before the request went out (an idle connection dropped
        // while paused) or before a byte came back: whatever PageText holds
        // is not this request's reply.
        FailedRequest(RequestFailure::NoReply);
        return;
    }
    RequestSent_ = false;
    socket_.Disconnect();
    view_.SetStatusText(1, FormatArgs("Received %zu Bytes Total", context_.quote.PageText.size()));
    ForgetStripping();
    ScanState_ = ProcessReply;
}

// The error's text names the server, which the status panels show nowhere
// else once a connection is made.
void ScanDriver::Sockets1ErrorOccurred(int error, const std::string& message) {
    (void)error;
    view_.SetStatusText(1, message + " (" + ServerAddress() + ")");
    context_.outputs.CloseOutputFiles();
}

}  // namespace quillon
