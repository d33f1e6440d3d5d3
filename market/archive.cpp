#include "market/archive.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "platform/number_format.h"
#include "platform/number_read.h"
#include "platform/text.h"

namespace quillon {

namespace {

constexpr std::string_view kStockTag = "<STOCK>";
constexpr std::string_view kOptionsTag = "<OPTIONS>";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::size_t kRecordSymbolLength = 10;  // characters of the symbol after "<STOCK>"
constexpr std::size_t kRootLength = 3;           // an option root, blank-padded on replay
constexpr int kMaxOptionLines = 101;             // option lines collected per record
constexpr float kNotAvailablePE = 100000;

// The record's fields in file order: seven text lines, sixteen prices and
// two share counts.
constexpr std::array<std::string QuoteRecord::*, 7> kTextFields = {
    &QuoteRecord::CompanyName, &QuoteRecord::LastTick,   &QuoteRecord::Exchange,
    &QuoteRecord::SaleTime,    &QuoteRecord::BidAskSize, &QuoteRecord::ExDividendDate,
    &QuoteRecord::SpareText};
constexpr std::array<float QuoteRecord::*, 16> kPriceFields = {
    &QuoteRecord::LastSale,      &QuoteRecord::NetChange,
    &QuoteRecord::PercentChange, &QuoteRecord::Bid,
    &QuoteRecord::Ask,           &QuoteRecord::OpenPrice,
    &QuoteRecord::HighPrice,     &QuoteRecord::LowPrice,
    &QuoteRecord::PreviousClose, &QuoteRecord::High52Week,
    &QuoteRecord::Low52Week,     &QuoteRecord::HistVolatility,
    &QuoteRecord::Dividend,      &QuoteRecord::EarningsPerShare,
    &QuoteRecord::PriceEarnings, &QuoteRecord::YieldPercent};
constexpr std::array<Extended QuoteRecord::*, 2> kShareFields = {&QuoteRecord::Volume,
                                                                 &QuoteRecord::SharesOutstanding};

// The numeric fields of an option line in order; the first four are prices,
// the last two contract counts.
constexpr std::array<ChainArray<float> OptionChain::*, 6> kOptionFields = {
    &OptionChain::OptLast, &OptionChain::OptColumn2, &OptionChain::OptBid,
    &OptionChain::OptAsk,  &OptionChain::OptVolume,  &OptionChain::OptOpenInterest};
constexpr std::size_t kOptionPriceFields = 4;

// ------------------------------------------------------------------ writing

// Prices with up to five decimals, counts as whole numbers. A 32-bit figure is
// written as its shortest decimal text rounded by the pattern: 658.05, held as
// 658.0499878, is written "658.05", and the text reads back to the same float.
const PicturePattern kPricePattern("0.#####");
const PicturePattern kWholePattern("0");

std::string Price(float value) {
    return kPricePattern.Format(ShortestValue(value));
}
std::string Whole(float value) {
    return kWholePattern.Format(ShortestValue(value));
}
// Volume and shares outstanding are held in extended precision, not 32 bits.
std::string Whole(Extended value) {
    return kWholePattern.Format(static_cast<double>(value));
}

void AppendLine(std::string& text, std::string_view line) {
    text += line;
    text += kLineEnd;
}

// A text field as one archive line: a line end inside it would split the
// field and shift every field after it on replay, so it is written as a blank.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    return text;
}

std::string PadRight(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// Trailing blanks, and trailing control characters with them, carry nothing.
void TrimTrailingBlanks(std::string& text) {
    text.resize(TrimEnd(text, IsSpaceOrControl).size());
}

void AppendStockLines(std::string& out, const QuoteState& quote) {
    const QuoteRecord& q = quote.Quote;
    AppendLine(out, std::string(kStockTag) + quote.Ticker);
    for (auto field : kTextFields)
        AppendLine(out, OneLine(q.*field));
    for (auto field : kPriceFields)
        AppendLine(out, Price(q.*field));
    for (auto field : kShareFields)
        AppendLine(out, Whole(q.*field));
}

std::string OptionLine(const OptionChain& chain, const OptionEntry& e) {
    std::string line = OneLine(chain.OptSymbol[e.Type][e.Strike][e.Month]);
    for (std::size_t i = 0; i < kOptionFields.size(); ++i) {
        const float value = (chain.*kOptionFields[i])[e.Type][e.Strike][e.Month];
        line += ',';
        line += i < kOptionPriceFields ? Price(value) : Whole(value);
    }
    return line;
}

void AppendOptionsSection(std::string& out, const QuoteState& quote) {
    AppendLine(out, std::string(kOptionsTag) + OneLine(quote.Quote.OptionRoot));
    ForEachNearMoneyOption(
        [&](const OptionEntry& entry) { AppendLine(out, OptionLine(quote.Chain, entry)); });
}

// Ticker, "i", the writing time as "m/d/y,h:mm", open, high, low, last and
// volume, each followed by ",".
std::string AscQuoteLine(const QuoteState& quote, const DateTime& now) {
    const QuoteRecord& q = quote.Quote;
    std::string line = quote.Ticker + ",i,";
    line += FormatInteger(now.Month) + "/" + FormatInteger(now.Day) + "/" +
            FormatZeroFilled(now.Year % 100, 2) + "," + FormatInteger(now.Hour) + ":" +
            FormatZeroFilled(now.Minute, 2) + ",";
    for (float price : {q.OpenPrice, q.HighPrice, q.LowPrice, q.LastSale})
        line += Price(price) + ",";
    line += Whole(q.Volume) + ",";
    return line;
}

// ------------------------------------------------------------------ reading

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ' || c == 0x7F;
}

// A number as a 32-bit field: values beyond the largest float that still
// round to it are taken as it; larger ones do not fit and are no number.
std::optional<float> AsFloat(std::optional<double> value) {
    constexpr double kRoundsToInfinity = 0x1.ffffffp127;  // halfway past FLT_MAX
    if (!value || std::fabs(*value) >= kRoundsToInfinity) return std::nullopt;
    if (std::fabs(*value) > FLT_MAX) return *value < 0 ? -FLT_MAX : FLT_MAX;
    return static_cast<float>(*value);
}

// Reads the next number of the record: blanks and line ends before the token
// are skipped, the token ends at a blank or control character, and the rest
// of its line is dropped. At the end of the file the number is 0. Nothing
// when the token is not a number.
std::optional<double> ReadNumber(LineReader& file) {
    while (!file.AtEnd()) {
        const std::string_view line = file.NextLine();
        std::size_t start = 0;
        while (start < line.size() && IsBlank(line[start]))
            ++start;
        if (start == line.size()) continue;  // nothing but blanks: the token is further on
        std::size_t end = start;
        while (end < line.size() && !IsBlankOrControl(line[end]))
            ++end;
        if (end == start) return std::nullopt;
        return ParseDecimalNumber(line.substr(start, end - start));
    }
    return 0.0;
}

// Moves ReplayLine forward to the record of `ticker`. False when the file
// ends first or a record of a later symbol comes first; that header then
// stays in ReplayLine for a later symbol.
bool FindRecord(LineReader& file, std::string& replayLine, const std::string& ticker) {
    for (;;) {
        if (!replayLine.starts_with(kStockTag)) {
            replayLine.assign(file.NextLine());
            if (file.AtEnd()) return false;
            continue;
        }
        const std::string_view symbol =
            std::string_view(replayLine).substr(kStockTag.size(), kRecordSymbolLength);
        const int order = symbol.compare(ticker);
        if (order > 0) return false;
        if (order == 0) return true;
        replayLine.clear();  // an earlier symbol's record: skip it
    }
}

// The text and number lines of the record, then the P/E from them. False at
// a number that is not a number.
bool ReadStockPart(LineReader& file, QuoteRecord& q) {
    for (auto field : kTextFields)
        (q.*field).assign(file.NextLine());
    for (auto field : kPriceFields) {
        const std::optional<float> value = AsFloat(ReadNumber(file));
        if (!value) return false;
        q.*field = *value;
    }
    for (auto field : kShareFields) {
        const std::optional<double> value = ReadNumber(file);
        if (!value) return false;
        q.*field = *value;
    }
    // The P/E always follows from the price and the earnings; any earnings
    // other than zero count, however small.
    if (q.EarningsPerShare != 0) {
        const double pe = static_cast<double>(q.LastSale) / q.EarningsPerShare;
        q.PriceEarnings = static_cast<float>(std::clamp(pe, -double{FLT_MAX}, double{FLT_MAX}));
    } else {
        q.PriceEarnings = kNotAvailablePE;
    }
    return true;
}

// The option lines after the "<OPTIONS>" line, at most 101 of them, up to the
// next line beginning with "<", which stays in ReplayLine. At the end of the
// file every read gives an empty line. The lines go to `lines`, whose strings
// are reused from one record to the next; `count` of them are this record's.
void CollectOptionLines(LineReader& file, std::string& replayLine, std::vector<std::string>& lines,
                        std::size_t& count) {
    count = 0;
    for (int i = 0; i < kMaxOptionLines; ++i) {
        const std::string_view line = file.NextLine();
        if (line.starts_with('<')) {
            replayLine.assign(line);
            return;
        }
        if (count == lines.size()) lines.emplace_back();
        lines[count++].assign(line);
    }
    // The last line collected is also the line read last.
    replayLine = count > 0 ? lines[count - 1] : std::string();
}

// Stores, for each archived entry, the first collected line that begins with
// the entry's option symbol as the replay date's calendar and the stock's
// strike table spell it. False at an option field that is not a number.
bool StoreOptions(QuoteState& quote, const OptionTables& tables,
                  const std::vector<std::string>& lines, std::size_t count) {
    const std::string& root = quote.Quote.OptionRoot;
    bool ok = true;
    std::string key;
    ForEachNearMoneyOption([&](const OptionEntry& e) {
        if (!ok) return;
        key = root;
        key += tables.Calendar.MonthLetters[e.Type][e.Month];
        key += tables.Strikes.StrikeLetters[e.Strike];
        for (std::size_t i = 0; i < count; ++i) {
            const std::string& line = lines[i];
            if (!line.starts_with(key)) continue;
            ok = ParseOptionLine(line, quote.Chain, e);
            if (ok) quote.HaveOptionData = true;
            break;
        }
    });
    return ok;
}

}  // namespace

// ------------------------------------------------------------------ interface

void AddBadSymbol(const std::string& ticker, const ArchiveTexts& out) {
    AppendLine(out.BadSym, ticker);
}

void AddGoodSymbol(QuoteState& quote, bool optionFiltersActive, const ArchiveTexts& out) {
    QuoteRecord& q = quote.Quote;
    if (optionFiltersActive && q.OptionRoot.empty()) {
        AddBadSymbol(quote.Ticker, out);
        return;
    }
    TrimTrailingBlanks(q.CompanyName);
    AppendLine(out.GoodSym, PadRight(quote.Ticker, 8) + " " + PadRight(q.OptionRoot, 5) + " " +
                                OneLine(q.CompanyName));
}

void SaveQuote(QuoteState& quote, bool optionFiltersActive, const DateTime& now,
               const ArchiveTexts& out) {
    if (!quote.HaveStockData) {
        AddBadSymbol(quote.Ticker, out);
        return;
    }
    AddGoodSymbol(quote, optionFiltersActive, out);
    AppendStockLines(out.Quote, quote);
    if (quote.HaveOptionData) AppendOptionsSection(out.Quote, quote);
    AppendLine(out.AscQuote, AscQuoteLine(quote, now));
}

bool ParseOptionLine(std::string_view line, OptionChain& chain, const OptionEntry& e) {
    if (line.empty()) return true;
    std::size_t comma = line.find(',');
    chain.OptSymbol[e.Type][e.Strike][e.Month].assign(line.substr(0, comma));
    for (auto field : kOptionFields) {
        if (comma == std::string_view::npos || comma + 1 >= line.size()) return true;
        const std::size_t start = comma + 1;
        comma = line.find(',', start);
        const std::optional<float> value =
            AsFloat(ParseDecimalNumber(line.substr(start, comma - start)));
        if (!value) return false;
        (chain.*field)[e.Type][e.Strike][e.Month] = *value;
    }
    return true;
}

bool ReplayStockPart(QuoteState& quote, ReplayState& replay) {
    quote.HaveStockData = false;
    quote.HaveOptionData = false;
    ResetQuote(quote);

    if (!FindRecord(replay.LocalQuoteFile, replay.ReplayLine, quote.Ticker)) return false;
    if (!ReadStockPart(replay.LocalQuoteFile, quote.Quote)) return false;
    quote.HaveStockData = true;
    return true;
}

void ReplayOptionPart(QuoteState& quote, ReplayState& replay, const OptionTables& tables) {
    replay.ReplayLine.assign(replay.LocalQuoteFile.NextLine());
    if (!replay.ReplayLine.starts_with(kOptionsTag)) return;  // no options; a header stays
    const std::string_view root =
        std::string_view(replay.ReplayLine).substr(kOptionsTag.size(), kRootLength);
    quote.Quote.OptionRoot.assign(root);
    quote.Quote.OptionRoot.resize(kRootLength, ' ');  // blank-padded

    std::size_t count = 0;
    CollectOptionLines(replay.LocalQuoteFile, replay.ReplayLine, replay.OptionLines, count);
    StoreOptions(quote, tables, replay.OptionLines, count);
}

}  // namespace quillon
