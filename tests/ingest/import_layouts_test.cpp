// The import of files in the shapes real downloads come in: each example
// file in docs/examples/ imported as it is, its twelve archived near-money
// options checked against the figures listed in docs/examples/EXPECTED.md;
// the date forms and symbols those files write; and every refusal, with its
// message and the program's exit status.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ingest/import_book.h"
#include "ingest/importer.h"
#include "ingest/table.h"
#include "tests/support/temp_dir.h"

namespace quillon::import {
namespace {

using quillon::testing::TempDir;

const std::string kExamples = std::string(QUILLON_SOURCE_DIR) + "/docs/examples/";

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);) {
        if (!part.empty() && part.back() == '\r') part.pop_back();
        parts.push_back(part);
    }
    return parts;
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    return first == std::string::npos ? ""
                                      : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// One listed option: type, strike, expiration, and last, bid, ask, volume,
// open interest as texts ("none" where the file has no such column).
struct Listed {
    int type = 0;
    double strike = 0;
    CivilDay expiration;
    std::vector<std::string> figures;
};
struct Expected {
    std::string symbol;
    std::string last;
    std::vector<double> strikes;
    std::vector<Listed> options;
};

// The sections of EXPECTED.md by file name.
std::map<std::string, Expected> ReadExpected() {
    std::map<std::string, Expected> out;
    Expected* current = nullptr;
    for (const std::string& line : Split(ReadText(kExamples + "EXPECTED.md"), '\n')) {
        if (line.starts_with("## ")) current = &out[line.substr(3)];
        if (current == nullptr) continue;
        if (line.starts_with("Stock ")) {
            // "Stock ORB: last price 658.05; strikes 650, 655, 660, 665, 670."
            current->symbol = line.substr(6, line.find(':') - 6);
            const auto price = line.find("last price ") + 11;
            current->last = line.substr(price, line.find_first_of(" ;", price) - price);
            std::string strikes = line.substr(line.find("strikes ") + 8);
            strikes.pop_back();
            for (const std::string& s : Split(strikes, ','))
                current->strikes.push_back(std::stod(s));
        }
        if (line.starts_with("| 20")) {
            const auto cells = Split(line, '|');
            Listed listed;
            listed.expiration = *ParseDate(Trim(cells[1]));
            listed.type = Trim(cells[2]) == "put" ? 1 : 0;
            listed.strike = std::stod(Trim(cells[3]));
            for (std::size_t i = 4; i <= 8; ++i)
                listed.figures.push_back(Trim(cells[i]));
            current->options.push_back(listed);
        }
    }
    return out;
}

// The archive's option line of an entry: the twelve lines after
// "<OPTIONS>" run through calls then puts, strike slots 1 to 3, months 0, 1.
std::vector<std::string> OptionLine(const std::string& archive, int type, int strike, int month) {
    const auto lines = Split(archive, '\n');
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i].starts_with("<OPTIONS>")) continue;
        return Split(lines[i + 1 + static_cast<std::size_t>(type * 6 + (strike - 1) * 2 + month)],
                     ',');
    }
    return {};
}

TEST(ImportLayouts, EveryExampleShapeArchivesTheFiguresOfItsStandardMonthlies) {
    const auto expected = ReadExpected();
    const CivilDay day{2025, 10, 14};
    const struct {
        const char* file;
        std::vector<std::string> others;  // files read with it
        std::string symbol;               // --symbol
        std::optional<CivilDay> date;     // --date
        std::vector<std::pair<std::string, double>> prices;
        const char* layout;
        LeftOut leftOut;  // a reason the file must have counted
    } cases[] = {
        // Neither file carries a quote date: --date gives it.
        {"chain_library.csv",
         {"stocks_screener.csv"},
         "",
         day,
         {},
         "contract symbols, no underlying price",
         LeftOut::NotMonthly},
        {"chain_library.csv",
         {},
         "",
         day,
         {{"KELP", 46.8}},
         "contract symbols",
         LeftOut::StrikeNotInTable},
        {"chain_exchange.csv",
         {},
         "",
         std::nullopt,
         {},
         "calls and puts side by side, underlying ORB priced above the header",
         LeftOut::OtherRoot},
        {"chain_eod_brackets.csv",
         {},
         "MOSS",
         day,
         {},
         "side by side, quote dates in column '[QUOTE_DATE]', underlying price in column "
         "'[UNDERLYING_LAST]'",
         LeftOut::OtherQuoteDate},
        {"chain_eod_columns.csv",
         {},
         "",
         day,
         {},
         "separate columns, quote dates in column 'quotedate', underlying price in column "
         "'underlying_last'",
         LeftOut::OtherRoot},
        // A daily history holds many days: --date picks that day's close.
        {"chain_datashop.csv",
         {"history_angle.csv"},
         "",
         day,
         {},
         "separate columns, quote dates in column 'quote_date', underlying price from the "
         "midpoint",
         LeftOut::OtherRoot},
        {"chain_broker.csv",
         {},
         "",
         std::nullopt,
         {},
         "side by side, one block per expiration, underlying AXLE priced above the header",
         LeftOut::NotMonthly},
        {"chain_library_columns.csv",
         {"history_daily.csv"},
         "",
         day,
         {},
         "separate columns, quote dates in column 'date'",
         LeftOut::OutsideMonths},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const auto found = expected.find(c.file);
        ASSERT_NE(found, expected.end());
        const Expected& want = found->second;
        ASSERT_EQ(want.options.size(), 12u);
        TempDir dir;
        ImportOptions options;
        options.outDir = dir.Path();
        options.today = {2026, 12, 9};
        options.date = c.date;
        options.prices = c.prices;
        for (const std::string& other : c.others)
            options.files.push_back({kExamples + other, {}});
        options.files.push_back({kExamples + c.file, c.symbol});
        ImportSummary summary;
        std::string error;
        ASSERT_EQ(RunImport(options, summary, error), ImportFailure::None) << error;
        EXPECT_EQ(summary.date, day) << "the files' own date, or --date";
        EXPECT_NE(summary.files.back().layout.find(c.layout), std::string::npos)
            << summary.files.back().layout;
        EXPECT_GT(summary.leftOut[static_cast<int>(c.leftOut)], 0);
        EXPECT_EQ(dir.Read("QuoteDate.txt"), "2025-10-14\r\n");

        const std::string archive = dir.Read("Quote.txt");
        const auto at = archive.find("<STOCK>" + want.symbol + "\r\n");
        ASSERT_NE(at, std::string::npos) << archive;
        const std::string record = archive.substr(at);
        EXPECT_EQ(std::stof(Split(record, '\n')[8]), std::stof(want.last)) << "the last sale";
        const std::string root = ArchiveRoot(want.symbol);
        EXPECT_NE(record.find("<OPTIONS>" + root + "\r\n"), std::string::npos);
        for (const Listed& option : want.options) {
            int strike = -1;
            for (int i = 1; i <= 3; ++i) {
                if (want.strikes[static_cast<std::size_t>(i)] == option.strike) strike = i;
            }
            ASSERT_GE(strike, 1) << option.strike;
            const int month = option.expiration == CivilDay{2025, 10, 17} ? 0 : 1;
            const auto fields = OptionLine(record, option.type, strike, month);
            ASSERT_EQ(fields.size(), 7u);
            // last, bid, ask, volume, open interest; column 2 holds the change
            const int archived[] = {1, 3, 4, 5, 6};
            for (int k = 0; k < 5; ++k) {
                const std::string& text = option.figures[static_cast<std::size_t>(k)];
                const float value = text == "none" ? -1 : std::stof(text);
                EXPECT_EQ(std::stof(fields[static_cast<std::size_t>(archived[k])]), value)
                    << option.strike << " type " << option.type << " month " << month << " field "
                    << k;
            }
        }
    }
}

TEST(ImportLayouts, DateFormsOfTheExports) {
    const struct {
        const char* text;
        std::optional<CivilDay> cell;     // as a cell
        std::optional<CivilDay> leading;  // at the start of a title or preamble
    } cases[] = {
        {"2025-10-17", CivilDay{2025, 10, 17}, CivilDay{2025, 10, 17}},
        {"10/17/2025", CivilDay{2025, 10, 17}, CivilDay{2025, 10, 17}},
        {"1/4/2016 0:00:00", CivilDay{2016, 1, 4}, CivilDay{2016, 1, 4}},
        {"Fri Oct 17 2025", CivilDay{2025, 10, 17}, CivilDay{2025, 10, 17}},
        {"17 NOV 23", CivilDay{2023, 11, 17}, CivilDay{2023, 11, 17}},
        {"20251017", CivilDay{2025, 10, 17}, CivilDay{2025, 10, 17}},
        {"October 14, 2025", CivilDay{2025, 10, 14}, CivilDay{2025, 10, 14}},
        {"2025-10-14T16:00:00", CivilDay{2025, 10, 14}, CivilDay{2025, 10, 14}},
        {"17 OCT 25  (3)  100 (Weeklys)", std::nullopt, CivilDay{2025, 10, 17}},
        {"10/14/25 16:00:00", std::nullopt, CivilDay{2025, 10, 14}},
        {"October 14, 2025 at 4:15 PM EDT", std::nullopt, CivilDay{2025, 10, 14}},
        {"Fri Feb 30 2025", std::nullopt, std::nullopt},
        {"20251317", std::nullopt, std::nullopt},
        {"Oct 2025", std::nullopt, std::nullopt},
        {"2025-10-17 junk words here", std::nullopt, CivilDay{2025, 10, 17}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseDate(c.text), c.cell) << c.text;
        EXPECT_EQ(ParseLeadingDate(c.text), c.leading) << c.text;
    }
    // The root, and whether a server scan skips it (a ticker of three
    // letters or fewer keeps itself as its root, however it reads).
    const struct {
        const char* text;
        const char* symbol;
        const char* root;
        bool serverSkips;
    } symbols[] = {{"^SPX", "SPX", "SPX", true},   {"$ORB", "ORB", "ORB", false},
                   {"axle", "AXLE", "ALE", false}, {"DXCM", "DXCM", "DCM", false},
                   {"AXP", "AXP", "AXP", true},    {"XYZW", "XYZW", "XWA", false},
                   {"BRIX", "BRIX", "BRI", false}, {"TXN", "TXN", "TXN", true},
                   {"EXC", "EXC", "EXC", true},    {"GEZ", "GEZ", "GEZ", true},
                   {"XL", "XL", "XL", false},      {"AX", "AX", "AX", true}};
    for (const auto& s : symbols) {
        EXPECT_EQ(SymbolOf(s.text), s.symbol);
        EXPECT_EQ(ArchiveRoot(s.symbol), s.root) << s.symbol;
        EXPECT_EQ(ServerScanSkipsRoot(ArchiveRoot(s.symbol)), s.serverSkips) << s.symbol;
    }
}

// The stock of a chain whose title line begins with a company's name, not a
// ticker: the rows' contract symbols name it, unless the title's first word
// is one of their roots, is marked as a ticker, or --symbol names the stock.
TEST(ImportLayouts, TheTitleNamesTheStockOnlyWhereTheContractsAgree) {
    const std::string header =
        "Expiration Date,Calls,Last Sale,Bid,Ask,Strike,Puts,Last Sale,Bid,Ask\n";
    const auto row = [](const char* root) {
        return std::string("Fri Dec 18 2026,") + root + "261218C00030000,2,1.9,2.1,30.00," + root +
               "261218P00030000,1,0.9,1.1\n";
    };
    const struct {
        std::string title;
        std::vector<const char*> roots;  // of the rows, in order
        std::string symbol;              // --symbol
        const char* stock;
        const char* name;
    } cases[] = {
        // The exchange's download begins with an empty line.
        {"\r\nGRAND Fund Trust", {"GRF", "GRF"}, "", "GRF", "GRAND Fund Trust"},
        {"GRAND", {"GRFW", "GRF", "GRF"}, "", "GRF", "GRAND"},
        {"GRF Grand Fund Trust", {"GRFW", "GRF"}, "", "GRF", "Grand Fund Trust"},
        {"^ORB Orbit 500 Index", {"ORBW", "ORBW"}, "", "ORB", "Orbit 500 Index"},
        {"GRAND Fund Trust", {"GRF"}, "GRAND", "GRAND", "Fund Trust"},
        {"GRAND Fund Trust", {}, "", "GRAND", "Fund Trust"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title + " " + c.symbol);
        TempDir dir;
        std::string text = c.title + ",Last: 30.5\n" + header;
        for (const char* root : c.roots)
            text += row(root);
        dir.Write("chain.csv", text);
        Preamble preamble;
        TableHandlers handlers;
        handlers.onLayout = [&](const FileLayout& layout) { preamble = layout.preamble; };
        std::string error;
        ASSERT_TRUE(ReadTableFile(dir.File("chain.csv"), c.symbol, handlers, error, true)) << error;
        EXPECT_EQ(preamble.symbol, c.stock);
        EXPECT_EQ(preamble.quote.CompanyName, c.name);
    }
}

int RunImporter(const std::string& args, std::string& output) {
    TempDir log;
    const std::string command =
        "'" QUILLON_IMPORT_PATH "' " + args + " >'" + log.File("out") + "' 2>&1";
    const int status = std::system(command.c_str());
    output = log.Read("out");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ImportLayouts, RefusalsSayWhyAndExitWithTheirOwnStatus) {
    TempDir in;
    in.Write("no_price.csv",
             "underlying,expiration,type,strike,volume\r\nAB,2025-11-21,C,10,5\r\n");
    in.Write("no_expiration.csv", "symbol,expiry_dt,type,strike,last\r\nAB,2025-11-21,C,10,1\r\n");
    in.Write("weekly.csv", "contractSymbol,lastPrice,bid,ask\r\nAB251024C00010000,1,1,1\r\n");
    in.Write("stocks.csv", "symbol,last\r\nAB,10.2\r\n");
    in.Write("two_days.csv", "date,symbol,close\r\n2025-10-13,AB,10\r\n2025-10-14,AB,10.2\r\n");
    in.Write("bare.csv", "contractSymbol,lastPrice\r\nAB251121C00010000,1\r\n");
    in.Write("no_header.csv", "1,2,3\r\n4,5,6\r\n");
    const struct {
        std::string args;
        int status;
        const char* message;
    } cases[] = {
        {"no_price.csv", 1, "no price column: looked for 'last'"},
        {"no_expiration.csv", 1, "no column 'expiration'"},
        {"--date 2025-10-14 stocks.csv weekly.csv", 2,
         "no option kept, nothing written: mostly not a standard monthly expiration (1 of 1"},
        {"two_days.csv bare.csv", 1,
         "quotes of 2 days: 2025-10-13 (1 rows), 2025-10-14 (1 rows); choose one with --date"},
        {"--date 2025-10-14 bare.csv", 1, "AB: no stock quote, so its options are left out"},
        {"no_header.csv", 1, "no header row among the first 40 lines"},
        {"--price AB=x bare.csv", 64, "--price takes SYMBOL=PRICE"},
        {"--date 2025-10-14 --price AB=10.2 bare.csv", 0, "1 stocks and 1 options written"},
        {"--date 2025-10-14 two_days.csv bare.csv", 0, "quotes of 2025-10-14 (--date)"},
        // Each row already names its directory with --out.
        {"--workdir elsewhere stocks.csv", 64, "name the same directory: give one"},
        {"--user-workdir stocks.csv", 64, "name the same directory: give one"},
        {"--out '' stocks.csv", 64, "--out needs a directory"},
    };
    for (const auto& c : cases) {
        TempDir out;
        std::string args = "--out '" + out.Path() + "/new'";
        for (const std::string& word : Split(c.args, ' '))
            args += " " + (word.ends_with(".csv") ? "'" + in.File(word) + "'" : word);
        std::string output;
        EXPECT_EQ(RunImporter(args, output), c.status) << c.args << "\n" << output;
        EXPECT_NE(output.find(c.message), std::string::npos) << c.args << "\n" << output;
        EXPECT_EQ(std::filesystem::exists(out.File("new/Quote.txt")), c.status == 0) << c.args;
    }
}

}  // namespace
}  // namespace quillon::import
