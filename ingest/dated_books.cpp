#include "ingest/dated_books.h"

#include <cmath>
#include <cstdio>
#include <utility>

namespace quillon::historytool {

using namespace import;

DateGrouper::DateGrouper(DatedRead& out, CivilDay undatedDay, std::optional<CivilDay> only)
    : out_(out), undatedDay_(undatedDay), only_(only) {}

std::optional<CivilDay> DateGrouper::DayOf(const std::optional<CivilDay>& date) const {
    const CivilDay day = date ? *date : undatedDay_;
    if (only_ && day != *only_) return std::nullopt;
    return day;
}

DayBook& DateGrouper::Day(const CivilDay& date) {
    DayBook& day = out_.days[date];
    if (!day.book) day.book = std::make_unique<ImportBook>(date);
    return day;
}

void DateGrouper::AddStock(StockRow row) {
    const std::optional<CivilDay> date = DayOf(row.QuoteDate);
    if (!date) {
        ++out_.otherDateRows;
        return;
    }
    if (!row.QuoteDate) ++out_.undatedRows;
    DayBook& day = Day(*date);
    ++day.stockRows;
    day.book->AddStock(std::move(row));
}

void DateGrouper::FinishStocks() {
    for (auto& [date, day] : out_.days)
        day.duplicateStocks += static_cast<long>(day.book->FinishStocks().size());
}

std::optional<LeftOut> DateGrouper::AddOption(const OptionRow& row, const Preamble& preamble) {
    const std::optional<CivilDay> date = DayOf(row.QuoteDate);
    if (!date) {
        ++out_.otherDateRows;
        ++out_.leftOut[static_cast<int>(LeftOut::OtherQuoteDate)];
        return LeftOut::OtherQuoteDate;
    }
    if (!row.QuoteDate) ++out_.undatedRows;
    DayBook& day = Day(*date);
    ++day.optionRows;
    ImportBook& book = *day.book;
    if (!book.HasStock(row.Underlying)) {
        // The chain's own price of the underlying makes its quote that day,
        // as in a one-day import.
        StockRow stock = StockFromChain(row, preamble);
        if (stock.Quote.LastSale > 0) {
            stock.QuoteDate = *date;
            book.AddStock(std::move(stock));
            ++day.stocksFromChains;
        } else {
            out_.unpriced.insert(row.Underlying);
        }
    }
    const std::optional<LeftOut> reason = book.PlaceOption(row);
    if (reason) {
        ++out_.leftOut[static_cast<int>(*reason)];
    } else {
        ++day.optionsKept;
    }
    return reason;
}

void DateGrouper::Finish() {
    for (auto& [date, day] : out_.days)
        day.book->FinishStocks();
}

namespace {

// The quote dates the rows of the dated files hold.
std::set<CivilDay> DatesOf(const ImportOptions& options, const std::vector<bool>& dated) {
    std::set<CivilDay> dates;
    for (std::size_t i = 0; i < options.files.size(); ++i) {
        if (!dated[i]) continue;
        TableHandlers handlers;
        handlers.onStock = [&](StockRow row) {
            if (row.QuoteDate) dates.insert(*row.QuoteDate);
        };
        handlers.onOption = [&](const OptionRow& row) {
            if (row.QuoteDate) dates.insert(*row.QuoteDate);
        };
        handlers.onSkip = [](long, const RowProblem&) {};
        std::string ignored;  // the reading proper reports it
        ReadTableFile(options.files[i].path, options.files[i].symbol, handlers, ignored);
    }
    return dates;
}

}  // namespace

bool ReadDatedBooks(const ImportOptions& options, DatedRead& out, std::string& error) {
    auto tell = [&](const std::string& text) {
        if (options.verbose != nullptr) std::fprintf(options.verbose, "%s\n", text.c_str());
    };
    std::vector<FileLayout> layouts(options.files.size());
    std::vector<bool> dated(options.files.size());
    // The first row skipped for a date that could not be read, should no
    // stock be read at all.
    std::optional<RowProblem> badDate;
    std::string undatedFile;
    for (std::size_t i = 0; i < options.files.size(); ++i) {
        TableHandlers handlers;
        handlers.onLayout = [&](const FileLayout& layout) { layouts[i] = layout; };
        if (!ReadTableFile(options.files[i].path, options.files[i].symbol, handlers, error, true))
            return false;
        dated[i] = layouts[i].quoteDates || layouts[i].preamble.date.has_value();
        if (!dated[i] && undatedFile.empty()) undatedFile = options.files[i].path;
        out.files.push_back(
            {options.files[i].path, layouts[i].Name(), layouts[i].kind == FileLayout::Kind::Chain});
    }

    // The day of the rows that carry no date of their own.
    CivilDay undatedDay = options.today;
    if (options.date) {
        undatedDay = *options.date;
        out.undatedSource = "--date";
    } else if (!undatedFile.empty()) {
        const std::set<CivilDay> dates = DatesOf(options, dated);
        if (dates.size() > 1) {
            error = undatedFile + " gives no quote date, and the other files hold quotes of " +
                    std::to_string(dates.size()) + " days (" + dates.begin()->IsoText() + " to " +
                    dates.rbegin()->IsoText() + "): add it alone with --date YYYY-MM-DD";
            return false;
        }
        if (dates.size() == 1) {
            undatedDay = *dates.begin();
            out.undatedSource = "the files' quote date";
        } else {
            out.undatedSource = "today";
        }
    }

    DateGrouper grouper(out, undatedDay, options.date);
    // Stock files before the chains, so that a stock row's quote wins over a
    // chain's underlying price.
    for (int pass = 0; pass < 2; ++pass) {
        const FileLayout::Kind kind =
            pass == 0 ? FileLayout::Kind::Stocks : FileLayout::Kind::Chain;
        for (std::size_t i = 0; i < options.files.size(); ++i) {
            if (layouts[i].kind != kind) continue;
            const std::string& path = options.files[i].path;
            const Preamble& preamble = layouts[i].preamble;
            TableHandlers handlers;
            handlers.onStock = [&](StockRow row) { grouper.AddStock(std::move(row)); };
            handlers.onOption = [&](const OptionRow& row) {
                if (const auto reason = grouper.AddOption(row, preamble); reason)
                    tell(path + ":" + std::to_string(row.Line) +
                         ": left out: " + std::string(LeftOutName(*reason)));
            };
            handlers.onSkip = [&](long line, const RowProblem& problem) {
                auto& faults = pass == 0 ? out.stockFaults : out.optionFaults;
                ++faults[static_cast<int>(problem.fault)];
                if (problem.fault == RowFault::BadQuoteDate && !badDate) badDate = problem;
                tell(DescribeRowProblem(path, line, problem) + ": row skipped");
            };
            if (!ReadTableFile(path, options.files[i].symbol, handlers, error)) return false;
        }
        if (pass == 0) grouper.FinishStocks();
    }
    grouper.Finish();
    // A day of options alone, none of them priced, has nothing to record.
    std::erase_if(out.days, [](const auto& entry) { return entry.second.book->Stocks().empty(); });
    if (out.days.empty()) {
        error =
            badDate ? NoDateText(*badDate) + ", no stock could be read" : "no stock could be read";
        return false;
    }
    return true;
}

}  // namespace quillon::historytool
