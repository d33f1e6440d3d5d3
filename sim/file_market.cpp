#include "sim/file_market.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "ingest/csv_rows.h"
#include "platform/number_format.h"

namespace quillon::sim {

namespace {

namespace fs = std::filesystem;
using import::BookStock;
using import::LeftOut;

constexpr std::size_t kRootLength = 3;

// An empty text field on a stock page: the parser reads a token that begins
// with "&nbsp;" as empty. A cell left blank would let the parser take the
// next label as the value.
constexpr const char* kEmptyCell = "&nbsp;";

bool EndsWithCsv(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".csv";
}

// Blanks for control characters, which would split a page field in two, and
// without the tag brackets, which the scan strips with what lies between.
std::string Clean(std::string_view text, bool keepBrackets) {
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 32 || byte == 127) {
            out += ' ';
        } else if (keepBrackets || (c != '<' && c != '>')) {
            out += c;
        }
    }
    const auto first = out.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

// A text value of the stock page's table.
std::string CellText(std::string_view text) {
    std::string out = Clean(text, false);
    return out.empty() ? kEmptyCell : out;
}

}  // namespace

bool FindMarketFiles(const std::string& dir, MarketFiles& files, std::string& error) {
    std::error_code code;
    std::vector<std::string> paths;
    for (fs::directory_iterator it(dir, code), end; !code && it != end; it.increment(code)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with('.') || !EndsWithCsv(name)) continue;
        std::error_code typeCode;
        if (!it->is_regular_file(typeCode)) continue;
        paths.push_back(it->path().string());
    }
    if (code) {
        error = dir + ": cannot read the directory: " + code.message();
        return false;
    }
    std::sort(paths.begin(), paths.end());
    files = {};
    for (const std::string& path : paths) {
        bool chain = false;
        import::TableHandlers handlers;
        handlers.onLayout = [&](const import::FileLayout& layout) {
            chain = layout.kind == import::FileLayout::Kind::Chain;
        };
        if (!import::ReadTableFile(path, {}, handlers, error, true)) return false;
        if (chain) {
            files.chainFiles.push_back(path);
        } else if (files.stocksFile.empty()) {
            files.stocksFile = path;
        } else {
            error = dir + ": two stock-quote files, " + files.stocksFile + " and " + path +
                    " (name the files with --stocks and --chains)";
            return false;
        }
    }
    if (files.chainFiles.empty()) {
        error = dir +
                ": no option-chain file (a .csv file with a contract symbol, or an expiration "
                "and a strike column)";
        return false;
    }
    return true;
}

std::unique_ptr<FileMarket> FileMarket::Load(const MarketFiles& files, const CivilDay& date,
                                             import::ImportSummary& summary, std::string& error,
                                             std::FILE* verbose) {
    std::unique_ptr<FileMarket> market(new FileMarket());
    import::ImportOptions options;
    options.date = date;
    options.verbose = verbose;
    if (!files.stocksFile.empty()) options.files.push_back({files.stocksFile, {}});
    for (const std::string& chain : files.chainFiles)
        options.files.push_back({chain, {}});
    if (!import::ReadIntoBook(options, market->book_, summary, error)) return nullptr;
    const import::ImportBook& book = *market->book_;
    summary.stocksWritten = static_cast<long>(book.Stocks().size());
    // Every kept option is served, the outer strikes and the third month too.
    summary.optionsWritten = summary.optionsKept;
    return market;
}

const BookStock* FileMarket::Find(std::string_view ticker) const {
    const auto& stocks = book_->Stocks();
    const auto it = std::lower_bound(
        stocks.begin(), stocks.end(), ticker,
        [](const BookStock& stock, std::string_view symbol) { return stock.row.Symbol < symbol; });
    return it != stocks.end() && it->row.Symbol == ticker ? &*it : nullptr;
}

std::optional<SimStock> FileMarket::Stock(std::string_view ticker) {
    const BookStock* found = Find(ticker);
    if (found == nullptr) return std::nullopt;
    const QuoteRecord& q = found->row.Quote;
    SimStock s;
    s.Ticker = found->row.Symbol;
    s.CompanyName = Clean(q.CompanyName, true);
    s.Exchange = CellText(q.Exchange);
    s.LastSale = q.LastSale;
    s.SaleTime = CellText(q.SaleTime);
    s.OpenPrice = q.OpenPrice;
    s.HighPrice = q.HighPrice;
    s.LowPrice = q.LowPrice;
    s.Volume = static_cast<double>(q.Volume);
    s.Bid = q.Bid;
    s.Ask = q.Ask;
    s.BidAskSize = CellText(q.BidAskSize);
    s.NetChange = q.NetChange;
    s.PercentChange = q.PercentChange;
    s.PreviousClose = q.PreviousClose;
    s.High52Week = q.High52Week;
    s.Low52Week = q.Low52Week;
    s.HistVolatility = q.HistVolatility;
    s.ExDividendDate = CellText(q.ExDividendDate);
    s.Dividend = q.Dividend;
    s.EarningsPerShare = q.EarningsPerShare;
    s.YieldPercent = q.YieldPercent;
    s.SharesOutstanding = static_cast<double>(q.SharesOutstanding);
    s.LastTick = CellText(q.LastTick);
    s.ListsOptions = found->HasOptions();
    s.OptionRoot = import::ArchiveRoot(s.Ticker);
    return s;
}

std::vector<SimOption> FileMarket::Options(const SimStock& stock) {
    std::vector<SimOption> rows;
    const BookStock* found = Find(stock.Ticker);
    if (found == nullptr) return rows;
    // The symbol the scan looks for: the root cut or padded to three
    // characters, the month letter and the strike letter.
    std::string root = import::ArchiveRoot(found->row.Symbol);
    root.resize(kRootLength, ' ');
    const ExpirationCalendar& calendar = book_->Calendar().calendar;
    for (int type = 0; type < kOptionTypes; ++type) {
        for (int strike = 0; strike < kStrikeSlots; ++strike) {
            for (int month = 0; month < kFilledMonthSlots; ++month) {
                const import::KeptOption& kept = found->options[type][strike][month];
                if (!kept.present) continue;
                SimOption row;
                row.Type = type;
                row.Month = month;
                row.Strike = found->strikes.StrikePrices[strike];
                row.Symbol = root + calendar.MonthLetters[type][month] +
                             found->strikes.StrikeLetters[strike];
                row.Last = kept.Last;
                row.Change = kept.Change;
                row.Bid = kept.Bid;
                row.Ask = kept.Ask;
                row.Volume = kept.Volume;
                row.OpenInterest = kept.OpenInterest;
                rows.push_back(std::move(row));
            }
        }
    }
    return rows;
}

std::string ServedSummaryText(const import::ImportSummary& summary, const std::string& source) {
    std::string text = import::SummaryText(summary, source);
    text.erase(0, text.find('\n') + 1);
    return CountedText(summary.stocksWritten, "stock", "stocks") + " and " +
           CountedText(summary.optionsWritten, "option", "options") + " served from " + source +
           "\n" + text;
}

}  // namespace quillon::sim
