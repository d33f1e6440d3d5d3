#include "results/report.h"

#include <cmath>
#include <string>

#include "analytics/iv_history.h"
#include "platform/date_format.h"
#include "platform/number_format.h"

namespace quillon {
namespace {

constexpr const char* kLineEnd = "\r\n";

// Bid and ask below a cent are shown as not available; the comparison is made on
// the stored 32-bit figure, so a quote of exactly 0.01 shows "$0.01".
constexpr float kLowestQuote = 0.01f;

// A price/earnings ratio of this value or above stands for "not available".
constexpr float kPriceEarningsNotAvailable = 100000.0f;

constexpr int kCellWidth = 22;  // the stock quote's first two columns

// The picture patterns of the report, each taken apart once.
const PicturePattern kPrice("0.#####");      // stock quote prices
const PicturePattern kCellPrice(" 0.####");  // option prices and time values
const PicturePattern kIntrinsic("0.####");   // intrinsic values
const PicturePattern kTwoPlaces("0.##");     // strikes and the price/earnings ratio
const PicturePattern kRatePercent("0.##%");  // the interest rate
const PicturePattern kPercent("0.#####%");   // yield and volatility
const PicturePattern kCapital("###,###,###,##0");
const PicturePattern kVolume("#,###,##0");
const PicturePattern kShares("#,###,###,###");

void AddLine(std::string& text, std::string_view line) {
    text += line;
    text += kLineEnd;
}

// A one-letter table entry as text; an entry never set is empty.
std::string LetterText(char letter) {
    return letter == '\0' ? std::string() : std::string(1, letter);
}

// A stored 32-bit figure goes into its picture pattern as its shortest decimal
// text (ShortestValue): 658.05, held as 658.0499878, shows as 658.05. Figures
// computed here in double (intrinsic and time values, the market capital) and
// the printf forms are shown as they are.
std::string Picture(const PicturePattern& pattern, float value) {
    return pattern.Format(ShortestValue(value));
}

// Price figures of the stock quote: up to five decimals, no separators.
std::string F5(float value) {
    return Picture(kPrice, value);
}

// A ZOR total: a whole number left-aligned in 12, or "n/a" padded to 12.
std::string Z12(float value) {
    return value > 0 ? FormatFixed(value, 0, -12) : "n/a         ";
}

// An option price cell of 7 characters: cut, not rounded, after 7 characters.
std::string C7(float value) {
    return value > 0 ? FitText(Picture(kCellPrice, value), 7) : " n/a   ";
}

// --- Heading and stock quote (lines 1 to 10) ---------------------------------------------------

std::string ProgressLine(const ReportView& view) {
    // The rate as its shortest text, scaled to per cent: 0.04125 shows 4.13%.
    const double percent = ShortestValue(view.InterestRate) * 100.0;
    return FitText("Saved " + std::to_string(view.ProcessCount), kCellWidth) +
           FitText("Progress  " + std::to_string(view.SymbolIndex) + "/" +
                       std::to_string(view.SymbolCount),
                   kCellWidth) +
           "Interest Rate " + kRatePercent.Format(percent);
}

std::string CompanyLine(const QuoteRecord& quote) {
    const auto capitalisation = static_cast<double>(quote.SharesOutstanding * quote.LastSale);
    return FitText(quote.CompanyName, 44) + "Mkt Cap.. $" + kCapital.Format(capitalisation);
}

std::string SymbolLine(const QuoteState& state) {
    return FitText("Symbol... " + state.Ticker, kCellWidth) +
           FitText("Last Tick " + state.Quote.LastTick, kCellWidth) + "Exchange. " +
           state.Quote.Exchange;
}

// Line 4. The ask cell is cut to 22 when it has a value but left at its own 13
// characters when it shows "n/a".
std::string LastBidAskLine(const QuoteRecord& quote) {
    std::string line = FitText("Last..... $" + F5(quote.LastSale), kCellWidth);
    line += quote.Bid < kLowestQuote ? FitText("Bid...... n/a", kCellWidth)
                                     : FitText("Bid...... $" + F5(quote.Bid), kCellWidth);
    line += quote.Ask < kLowestQuote ? std::string("Ask...... n/a")
                                     : FitText("Ask...... $" + F5(quote.Ask), kCellWidth);
    return line;
}

std::string ChangeLine(const QuoteRecord& quote) {
    const std::string percent = FormatFixed(quote.PercentChange, 2) + "%";
    return FitText("Change... $" + F5(quote.NetChange), kCellWidth) +
           FitText("% Change. " + percent, kCellWidth) + "Time..... " + quote.SaleTime;
}

std::string OpenHighLowLine(const QuoteRecord& quote) {
    return FitText("Open..... $" + F5(quote.OpenPrice), kCellWidth) +
           FitText("High..... $" + F5(quote.HighPrice), kCellWidth) + "Low...... $" +
           F5(quote.LowPrice);
}

std::string PreviousVolumeLine(const QuoteRecord& quote) {
    const std::string volume = kVolume.Format(static_cast<double>(quote.Volume));
    return FitText("Previous. $" + F5(quote.PreviousClose), kCellWidth) +
           FitText("Volume... " + volume, kCellWidth) + "B A Size. " + quote.BidAskSize;
}

std::string YearRangeLine(const QuoteRecord& quote) {
    return FitText("52 Wk Hi. $" + F5(quote.High52Week), kCellWidth) +
           FitText("52 Wk Lo. $" + F5(quote.Low52Week), kCellWidth) + "Ex-Div... " +
           quote.ExDividendDate;
}

std::string DividendLine(const QuoteRecord& quote) {
    const std::string volatility =
        quote.HistVolatility > 0 ? Picture(kPercent, quote.HistVolatility) : "n/a";
    return FitText("Dividend. $" + F5(quote.Dividend), kCellWidth) +
           FitText("Yield.... " + Picture(kPercent, quote.YieldPercent), kCellWidth) +
           "Volty.... " + volatility;
}

std::string EarningsLine(const QuoteRecord& quote) {
    const std::string ratio = quote.PriceEarnings >= kPriceEarningsNotAvailable
                                  ? "P/E Ratio n/a"
                                  : "P/E Ratio " + Picture(kTwoPlaces, quote.PriceEarnings);
    const std::string shares = kShares.Format(static_cast<double>(quote.SharesOutstanding));
    return FitText("Earn/Shr. $" + F5(quote.EarningsPerShare), kCellWidth) +
           FitText(ratio, kCellWidth) + "Shrs Out. " + shares;
}

void AddStockQuote(std::string& text, const ReportView& view) {
    const QuoteState& state = view.Quote;
    AddLine(text, ProgressLine(view));
    AddLine(text, CompanyLine(state.Quote));
    AddLine(text, SymbolLine(state));
    AddLine(text, LastBidAskLine(state.Quote));
    AddLine(text, ChangeLine(state.Quote));
    AddLine(text, OpenHighLowLine(state.Quote));
    AddLine(text, PreviousVolumeLine(state.Quote));
    AddLine(text, YearRangeLine(state.Quote));
    AddLine(text, DividendLine(state.Quote));
    AddLine(text, EarningsLine(state.Quote));
}

// --- ZOR totals (lines 12 to 14) ---------------------------------------------------------------

bool HaveBothZor(const OptionChain& chain) {
    return chain.TotalZOR[0] > 0 && chain.TotalZOR[1] > 0;
}

// The larger ZOR total over the smaller, named by which side is on top.
std::string RatioText(const OptionChain& chain) {
    if (!HaveBothZor(chain)) return "ZORC/ZORP n/a       ";
    const double calls = chain.TotalZOR[0];
    const double puts = chain.TotalZOR[1];
    if (calls >= puts) return "ZORC/ZORP " + FormatGeneral(calls / puts, 4);
    return "ZORP/ZORC " + FormatGeneral(puts / calls, 4);
}

// Without both ZOR totals the trend is unknown, whatever the verdict says.
std::string TrendText(const OptionChain& chain, Verdict trend) {
    return HaveBothZor(chain) && IsRatioSaved(trend) ? VerdictName(trend) : "?";
}

std::string Whole12(float value) {
    return FormatFixed(value, 0, -12);
}

void AddTotals(std::string& text, const ReportView& view) {
    const OptionChain& chain = view.Quote.Chain;
    AddLine(text, "Ttl ZORC. " + Z12(chain.TotalZOR[0]) + "Ttl ZORP. " + Z12(chain.TotalZOR[1]) +
                      RatioText(chain));
    AddLine(text, "Open Int. " + Whole12(chain.TotalOpenInterest[0]) + "Open Int. " +
                      Whole12(chain.TotalOpenInterest[1]) + "Trend.... " +
                      TrendText(chain, view.Trend));
    AddLine(text, "Volume... " + Whole12(chain.TotalVolume[0]) + "Volume... " +
                      Whole12(chain.TotalVolume[1]) + FormatDateTime(view.WrittenAt));
}

// --- Option table (lines 16 onwards) -----------------------------------------------------------

constexpr const char* kSeparator =
    "-------|-----------------------------|-----------------------------|";

void AddTableHeader(std::string& text) {
    AddLine(text, "Root   | Expiration:   Days          | Expiration:   Days          |");
    AddLine(text, "Symbol | Month  Date   To Go         | Month  Date   To Go         |");
    AddLine(text, kSeparator);
    AddLine(text, "IValue | Last   Bid    Ask           | Last   Bid    Ask           |");
    AddLine(text, "Strike |        Prc    OpnInt TValue |        Prc    OpnInt TValue |");
    AddLine(text, "Price  | Symbol ZOR    Volume        | Symbol ZOR    Volume        |");
}

constexpr int kShownMonths = 2;  // month slots 0 and 1
constexpr int kFirstShownStrike = 1;
constexpr int kLastShownStrike = 3;

// Root, then for each month its letter, expiration date and days to go.
std::string ExpirationLine(const ReportView& view, int type) {
    const ExpirationCalendar& calendar = view.Calendar;
    std::string line = FormatText(view.Quote.Quote.OptionRoot.c_str(), -7) + "|";
    for (int k = 0; k < kShownMonths; ++k) {
        line += " " + FormatText(LetterText(calendar.MonthLetters[type][k]).c_str(), -7);
        line += FitText(std::to_string(calendar.ExpirationMonth[k] + 1) + "/" +
                            std::to_string(calendar.ExpirationDay[k]),
                        6);
        line += " " + FormatInteger(calendar.DaysToExpiration[k], -13) + " |";
    }
    return line;
}

// What the stock price is above the strike (calls) or below it (puts); 0 when
// the option is not in the money or the stock has no price.
double IntrinsicValue(float lastSale, float strike, int type) {
    const double value =
        type == 0 ? static_cast<double>(lastSale) - strike : static_cast<double>(strike) - lastSale;
    return value > 0 && lastSale > 0 ? value : 0.0;
}

std::string IntrinsicValueLine(const OptionChain& chain, int type, int strike, double value) {
    std::string line = value > 0 ? FitText(kIntrinsic.Format(value), 6) + " |" : "0      |";
    for (int k = 0; k < kShownMonths; ++k) {
        line += C7(chain.OptLast[type][strike][k]) + C7(chain.OptBid[type][strike][k]) +
                C7(chain.OptAsk[type][strike][k]) + "        |";
    }
    return line;
}

// The strike, then per month the price ZOR was derived from, the open interest
// and the time value (that price less the intrinsic value).
std::string StrikeLine(const ReportView& view, int type, int strike, double value) {
    const OptionChain& chain = view.Quote.Chain;
    const bool fromLast = view.DeriveZorFrom == 0;
    std::string line = FitText(Picture(kTwoPlaces, view.Strikes.StrikePrices[strike]), 7) + "|";
    for (int k = 0; k < kShownMonths; ++k) {
        const float price =
            fromLast ? chain.OptLast[type][strike][k] : chain.OptAsk[type][strike][k];
        const float interest = chain.OptOpenInterest[type][strike][k];
        const double timeValue = price - value;
        line += "       " + C7(price);
        line += interest > 0 ? " " + FormatFixed(interest, 0, -6) : " n/a   ";
        line += timeValue >= 0 ? FitText(kCellPrice.Format(timeValue), 7) : " ------";
        line += " |";
    }
    return line;
}

// The strike letter, then per month the option symbol (rebuilt from root, month
// letter and strike letter when the page gave none), its ZOR and its volume.
std::string SymbolLetterLine(const ReportView& view, int type, int strike) {
    const OptionChain& chain = view.Quote.Chain;
    const std::string strikeLetter = LetterText(view.Strikes.StrikeLetters[strike]);
    std::string line = FormatText(strikeLetter.c_str(), -7) + "|";
    for (int k = 0; k < kShownMonths; ++k) {
        const std::string& symbol = chain.OptSymbol[type][strike][k];
        const std::string shown =
            !symbol.empty() ? symbol
                            : view.Quote.Quote.OptionRoot +
                                  LetterText(view.Calendar.MonthLetters[type][k]) + strikeLetter;
        const float zor = chain.OptZOR[type][strike][k];
        const float volume = chain.OptVolume[type][strike][k];
        line += FitText(" " + shown, 7);
        line += zor > 0 ? " " + FormatFixed(zor, 2, -6) : " n/a   ";
        line += volume > 0 ? " " + FormatFixed(volume, 0, -6) : " n/a   ";
        line += "        |";
    }
    return line;
}

// One type's 14 lines: banner, expirations, then four lines per shown strike.
void AddOptionSection(std::string& text, const ReportView& view, int type) {
    AddLine(text, type == 0
                      ? "*******|*********** Calls ***********|*********** Calls ***********|"
                      : "*******|*********** Puts  ***********|*********** Puts  ***********|");
    AddLine(text, ExpirationLine(view, type));
    for (int strike = kFirstShownStrike; strike <= kLastShownStrike; ++strike) {
        const double value =
            IntrinsicValue(view.Quote.Quote.LastSale, view.Strikes.StrikePrices[strike], type);
        AddLine(text, kSeparator);
        AddLine(text, IntrinsicValueLine(view.Quote.Chain, type, strike, value));
        AddLine(text, StrikeLine(view, type, strike, value));
        AddLine(text, SymbolLetterLine(view, type, strike));
    }
}

void AddNotes(std::string& text) {
    AddLine(text, "Notes:");
    AddLine(text, "  IValue: Intrinsic Value     Prc: Price used to calculate ZOR");
    AddLine(text, "  TValue: Time Value         Last: Last (or Latest) Price");
    AddLine(text, "  OpnInt: Open Interest   Mkt Cap: Market Capitalization");
    AddLine(text, "   Volty: Historical Volatility (provided by the quote server)");
}

}  // namespace

std::string FitText(std::string_view text, int width) {
    if (width <= 0) return {};
    const auto size = static_cast<std::size_t>(width);
    std::string fitted(text.substr(0, size));
    fitted.resize(size, ' ');
    return fitted;
}

std::string HistoryLine(const ReportHistory& history) {
    const auto figure = [](const std::optional<double>& value) {
        if (!value || !std::isfinite(*value)) return std::string("n/a");
        return FormatArgs("%.1f", *value);
    };
    return "IV30 " + figure(history.Iv30) + "  IV rank " +
           StandingText(history.Rank, history.Days) + "  IV pctl " +
           StandingText(history.Percentile, history.Days) + "  (" + std::to_string(history.Days) +
           " days of " + std::to_string(history.WindowWeeks) + " wk)  HV20 " + figure(history.Hv20);
}

std::string RenderReport(const ReportView& view) {
    std::string text;
    AddStockQuote(text, view);
    AddLine(text, "");
    AddTotals(text, view);
    if (view.History) AddLine(text, HistoryLine(*view.History));
    AddLine(text, "");
    AddTableHeader(text);
    AddOptionSection(text, view, 0);
    AddOptionSection(text, view, 1);
    AddLine(text, "");
    AddNotes(text);
    return text;
}

}  // namespace quillon
