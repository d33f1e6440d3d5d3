// Any bytes as the local quote file Quote.txt: replaying a pass of symbols
// (those the bytes name in record headers, plus "A", "IBM" and "ZZZZZZ", in
// ascending order) never crashes, hangs or grows without bound. A stock that
// replays is then written by the archive writer and replayed from that; after
// one such round the written text no longer changes, so every record the
// writer produces reads back to the same stock.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "market/archive.h"
#include "scan/scan_parts.h"

namespace {

using quillon::Context;

constexpr std::size_t kMaxTickers = 16;

// Scratch files of this process, removed when the process ends; in memory
// when the machine has /dev/shm, as a disk file costs more than the replay.
struct ScratchFile {
    explicit ScratchFile(const char* tag)
        : name(std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
               "/quillon-fuzz-replay-" + tag + "-" + std::to_string(::getpid())) {}
    ~ScratchFile() { std::remove(name.c_str()); }
    std::string name;
};

void WriteFile(const std::string& name, std::string_view bytes) {
    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (file == nullptr) std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

// The symbols of the record headers in the bytes, and a few fixed ones.
std::set<std::string> TickersOf(std::string_view bytes) {
    std::set<std::string> tickers = {"A", "IBM", "ZZZZZZ"};
    constexpr std::string_view kTag = "<STOCK>";
    for (std::size_t at = bytes.find(kTag);
         at != std::string_view::npos && tickers.size() < kMaxTickers;
         at = bytes.find(kTag, at + 1)) {
        if (at != 0 && bytes[at - 1] != '\n') continue;
        std::string_view symbol = bytes.substr(at + kTag.size(), 10);
        symbol = symbol.substr(0, std::min(symbol.find('\n'), symbol.size()));
        if (symbol.ends_with('\r')) symbol.remove_suffix(1);
        if (!symbol.empty()) tickers.insert(std::string(symbol));
    }
    return tickers;
}

struct Harness {
    quillon::FixedClock clock{quillon::DateTime{2026, 12, 1, 9, 5}};
    quillon::ScriptedMessages messages;
    quillon::SilentBeeper beeper;
};

// Replays `ticker` from `name` in a fresh context and writes what it got.
// False when the stock got no data.
bool ReplayAndSave(Harness& h, const std::string& name, const std::string& ticker,
                   quillon::PendingOutput& written) {
    Context context(h.clock, h.messages, h.beeper);
    if (!context.replay.LocalQuoteFile.Open(name)) std::abort();
    context.quote.Ticker = ticker;
    quillon::ReplayQuote(context);
    if (!context.quote.HaveStockData) return false;
    quillon::SaveQuote(context);
    written = context.pending;
    return true;
}

// Share counts so near the largest 64-bit float that their 15-digit written
// form lies beyond it and cannot be read back.
bool HugeShareCounts(const quillon::QuoteRecord& q) {
    constexpr long double kLargest = 1.79769313486231e308L;
    return std::fabs(q.Volume) > kLargest || std::fabs(q.SharesOutstanding) > kLargest;
}

bool SameText(const quillon::PendingOutput& a, const quillon::PendingOutput& b) {
    return a.PendingQuote == b.PendingQuote && a.PendingAscQuote == b.PendingAscQuote &&
           a.PendingGoodSym == b.PendingGoodSym && a.PendingBadSym == b.PendingBadSym;
}

// Writes the replayed stock, replays that twice more: the second and third
// writes agree.
void CheckRoundTrip(Harness& h, const std::string& ticker, const Context& replayed) {
    static const ScratchFile scratch("written");
    Context writer(h.clock, h.messages, h.beeper);
    writer.quote = replayed.quote;
    quillon::SaveQuote(writer);

    quillon::PendingOutput second, third;
    WriteFile(scratch.name, writer.pending.PendingQuote);
    if (!ReplayAndSave(h, scratch.name, ticker, second)) {
        if (HugeShareCounts(replayed.quote.Quote)) return;
        std::abort();
    }
    WriteFile(scratch.name, second.PendingQuote);
    if (!ReplayAndSave(h, scratch.name, ticker, third) || !SameText(second, third)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const ScratchFile scratch("input");
    static Harness h;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    WriteFile(scratch.name, bytes);

    Context context(h.clock, h.messages, h.beeper);
    if (!context.replay.LocalQuoteFile.Open(scratch.name)) std::abort();
    // The round trip costs four times the replay; it runs for one stock of
    // one input in four (picked by size, so a crash reproduces) to keep the
    // target fast.
    bool checked = size % 4 != 0;
    for (const std::string& ticker : TickersOf(bytes)) {
        context.quote.Ticker = ticker;
        quillon::ReplayQuote(context);
        if (context.replay.ReplayLine.size() > quillon::LineReader::kMaxLineLength) std::abort();
        if (context.quote.HaveStockData && !checked) {
            CheckRoundTrip(h, ticker, context);
            checked = true;
        }
    }
    return 0;
}
