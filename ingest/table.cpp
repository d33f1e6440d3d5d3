#include "ingest/table.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>

#include "platform/text.h"

namespace quillon::import {

namespace {

// A field without its blanks, and a line's CR after it.
std::string_view Trimmed(std::string_view text) {
    return TrimEnd(TrimStart(text, IsSpaceOrTab), IsSpaceTabOrCr);
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return out;
}

bool IsEmptyRow(const CsvRow& row) {
    for (const std::string& field : row.Fields) {
        if (!Trimmed(field).empty()) return false;
    }
    return true;
}

std::string_view FirstCell(const CsvRow& row) {
    for (const std::string& field : row.Fields) {
        if (!Trimmed(field).empty()) return Trimmed(field);
    }
    return {};
}

// The expiration a block's title line names ("17 OCT 25  (3)  100").
std::optional<CivilDay> TitleDate(const CsvRow& row) {
    const std::string_view first = FirstCell(row);
    return first.empty() ? std::nullopt : ParseLeadingDate(first);
}

bool IsScanSymbolText(std::string_view text) {
    if (text.empty() || text.size() > 6) return false;
    for (char c : text) {
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    }
    return true;
}

// The number after a label in a preamble cell ("Last: 658.05"), or nothing.
std::optional<double> LabelledNumber(std::string_view cell, std::string_view label) {
    cell = Trimmed(cell);
    if (cell.size() <= label.size() || Lower(cell.substr(0, label.size())) != label) return {};
    const Cell value = ReadCell(cell.substr(label.size()));
    if (value.kind != Cell::Number) return {};
    return value.value;
}

// What the lines before the header say: "SYM Name,Last: 658.05,Change: -1.13",
// "Date: October 14, 2025 at 4:15 PM", "... quote for SYM on 10/14/25 ...",
// and an UNDERLYING block (a title line, a header line, a values line).
bool IsPreambleLabel(std::string_view cell) {
    const std::string lower = Lower(cell);
    for (const char* label : {"last:", "change:", "bid:", "ask:", "volume:", "date:"}) {
        if (lower.starts_with(label)) return true;
    }
    return false;
}

Preamble ReadPreamble(const std::vector<CsvRow>& rows, std::size_t count) {
    Preamble p;
    QuoteRecord& q = p.quote;
    for (std::size_t r = 0; r < count; ++r) {
        const auto& fields = rows[r].Fields;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const std::string_view cell = Trimmed(fields[i]);
            // The first cell is the title, unless it is already a labelled
            // figure ("Last: 31.45" in a file without a title line).
            if (r == 0 && i == 0 && !cell.empty() && !IsPreambleLabel(cell)) {
                const std::string lower = Lower(cell);
                const std::size_t forAt = lower.find(" for ");
                if (forAt != std::string::npos) {
                    std::string_view rest = cell.substr(forAt + 5);
                    const std::size_t end = rest.find(' ');
                    const std::string symbol = SymbolOf(rest.substr(0, end));
                    if (IsScanSymbolText(symbol)) p.symbol = symbol;
                    const std::size_t onAt = lower.find(" on ", forAt);
                    if (onAt != std::string::npos) p.date = ParseLeadingDate(cell.substr(onAt + 4));
                } else {
                    // "^ORB Orbit 500 Index": tickers are written in capitals,
                    // so a first word such as "Stock" names none.
                    const std::size_t end = cell.find(' ');
                    std::string_view word = cell.substr(0, end);
                    if (!word.empty() && (word.front() == '^' || word.front() == '$'))
                        word.remove_prefix(1);
                    if (IsScanSymbolText(word)) {
                        p.symbol = std::string(word);
                        p.symbolGuessed = word.data() == cell.data();
                        if (end != std::string_view::npos)
                            q.CompanyName = std::string(Trimmed(cell.substr(end)));
                    }
                }
                continue;
            }
            if (auto v = LabelledNumber(cell, "last:")) q.LastSale = static_cast<float>(*v);
            if (auto v = LabelledNumber(cell, "change:")) q.NetChange = static_cast<float>(*v);
            if (auto v = LabelledNumber(cell, "bid:")) q.Bid = static_cast<float>(*v);
            if (auto v = LabelledNumber(cell, "ask:")) q.Ask = static_cast<float>(*v);
            if (auto v = LabelledNumber(cell, "volume:")) q.Volume = *v;
            if (Lower(cell).starts_with("date:")) p.date = ParseLeadingDate(cell.substr(5));
        }
        // UNDERLYING, then the names, then the values.
        if (Lower(FirstCell(rows[r])) == "underlying" && r + 2 < count) {
            const auto& names = rows[r + 1].Fields;
            const auto& values = rows[r + 2].Fields;
            for (std::size_t i = 0; i < names.size() && i < values.size(); ++i) {
                const std::string name = NormalizeColumnName(names[i]);
                const Cell value = ReadCell(values[i]);
                if (value.kind != Cell::Number) continue;
                const auto f = static_cast<float>(value.value);
                if (name == "last" || name == "lastprice" || name == "mark") {
                    if (name != "mark" || q.LastSale == 0) q.LastSale = f;
                } else if (name == "netchng" || name == "netchange" || name == "change") {
                    q.NetChange = f;
                } else if (name == "volume") {
                    q.Volume = value.value;
                } else if (name == "open") {
                    q.OpenPrice = f;
                } else if (name == "high") {
                    q.HighPrice = f;
                } else if (name == "low") {
                    q.LowPrice = f;
                } else if (name == "bid") {
                    q.Bid = f;
                } else if (name == "ask") {
                    q.Ask = f;
                }
            }
            r += 2;
        }
    }
    if (!(q.LastSale > 0)) q.LastSale = 0;
    return p;
}

bool HasChainColumn(const std::vector<std::string>& fields) {
    for (const std::string& field : fields) {
        std::string name = NormalizeColumnName(field);
        if (name.size() > 1 && (name.starts_with("c") || name.starts_with("p")) &&
            name.substr(1) == "strike")
            name = "strike";
        if (name == "strike" || name == "strikeprice" || name == "contractsymbol" ||
            name == "optionsymbol" || name == "occsymbol") {
            return true;
        }
    }
    return false;
}

// A title line that begins with a company's name ("SPDR S&P 500 ETF Trust")
// names no ticker: when the contract symbols of the rows after the header
// share no root with the title's first word, the stock is the root most of
// them have, and the whole title is its name.
void TakeRootOfContracts(const std::vector<CsvRow>& rows, std::size_t headerIndex,
                         Preamble& preamble) {
    if (!preamble.symbolGuessed) return;
    std::map<std::string, int> roots;
    for (std::size_t r = headerIndex + 1; r < rows.size(); ++r) {
        for (const std::string& field : rows[r].Fields) {
            if (const std::optional<ContractSymbol> contract = DecodeContractSymbol(field))
                ++roots[contract->Root];
        }
    }
    if (roots.empty() || roots.contains(preamble.symbol)) return;
    const auto most =
        std::max_element(roots.begin(), roots.end(),
                         [](const auto& a, const auto& b) { return a.second < b.second; });
    if (!IsScanSymbolText(most->first)) return;
    preamble.quote.CompanyName = preamble.symbol + " " + preamble.quote.CompanyName;
    if (preamble.quote.CompanyName.back() == ' ') preamble.quote.CompanyName.pop_back();
    preamble.symbol = most->first;
    preamble.symbolGuessed = false;
}

// The layout of a file from its first rows; false with `error` set.
bool Detect(const std::vector<CsvRow>& rows, const std::string& symbol, FileLayout& layout,
            std::size_t& headerIndex, std::string& error) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (!HasChainColumn(rows[i].Fields)) continue;
        layout.kind = FileLayout::Kind::Chain;
        layout.preamble = ReadPreamble(rows, i);
        // A price above the header without a ticker is that of the stock
        // --symbol names.
        if (layout.preamble.symbol.empty() && !symbol.empty()) layout.preamble.symbol = symbol;
        if (symbol.empty()) TakeRootOfContracts(rows, i, layout.preamble);
        layout.blocks = i > 0 && TitleDate(rows[i - 1]).has_value();
        RowContext context;
        context.underlying = symbol.empty() ? layout.preamble.symbol : symbol;
        std::string message;
        std::optional<OptionHeader> header =
            MatchOptionHeader(rows[i].Fields, message, context, layout.blocks);
        if (!header) {
            error = "line " + std::to_string(rows[i].Line) + ": " + message;
            return false;
        }
        layout.chain = std::move(*header);
        layout.quoteDates = layout.chain.column[kOptQuoteDate] >= 0;
        layout.headerLine = rows[i].Line;
        headerIndex = i;
        return true;
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::string message;
        std::optional<StockHeader> header =
            MatchStockHeader(rows[i].Fields, message, !symbol.empty());
        if (!header) continue;
        // A "symbol" column of contract symbols is an option chain.
        const int symbolColumn = header->column[kSymbol];
        if (symbolColumn >= 0 && i + 1 < rows.size() &&
            static_cast<std::size_t>(symbolColumn) < rows[i + 1].Fields.size() &&
            DecodeContractSymbol(rows[i + 1].Fields[static_cast<std::size_t>(symbolColumn)])) {
            std::optional<OptionHeader> chain = MatchOptionHeader(rows[i].Fields, message);
            if (!chain) {
                error = "line " + std::to_string(rows[i].Line) + ": " + message;
                return false;
            }
            layout.kind = FileLayout::Kind::Chain;
            layout.chain = std::move(*chain);
        } else {
            layout.kind = FileLayout::Kind::Stocks;
            layout.stocks = std::move(*header);
            layout.quoteDates = layout.stocks.column[kQuoteDate] >= 0;
        }
        layout.preamble = ReadPreamble(rows, i);
        layout.headerLine = rows[i].Line;
        headerIndex = i;
        return true;
    }
    error = rows.empty() ? "no header row (the file is empty)"
                         : "no header row among the first " + std::to_string(kHeaderSearchRows) +
                               " lines: looked for a stock file's 'symbol' and last price "
                               "('last', 'Last Sale', 'close') or an option chain's 'strike' "
                               "or 'contractSymbol'";
    return false;
}

bool SameRow(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Trimmed(a[i]) != Trimmed(b[i])) return false;
    }
    return true;
}

}  // namespace

std::string FileLayout::Name() const {
    if (kind == Kind::Stocks) {
        return quoteDates ? "stock quotes, one row per symbol and day" : "stock quotes";
    }
    std::string name = "option chain, ";
    name += chain.contractForm ? "contract symbols"
            : chain.sideBySide ? "calls and puts side by side"
                               : "separate columns";
    if (blocks) name += ", one block per expiration";
    if (quoteDates)
        name += ", quote dates in column '" +
                chain.names[static_cast<std::size_t>(chain.column[kOptQuoteDate])] + "'";
    if (chain.column[kUnderlyingPrice] >= 0) {
        name += ", underlying price in column '" +
                chain.names[static_cast<std::size_t>(chain.column[kUnderlyingPrice])] + "'";
    } else if (chain.column[kUnderlyingBid] >= 0 && chain.column[kUnderlyingAsk] >= 0) {
        name += ", underlying price from the midpoint of '" +
                chain.names[static_cast<std::size_t>(chain.column[kUnderlyingBid])] + "' and '" +
                chain.names[static_cast<std::size_t>(chain.column[kUnderlyingAsk])] + "'";
    } else if (preamble.quote.LastSale > 0) {
        name += ", underlying " + preamble.symbol + " priced above the header";
    } else {
        name += ", no underlying price";
    }
    return name;
}

bool ReadTable(CsvRowReader& reader, const std::string& symbol, const TableHandlers& handlers,
               std::string& error, bool layoutOnly) {
    std::vector<CsvRow> first;
    for (CsvRow row; first.size() < kHeaderSearchRows && reader.Next(row);)
        first.push_back(std::move(row));
    if (!reader.Error().empty()) {
        error = reader.Error();
        return false;
    }
    FileLayout layout;
    std::size_t headerIndex = 0;
    if (!Detect(first, symbol, layout, headerIndex, error)) return false;
    if (handlers.onLayout) handlers.onLayout(layout);
    if (layoutOnly) return true;

    RowContext context;
    context.underlying = symbol.empty() ? layout.preamble.symbol : symbol;
    context.quoteDate = layout.preamble.date;
    const std::vector<std::string> header = first[headerIndex].Fields;
    const int strikeColumn = layout.chain.column[kStrike];
    std::vector<OptionRow> options;
    auto handle = [&](const CsvRow& row) {
        if (IsEmptyRow(row)) return;
        if (layout.kind == FileLayout::Kind::Stocks) {
            RowProblem problem;
            std::optional<StockRow> stock =
                ReadStockRow(layout.stocks, row.Fields, problem, symbol);
            if (stock) {
                stock->Line = row.Line;
                if (!stock->QuoteDate) stock->QuoteDate = layout.preamble.date;
                handlers.onStock(std::move(*stock));
            } else {
                handlers.onSkip(row.Line, problem);
            }
            return;
        }
        if (SameRow(row.Fields, header)) return;
        if (layout.blocks) {
            const bool strikeIsNumber =
                strikeColumn >= 0 && static_cast<std::size_t>(strikeColumn) < row.Fields.size() &&
                ReadCell(row.Fields[static_cast<std::size_t>(strikeColumn)]).kind == Cell::Number;
            if (!strikeIsNumber) {
                if (const auto date = TitleDate(row)) {
                    context.expiration = date;
                    return;
                }
            }
        }
        RowProblem problem;
        if (!ReadOptionRows(layout.chain, row.Fields, context, options, problem)) {
            handlers.onSkip(row.Line, problem);
            return;
        }
        for (OptionRow& option : options) {
            option.Line = row.Line;
            handlers.onOption(option);
        }
    };
    // A title line just above the header opens the first block.
    if (layout.blocks) context.expiration = TitleDate(first[headerIndex - 1]);
    for (std::size_t i = headerIndex + 1; i < first.size(); ++i)
        handle(first[i]);
    for (CsvRow row; reader.Next(row);)
        handle(row);
    error = reader.Error();
    return error.empty();
}

bool ReadTableFile(const std::string& path, const std::string& symbol,
                   const TableHandlers& handlers, std::string& error, bool layoutOnly) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    bool ok = false;
    {
        CsvRowReader reader(file);
        ok = ReadTable(reader, symbol, handlers, error, layoutOnly);
    }
    std::fclose(file);
    if (!ok) error = path + ": " + error;
    return ok;
}

StockRow StockFromChain(const OptionRow& row, const Preamble& preamble) {
    StockRow stock;
    stock.Symbol = row.Underlying;
    if (preamble.quote.LastSale > 0 && preamble.symbol == row.Underlying)
        stock.Quote = preamble.quote;
    if (row.UnderlyingPrice > 0) stock.Quote.LastSale = static_cast<float>(row.UnderlyingPrice);
    if (stock.Quote.LastSale > 0) {
        stock.Quote.Volume = std::round(stock.Quote.Volume);
        stock.Quote.PriceEarnings = PriceEarningsOf(stock.Quote.LastSale, 0);
        stock.Line = row.Line;
    }
    return stock;
}

}  // namespace quillon::import
