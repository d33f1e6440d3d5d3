#include "tools/import/importer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "market/archive.h"
#include "platform/number_format.h"

namespace quillon::import {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::string LinePrefix(long line) {
    return "line " + std::to_string(line) + ": ";
}

// The header row, or false with the message of an empty file or a CSV error.
bool ReadHeader(CsvRowReader& reader, CsvRow& header, std::string& error) {
    if (reader.Next(header)) return true;
    error = reader.Error().empty() ? "no header row (the file is empty)" : reader.Error();
    return false;
}

template <class Header, class Row, class OnRow>
bool ReadRows(CsvRowReader& reader,
              std::optional<Header> (*match)(const std::vector<std::string>&, std::string&),
              std::optional<Row> (*read)(const Header&, const std::vector<std::string>&,
                                         RowProblem&),
              const OnRow& onRow, const SkipReport& onSkip, std::string& error) {
    CsvRow row;
    if (!ReadHeader(reader, row, error)) return false;
    std::string message;
    const std::optional<Header> header = match(row.Fields, message);
    if (!header) {
        error = LinePrefix(row.Line) + message;
        return false;
    }
    while (reader.Next(row)) {
        RowProblem problem;
        std::optional<Row> value = read(*header, row.Fields, problem);
        if (value) {
            value->Line = row.Line;
            onRow(std::move(*value));
        } else {
            onSkip(row.Line, problem);
        }
    }
    error = reader.Error();
    return error.empty();
}

template <class Read>
bool ReadNamedFile(const std::string& path, const Read& read, std::string& error) {
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    CsvRowReader reader(file.get());
    if (!read(reader)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

std::string Describe(const std::string& file, long line, const RowProblem& problem) {
    std::string text = file + ":" + std::to_string(line) + ": ";
    if (!problem.column.empty()) text += "column '" + problem.column + "': ";
    text += std::string(RowFaultName(problem.fault));
    if (!problem.text.empty()) text += " '" + problem.text + "'";
    return text;
}

bool WriteAll(std::FILE* file, const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

}  // namespace

bool ReadStockRows(CsvRowReader& reader, const std::function<void(StockRow)>& onStock,
                   const SkipReport& onSkip, std::string& error) {
    return ReadRows<StockHeader, StockRow>(reader, &MatchStockHeader, &ReadStockRow, onStock,
                                           onSkip, error);
}

bool ReadOptionRows(CsvRowReader& reader, const std::function<void(const OptionRow&)>& onOption,
                    const SkipReport& onSkip, std::string& error) {
    return ReadRows<OptionHeader, OptionRow>(reader, &MatchOptionHeader, &ReadOptionRow, onOption,
                                             onSkip, error);
}

bool ReadStockFile(const std::string& path, const std::function<void(StockRow)>& onStock,
                   const SkipReport& onSkip, std::string& error) {
    return ReadNamedFile(
        path, [&](CsvRowReader& reader) { return ReadStockRows(reader, onStock, onSkip, error); },
        error);
}

bool ReadOptionFile(const std::string& path, const std::function<void(const OptionRow&)>& onOption,
                    const SkipReport& onSkip, std::string& error) {
    return ReadNamedFile(
        path, [&](CsvRowReader& reader) { return ReadOptionRows(reader, onOption, onSkip, error); },
        error);
}

bool WriteTemporaryFile(const std::string& path, const std::function<bool(std::FILE*)>& write,
                        std::string& temporary, std::string& error) {
    temporary = path + ".import-XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        error = path + ": cannot create a temporary file beside it: " + std::strerror(errno);
        return false;
    }
    fchmod(fd, 0644);
    std::FILE* file = fdopen(fd, "wb");
    bool ok = file != nullptr && write(file) && std::fflush(file) == 0 && fsync(fd) == 0;
    const int savedErrno = errno;
    if (file != nullptr) {
        ok = std::fclose(file) == 0 && ok;
    } else {
        close(fd);
    }
    if (ok) return true;
    error = path + ": cannot write: " + std::strerror(savedErrno);
    std::remove(temporary.c_str());
    return false;
}

bool ReplaceFileStreamed(const std::string& path, const std::function<bool(std::FILE*)>& write,
                         std::string& error) {
    std::string temporary;
    if (!WriteTemporaryFile(path, write, temporary, error)) return false;
    if (std::rename(temporary.c_str(), path.c_str()) == 0) return true;
    error = path + ": cannot replace: " + std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
}

bool ReadIntoBook(ImportBook& book, const std::string& stocksFile,
                  const std::vector<std::string>& chainFiles, std::FILE* verbose,
                  ImportSummary& summary, std::string& error) {
    auto tell = [&](const std::string& text) {
        if (verbose != nullptr) std::fprintf(verbose, "%s\n", text.c_str());
    };
    const bool stocksRead = ReadStockFile(
        stocksFile,
        [&](StockRow row) {
            ++summary.stockRows;
            book.AddStock(std::move(row));
        },
        [&](long line, const RowProblem& problem) {
            ++summary.stockRows;
            ++summary.stockFaults[static_cast<int>(problem.fault)];
            tell(Describe(stocksFile, line, problem) + ": row skipped");
        },
        error);
    if (!stocksRead) return false;
    for (const StockRow& dropped : book.FinishStocks()) {
        ++summary.duplicateStocks;
        tell(stocksFile + ":" + std::to_string(dropped.Line) + ": second row of " + dropped.Symbol +
             ": row skipped");
    }
    if (book.Stocks().empty()) {
        error = stocksFile + ": no stock could be read";
        return false;
    }

    for (const std::string& chainFile : chainFiles) {
        const bool chainRead = ReadOptionFile(
            chainFile,
            [&](const OptionRow& row) {
                ++summary.optionRows;
                const std::optional<LeftOut> reason = book.PlaceOption(row);
                if (!reason) {
                    ++summary.optionsKept;
                    return;
                }
                ++summary.leftOut[static_cast<int>(*reason)];
                tell(chainFile + ":" + std::to_string(row.Line) +
                     ": left out: " + std::string(LeftOutName(*reason)));
            },
            [&](long line, const RowProblem& problem) {
                ++summary.optionRows;
                ++summary.optionFaults[static_cast<int>(problem.fault)];
                tell(Describe(chainFile, line, problem) + ": row skipped");
            },
            error);
        if (!chainRead) return false;
    }
    return true;
}

bool RunImport(const ImportOptions& options, ImportSummary& summary, std::string& error) {
    ImportBook book(options.date);
    if (!ReadIntoBook(book, options.stocksFile, options.chainFiles, options.verbose, summary,
                      error)) {
        if (error.ends_with(": no stock could be read")) error += ", nothing written";
        return false;
    }

    // One record at a time, as the archive writer writes it in a server scan.
    const DateTime written{options.date.Year, options.date.Month, options.date.Day};
    QuoteState quote;
    std::string record, ascQuote, good, bad;
    const ArchiveTexts texts{record, ascQuote, good, bad};
    long optionsWritten = 0;
    auto writeQuotes = [&](std::FILE* file) {
        for (const BookStock& stock : book.Stocks()) {
            book.FillQuoteState(stock, quote);
            ForEachNearMoneyOption([&](const OptionEntry& e) {
                if (stock.options[e.Type][e.Strike][e.Month].present) ++optionsWritten;
            });
            record.clear();
            SaveQuote(quote, false, written, texts);
            ascQuote.clear();
            good.clear();
            bad.clear();
            if (!WriteAll(file, record)) return false;
        }
        return true;
    };
    // Both files are written in full before either is renamed into place, so
    // a failed write leaves both old files as they were.
    const std::string quoteFile = options.outDir + "/Quote.txt";
    const std::string symbolFile = options.outDir + "/Symbols.sym";
    std::string quoteTemporary, symbolTemporary;
    if (!WriteTemporaryFile(quoteFile, writeQuotes, quoteTemporary, error)) return false;
    if (options.writeSymbols) {
        const bool symbolsWritten = WriteTemporaryFile(
            symbolFile,
            [&](std::FILE* file) {
                for (const BookStock& stock : book.Stocks()) {
                    if (!WriteAll(file, stock.row.Symbol + "\r\n")) return false;
                }
                return true;
            },
            symbolTemporary, error);
        if (!symbolsWritten) {
            std::remove(quoteTemporary.c_str());
            return false;
        }
    }
    if (std::rename(quoteTemporary.c_str(), quoteFile.c_str()) != 0) {
        error = quoteFile + ": cannot replace: " + std::strerror(errno);
        std::remove(quoteTemporary.c_str());
        if (!symbolTemporary.empty()) std::remove(symbolTemporary.c_str());
        return false;
    }
    if (!symbolTemporary.empty() && std::rename(symbolTemporary.c_str(), symbolFile.c_str()) != 0) {
        error = symbolFile + ": cannot replace (Quote.txt was written): " + std::strerror(errno);
        std::remove(symbolTemporary.c_str());
        return false;
    }
    summary.stocksWritten = static_cast<long>(book.Stocks().size());
    summary.optionsWritten = optionsWritten;
    return true;
}

std::string SummaryText(const ImportSummary& s, const std::string& quoteFile) {
    std::string text = FormatArgs("%ld stocks and %ld options written to %s\n", s.stocksWritten,
                                  s.optionsWritten, quoteFile.c_str());
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
    return text;
}

}  // namespace quillon::import
