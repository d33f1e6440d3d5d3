#include "ingest/importer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string_view>
#include <system_error>

#include "market/archive.h"
#include "platform/files.h"
#include "platform/number_format.h"
#include "platform/workdir.h"
#include "results/archive_date.h"
#include "results/chain_iv30.h"
#include "results/settings.h"

namespace quillon::import {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool WriteAll(std::FILE* file, const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

// A temporary file older than this was left by an import that was killed: a
// running import writes into its own temporary files all along, so theirs
// are younger.
constexpr std::chrono::seconds kLeftoverAge{60};

}  // namespace

namespace {

std::string FileName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The import date: --date, or the one quote date the files hold, or today.
bool ChooseDate(const ImportOptions& options, ImportSummary& summary, std::string& error) {
    if (options.date) {
        summary.date = *options.date;
        summary.dateSource = "--date";
        return true;
    }
    std::map<CivilDay, long> dates;
    for (const ImportInput& input : options.files) {
        bool dated = false;
        TableHandlers handlers;
        handlers.onLayout = [&](const FileLayout& layout) {
            dated = layout.quoteDates || layout.preamble.date;
        };
        std::string ignored;
        // Layouts are checked again, with their errors, by the reading.
        if (!ReadTableFile(input.path, input.symbol, handlers, ignored, true) || !dated) continue;
        handlers.onLayout = nullptr;
        handlers.onStock = [&](StockRow row) {
            if (row.QuoteDate) ++dates[*row.QuoteDate];
        };
        handlers.onOption = [&](const OptionRow& row) {
            if (row.QuoteDate) ++dates[*row.QuoteDate];
        };
        handlers.onSkip = [](long, const RowProblem&) {};
        ReadTableFile(input.path, input.symbol, handlers, ignored);
    }
    if (dates.empty()) {
        summary.date = options.today;
        summary.dateSource = "today";
        return true;
    }
    if (dates.size() == 1) {
        summary.date = dates.begin()->first;
        summary.dateSource = "the files' quote date";
        return true;
    }
    error = "the files hold quotes of " + std::to_string(dates.size()) + " days: ";
    if (dates.size() <= 8) {
        bool first = true;
        for (const auto& [date, rows] : dates) {
            error += (first ? "" : ", ") + date.IsoText() + " (" + std::to_string(rows) + " rows)";
            first = false;
        }
    } else {
        error +=
            "from " + dates.begin()->first.IsoText() + " to " + dates.rbegin()->first.IsoText();
    }
    error += "; choose one with --date YYYY-MM-DD";
    return false;
}

}  // namespace

namespace {

// What reading the files into a book keeps between its steps: the counts go
// to the summary, each row skipped to the verbose output.
struct BookReader {
    const ImportOptions& options;
    ImportBook& book;
    ImportSummary& summary;
    std::string& error;
    // The first row skipped for a date that could not be read, should no
    // stock be read at all.
    std::optional<RowProblem> badDate;
    // The stock rows skipped, by symbol: the first of each.
    std::map<std::string, std::string> skippedStocks;
    // Why an underlying's options are left out, by symbol.
    std::map<std::string, std::string> unpriced;

    void Tell(const std::string& text) const {
        if (options.verbose != nullptr) std::fprintf(options.verbose, "%s\n", text.c_str());
    }
    void NoteDate(const RowProblem& problem) {
        if (problem.fault == RowFault::BadQuoteDate && !badDate) badDate = problem;
    }

    bool ReadLayouts(std::vector<FileLayout>& layouts);
    bool ReadStocks(const std::vector<FileLayout>& layouts);
    void SetHandPrices();
    bool ReadChains(const std::vector<FileLayout>& layouts);
    void PriceFromChain(const OptionRow& row, const Preamble& preamble, const std::string& path);
    bool Finish();
};

// The layouts first: stock files are read before the chains, so that a
// stock file's quote wins over a chain's underlying price.
bool BookReader::ReadLayouts(std::vector<FileLayout>& layouts) {
    layouts.resize(options.files.size());
    for (std::size_t i = 0; i < options.files.size(); ++i) {
        TableHandlers handlers;
        handlers.onLayout = [&](const FileLayout& layout) { layouts[i] = layout; };
        if (!ReadTableFile(options.files[i].path, options.files[i].symbol, handlers, error, true))
            return false;
        summary.files.push_back(
            {options.files[i].path, layouts[i].Name(), layouts[i].kind == FileLayout::Kind::Chain});
        summary.chainGiven = summary.chainGiven || summary.files.back().chain;
    }
    return true;
}

bool BookReader::ReadStocks(const std::vector<FileLayout>& layouts) {
    for (std::size_t i = 0; i < options.files.size(); ++i) {
        if (layouts[i].kind != FileLayout::Kind::Stocks) continue;
        const std::string& path = options.files[i].path;
        TableHandlers handlers;
        handlers.onStock = [&](StockRow row) {
            ++summary.stockRows;
            if (row.QuoteDate && *row.QuoteDate != summary.date) {
                ++summary.otherDateStocks;
                return;
            }
            book.AddStock(std::move(row));
        };
        handlers.onSkip = [&](long line, const RowProblem& problem) {
            ++summary.stockRows;
            ++summary.stockFaults[static_cast<int>(problem.fault)];
            NoteDate(problem);
            if (!problem.symbol.empty() && skippedStocks.count(problem.symbol) == 0)
                skippedStocks[problem.symbol] = DescribeRowProblem(path, line, problem);
            Tell(DescribeRowProblem(path, line, problem) + ": row skipped");
        };
        if (!ReadTableFile(path, options.files[i].symbol, handlers, error)) return false;
    }
    for (const StockRow& dropped : book.FinishStocks()) {
        ++summary.duplicateStocks;
        Tell(std::to_string(dropped.Line) + ": second row of " + dropped.Symbol + ": row skipped");
    }
    return true;
}

void BookReader::SetHandPrices() {
    for (const auto& [symbol, price] : options.prices) {
        if (!book.HasStock(symbol)) ++summary.stocksByHand;
        book.SetLastPrice(symbol, static_cast<float>(price));
    }
}

// An option row of an underlying without a stock quote: the chain's own
// price of the underlying makes its quote, or the first such row says why
// the underlying's options are left out.
void BookReader::PriceFromChain(const OptionRow& row, const Preamble& preamble,
                                const std::string& path) {
    StockRow stock = StockFromChain(row, preamble);
    if (stock.Quote.LastSale > 0) {
        book.AddStock(std::move(stock));
        ++summary.stocksFromChains;
    } else if (unpriced.count(row.Underlying) == 0 && skippedStocks.count(row.Underlying) != 0) {
        unpriced[row.Underlying] = row.Underlying +
                                   ": no stock quote, so its options are left out; its " +
                                   "stock row was skipped: " + skippedStocks[row.Underlying];
    } else if (unpriced.count(row.Underlying) == 0 && row.UnderlyingQuoted) {
        // A one-sided quote is no price: its midpoint would be half the
        // stock's value.
        const bool noBid = !(row.UnderlyingBid > 0);
        const bool noAsk = !(row.UnderlyingAsk > 0);
        unpriced[row.Underlying] =
            row.Underlying + ": no stock quote, so its options are left out; " + FileName(path) +
            ":" + std::to_string(row.Line) + ": the underlying's " +
            (noBid && noAsk ? std::string("bid and ask are empty")
             : noBid        ? FormatArgs("bid is empty (ask %g)", row.UnderlyingAsk)
                            : FormatArgs("ask is empty (bid %g)", row.UnderlyingBid)) +
            ": give a stock-quote file with " + row.Underlying + " or --price " + row.Underlying +
            "=PRICE";
    } else if (unpriced.count(row.Underlying) == 0) {
        unpriced[row.Underlying] =
            row.Underlying + ": no stock quote, so its options are left out; " + FileName(path) +
            " has no underlying-price column (such as 'UnderlyingPrice' or "
            "'underlying_last'): give a stock-quote file with " +
            row.Underlying + " or --price " + row.Underlying + "=PRICE";
    }
}

bool BookReader::ReadChains(const std::vector<FileLayout>& layouts) {
    for (std::size_t i = 0; i < options.files.size(); ++i) {
        const FileLayout& layout = layouts[i];
        if (layout.kind != FileLayout::Kind::Chain) continue;
        const std::string& path = options.files[i].path;
        TableHandlers handlers;
        handlers.onOption = [&](const OptionRow& row) {
            ++summary.optionRows;
            std::optional<LeftOut> reason;
            if (row.QuoteDate && *row.QuoteDate != summary.date) {
                reason = LeftOut::OtherQuoteDate;
            } else if (!book.HasStock(row.Underlying)) {
                PriceFromChain(row, layout.preamble, path);
            }
            if (!reason) reason = book.PlaceOption(row);
            if (!reason) {
                ++summary.optionsKept;
                return;
            }
            ++summary.leftOut[static_cast<int>(*reason)];
            Tell(path + ":" + std::to_string(row.Line) +
                 ": left out: " + std::string(LeftOutName(*reason)));
        };
        handlers.onSkip = [&](long line, const RowProblem& problem) {
            ++summary.optionRows;
            ++summary.optionFaults[static_cast<int>(problem.fault)];
            NoteDate(problem);
            Tell(DescribeRowProblem(path, line, problem) + ": row skipped");
        };
        if (!ReadTableFile(path, options.files[i].symbol, handlers, error)) return false;
    }
    return true;
}

bool BookReader::Finish() {
    book.FinishStocks();
    for (auto& [symbol, message] : unpriced)
        summary.unpriced.push_back(std::move(message));
    if (book.Stocks().empty() && badDate) {
        error = NoDateText(*badDate) + ", no stock could be read";
        return false;
    }
    if (book.Stocks().empty()) {
        error = "no stock could be read";
        if (!summary.unpriced.empty()) error += " (" + summary.unpriced.front() + ")";
        return false;
    }
    return true;
}

}  // namespace

bool ReadIntoBook(const ImportOptions& options, std::unique_ptr<ImportBook>& book,
                  ImportSummary& summary, std::string& error) {
    if (!ChooseDate(options, summary, error)) return false;
    book = std::make_unique<ImportBook>(summary.date);
    BookReader reader{options, *book, summary, error, {}, {}, {}};
    std::vector<FileLayout> layouts;
    if (!reader.ReadLayouts(layouts) || !reader.ReadStocks(layouts)) return false;
    reader.SetHandPrices();
    return reader.ReadChains(layouts) && reader.Finish();
}

std::string NoOptionReason(const ImportSummary& s) {
    if (s.optionRows == 0) return "no option row was read";
    long largest = 0;
    std::string reason;
    for (int i = 0; i < static_cast<int>(LeftOut::Count); ++i) {
        if (s.leftOut[i] > largest) {
            largest = s.leftOut[i];
            reason = std::string(LeftOutName(static_cast<LeftOut>(i)));
        }
    }
    for (int i = 0; i < static_cast<int>(RowFault::Count); ++i) {
        if (s.optionFaults[i] > largest) {
            largest = s.optionFaults[i];
            reason = "skipped: " + std::string(RowFaultName(static_cast<RowFault>(i)));
        }
    }
    std::string text = "mostly " + reason + " (" + std::to_string(largest) + " of " +
                       std::to_string(s.optionRows) + " option rows)";
    if (reason == LeftOutName(LeftOut::NotMonthly) || reason == LeftOutName(LeftOut::OutsideMonths))
        text += "; the scan uses the monthly expirations of the three months after " +
                s.date.IsoText() + " (give the data's date with --date)";
    return text;
}

namespace {

// Options kept only at the outer strikes or in the third month leave the
// archive without one: the scan would read no option either. Empty when the
// book has something to write.
std::string NothingToArchive(const ImportBook& book, const ImportSummary& summary) {
    if (summary.chainGiven && summary.optionsKept == 0)
        return "no option kept, nothing written: " + NoOptionReason(summary);
    long archivable = 0;
    for (const BookStock& stock : book.Stocks()) {
        ForEachNearMoneyOption([&](const OptionEntry& e) {
            if (stock.options[e.Type][e.Strike][e.Month].present) ++archivable;
        });
    }
    if (summary.chainGiven && archivable == 0) {
        return FormatArgs(
            "no option kept, nothing written: the %ld options kept are all outside "
            "the strikes nearest the last sale in the two nearest months, which "
            "the archive holds (strikes listed further apart than the strike "
            "table's?)",
            summary.optionsKept);
    }
    return {};
}

// The quote archive, one record at a time as the archive writer writes it
// in a server scan; counts the options written and notes the stocks a
// server scan would skip.
bool WriteQuotes(std::FILE* file, const ImportBook& book, ImportSummary& summary,
                 long& optionsWritten) {
    const DateTime written{summary.date.Year, summary.date.Month, summary.date.Day};
    QuoteState quote;
    std::string record, ascQuote, good, bad;
    const ArchiveTexts texts{record, ascQuote, good, bad};
    summary.localOnly.clear();
    for (const BookStock& stock : book.Stocks()) {
        book.FillQuoteState(stock, quote);
        bool archived = false;
        ForEachNearMoneyOption([&](const OptionEntry& e) {
            if (!stock.options[e.Type][e.Strike][e.Month].present) return;
            ++optionsWritten;
            archived = true;
        });
        if (archived && ServerScanSkipsRoot(ArchiveRoot(stock.row.Symbol))) {
            summary.localOnly.push_back(stock.row.Symbol);
        }
        record.clear();
        SaveQuote(quote, false, written, texts);
        ascQuote.clear();
        good.clear();
        bad.clear();
        if (!WriteAll(file, record)) return false;
    }
    return true;
}

// Each stock's IV30 of its whole chain, priced at `interestRate`.
bool WriteChainIv30(std::FILE* file, const ImportBook& book, const CivilDay& date,
                    float interestRate) {
    if (!WriteAll(file, ChainIv30Header())) return false;
    const int day = date.Number();
    for (const BookStock& stock : book.Stocks()) {
        ChainIv30Entry entry;
        entry.Day = day;
        entry.Last = stock.row.Quote.LastSale;
        entry.Iv30 = book.WholeChainIv30(stock, interestRate);
        if (!entry.Iv30.Both || !(entry.Last > 0)) continue;
        if (!WriteAll(file, ChainIv30Line(stock.row.Symbol, entry))) return false;
    }
    return true;
}

struct Output {
    std::string path;
    std::function<bool(std::FILE*)> write;
};

// Every file written and on the disk before the first is renamed into
// place, so a failed write leaves all the old files as they were; those not
// renamed go with their replacements.
bool ReplaceAll(const std::vector<Output>& outputs, std::string& error) {
    std::vector<std::unique_ptr<FileReplacement>> files;
    for (const Output& output : outputs) {
        files.push_back(std::make_unique<FileReplacement>(output.path));
        FileReplacement& file = *files.back();
        if (!file.IsOpen()) {
            error = output.path +
                    ": cannot create a temporary file beside it: " + std::strerror(file.Error());
            return false;
        }
        if (!file.WriteWith(output.write) || !file.Sync()) {
            error = output.path + ": cannot write: " + std::strerror(file.Error());
            return false;
        }
    }
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (!files[i]->Commit()) {
            error = outputs[i].path + ": cannot replace" +
                    (i > 0 ? " (Quote.txt was written)" : "") + ": " +
                    std::strerror(files[i]->Error());
            return false;
        }
    }
    return true;
}

// Settings that point a local scan at `symbolFile`, for a directory that
// had none.
bool WriteLocalSettings(const WorkingFileNames& names, const std::string& symbolFile,
                        std::string& error) {
    Settings settings;
    SetDefaultSettings(settings);
    std::error_code absoluteError;
    settings.SymbolFileName =
        std::filesystem::absolute(symbolFile, absoluteError).lexically_normal().string();
    settings.QuotesFromLocalFile = true;
    if (!SaveSettings(settings, names)) {
        error = names.SettingsFile + ": cannot write (Quote.txt was written)";
        return false;
    }
    return true;
}

}  // namespace

ImportFailure RunImport(const ImportOptions& options, ImportSummary& summary, std::string& error) {
    std::unique_ptr<ImportBook> bookHolder;
    if (!ReadIntoBook(options, bookHolder, summary, error)) {
        if (error.ends_with("no stock could be read") ||
            error.starts_with("no stock could be read"))
            error += ", nothing written";
        return ImportFailure::NothingRead;
    }
    const ImportBook& book = *bookHolder;
    if (std::string nothing = NothingToArchive(book, summary); !nothing.empty()) {
        error = std::move(nothing);
        return ImportFailure::NoOption;
    }
    // A missing working directory is made as the programs that work in one
    // make it: each new level for the user alone.
    if (std::string made = MakeWorkingDirectory(options.outDir); !made.empty()) {
        error = made;
        return ImportFailure::NothingRead;
    }

    const WorkingFileNames names = WorkingFileNames::In(options.outDir);
    const std::string quoteFile = options.outDir + "/Quote.txt";
    const std::string dateFile = options.outDir + "/" + kArchiveDateFile;
    const std::string symbolFile = options.outDir + "/Symbols.sym";
    const std::string chainIv30File = options.outDir + "/" + kChainIv30File;
    const bool haveSettings = std::filesystem::exists(names.SettingsFile);
    // A new directory is left ready for a local scan: a symbol file of the
    // stocks imported when there is none, and settings with the local source.
    const bool writeSymbols =
        options.writeSymbols || (!haveSettings && !std::filesystem::exists(symbolFile));
    // Temporary files that imports killed before renaming them would
    // otherwise pile up beside the archive.
    for (const std::string& path : {quoteFile, dateFile, symbolFile, chainIv30File})
        RemoveLeftoverTemporaries(path, kLeftoverAge);
    long optionsWritten = 0;
    std::vector<Output> outputs;
    outputs.push_back({quoteFile, [&](std::FILE* file) {
                           return WriteQuotes(file, book, summary, optionsWritten);
                       }});
    outputs.push_back(
        {dateFile, [&](std::FILE* file) {
             return WriteAll(
                 file, ArchiveDateText(summary.date.Year, summary.date.Month, summary.date.Day));
         }});
    // Beside the archive, each stock's IV30 of its whole chain, priced at the
    // interest rate a scan of the directory uses; written even when empty,
    // so that no figure of an earlier import outlives its archive.
    Settings rateSettings;
    SetDefaultSettings(rateSettings);
    if (haveSettings && !LoadSettings(rateSettings, names)) SetDefaultSettings(rateSettings);
    outputs.push_back({chainIv30File, [&](std::FILE* file) {
                           return WriteChainIv30(file, book, summary.date,
                                                 rateSettings.InterestRate);
                       }});
    if (writeSymbols) {
        outputs.push_back({symbolFile, [&](std::FILE* file) {
                               for (const BookStock& stock : book.Stocks()) {
                                   if (!WriteAll(file, stock.row.Symbol + "\r\n")) return false;
                               }
                               return true;
                           }});
    }
    if (!ReplaceAll(outputs, error)) return ImportFailure::NothingRead;
    if (!haveSettings) {
        if (!WriteLocalSettings(names, symbolFile, error)) return ImportFailure::NothingRead;
        summary.settingsWritten = true;
    }
    summary.symbolsWritten = writeSymbols;
    summary.stocksWritten = static_cast<long>(book.Stocks().size());
    summary.optionsWritten = optionsWritten;
    return ImportFailure::None;
}

std::string SummaryText(const ImportSummary& s, const std::string& quoteFile) {
    std::string text = FormatArgs("%ld stocks and %ld options written to %s\n", s.stocksWritten,
                                  s.optionsWritten, quoteFile.c_str());
    text += "quotes of " + s.date.IsoText() +
            (s.dateSource == "today"    ? " (today: the files carry no quote date)"
             : s.dateSource == "--date" ? " (--date)"
                                        : " (the files' quote date)") +
            "\n";
    for (const FileRead& file : s.files)
        text += file.path + ": read as " + file.layout + "\n";
    if (s.stocksFromChains > 0)
        text +=
            FormatArgs("stocks priced by a chain's underlying price: %ld\n", s.stocksFromChains);
    if (s.stocksByHand > 0) text += FormatArgs("stocks priced by --price: %ld\n", s.stocksByHand);
    auto faults = [&](const char* what, long rows,
                      const std::array<long, static_cast<int>(RowFault::Count)>& counts,
                      long duplicates) {
        long skipped = duplicates;
        for (long n : counts)
            skipped += n;
        text += FormatArgs("%s rows read: %ld, skipped: %ld\n", what, rows, skipped);
        for (int i = 0; i < static_cast<int>(RowFault::Count); ++i) {
            if (counts[i] == 0) continue;
            text +=
                FormatArgs("  %s: %ld\n",
                           std::string(RowFaultName(static_cast<RowFault>(i))).c_str(), counts[i]);
        }
        if (duplicates > 0) text += FormatArgs("  second row of a symbol: %ld\n", duplicates);
    };
    faults("stock", s.stockRows, s.stockFaults, s.duplicateStocks);
    if (s.otherDateStocks > 0)
        text += FormatArgs("  of another day than %s (left out): %ld\n", s.date.IsoText().c_str(),
                           s.otherDateStocks);
    faults("option", s.optionRows, s.optionFaults, 0);
    long leftOut = 0;
    for (long n : s.leftOut)
        leftOut += n;
    text += FormatArgs("options kept: %ld, left out: %ld\n", s.optionsKept, leftOut);
    for (int i = 0; i < static_cast<int>(LeftOut::Count); ++i) {
        if (s.leftOut[i] == 0) continue;
        text += FormatArgs("  %s: %ld\n", std::string(LeftOutName(static_cast<LeftOut>(i))).c_str(),
                           s.leftOut[i]);
    }
    if (s.optionsKept > s.optionsWritten) {
        text += FormatArgs(
            "  kept but not archived (the outer strikes and the third month, which the archive "
            "does not hold): %ld\n",
            s.optionsKept - s.optionsWritten);
    }
    for (const std::string& message : s.unpriced)
        text += message + "\n";
    for (const std::string& symbol : s.localOnly) {
        text += symbol +
                ": its options are read by a local scan of this archive, not by a server scan "
                "of these files (option symbols with an X, Y or Z after the first letter of a "
                "ticker of three letters are skipped by the option-page reader)\n";
    }
    if (!s.chainGiven) text += "no option-chain file given: stocks only\n";
    if (s.symbolsWritten) text += "symbol file written: Symbols.sym\n";
    if (s.settingsWritten)
        text += "settings file written: Quillon.--- (quotes from the local file Quote.txt)\n";
    return text;
}

}  // namespace quillon::import
