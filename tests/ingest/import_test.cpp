// The CSV import: reading rows, matching headers, decoding contract symbols,
// placing options where the scan looks for them, and the records written.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "ingest/csv_rows.h"
#include "ingest/import_book.h"
#include "ingest/import_rows.h"
#include "ingest/importer.h"
#include "tests/support/temp_dir.h"

namespace quillon::import {
namespace {

using quillon::testing::TempDir;

std::vector<CsvRow> AllRows(std::string_view text, std::string* error = nullptr) {
    CsvRowReader reader(text);
    std::vector<CsvRow> rows;
    for (CsvRow row; reader.Next(row);)
        rows.push_back(row);
    if (error != nullptr) *error = reader.Error();
    return rows;
}

TEST(CsvRows, QuotedFieldsLineEndsAndLineNumbers) {
    const auto rows = AllRows(
        "\xEF\xBB\xBFsymbol,name\r\n"
        "AB,\"Alpha, Beta \"\"Inc\"\"\"\r\n"
        "\n"
        "CD,\"two\nlines\"\n"
        "EF,last");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].Fields, (std::vector<std::string>{"symbol", "name"}));
    EXPECT_EQ(rows[1].Fields[1], "Alpha, Beta \"Inc\"");
    EXPECT_EQ(rows[2].Fields[1], "two\nlines");
    EXPECT_EQ(rows[2].Line, 4);
    EXPECT_EQ(rows[3].Line, 6);
    EXPECT_EQ(rows[3].Fields[1], "last");
}

TEST(CsvRows, AnUnclosedQuoteEndsTheReadingWithinBoundedMemory) {
    std::string text = "a,b\n1,\"open";
    text += std::string(kMaxRowBytes + 10, 'x');
    std::string error;
    const auto rows = AllRows(text, &error);
    EXPECT_EQ(rows.size(), 1u) << "the header before it";
    EXPECT_EQ(error.rfind("line 2: a row longer than", 0), 0u) << error;

    std::string many = "x";
    for (std::size_t i = 0; i < kMaxRowFields + 5; ++i)
        many += ",";
    AllRows(many, &error);
    EXPECT_NE(error.find("fields"), std::string::npos);
}

TEST(ImportRows, ColumnNamesMatchWithoutCaseBlanksOrSeparators) {
    const struct {
        const char* name;
        const char* normalized;
    } cases[] = {{"lastPrice", "lastprice"},          {"Last Price", "lastprice"},
                 {"last_price", "lastprice"},         {"LAST-PRICE", "lastprice"},
                 {" Open_Interest ", "openinterest"}, {"52 Week High", "52weekhigh"}};
    for (const auto& c : cases)
        EXPECT_EQ(NormalizeColumnName(c.name), c.normalized) << c.name;
}

TEST(ImportRows, HeadersAreRecognisedOrRefusedNamingTheMissingColumn) {
    std::string message;
    const auto stock = MatchStockHeader({"Ticker", "Close", "Company Name", "EPS"}, message);
    ASSERT_TRUE(stock);
    EXPECT_EQ(stock->column[kSymbol], 0);
    EXPECT_EQ(stock->column[kLast], 1);
    EXPECT_EQ(stock->column[kName], 2);
    EXPECT_EQ(stock->column[kBid], -1);
    // The first of the last-price names present wins.
    EXPECT_EQ(MatchStockHeader({"symbol", "close", "price"}, message)->column[kLast], 2);
    EXPECT_FALSE(MatchStockHeader({"symbol", "name"}, message));
    EXPECT_NE(message.find("last price"), std::string::npos);
    EXPECT_FALSE(MatchStockHeader({"AAPL", "190.5"}, message));
    EXPECT_NE(message.find("'symbol'"), std::string::npos);

    const auto contracts =
        MatchOptionHeader({"contractSymbol", "strike", "lastPrice", "oi"}, message);
    ASSERT_TRUE(contracts);
    EXPECT_TRUE(contracts->contractForm);
    EXPECT_EQ(contracts->column[kOpenInterest], 3);
    const auto columns =
        MatchOptionHeader({"symbol", "expiration", "put_call", "Strike Price", "last"}, message);
    ASSERT_TRUE(columns);
    EXPECT_FALSE(columns->contractForm);
    EXPECT_EQ(columns->column[kUnderlying], 0);
    EXPECT_FALSE(MatchOptionHeader({"underlying", "expiration", "strike", "bid"}, message));
    EXPECT_NE(message.find("'type'"), std::string::npos) << message;
}

TEST(ImportRows, ContractSymbolsDecodePaddedAndCompact) {
    const struct {
        const char* text;
        const char* root;
        CivilDay date;
        int type;
        double strike;
    } good[] = {
        {"AAPL270115C00150000", "AAPL", {2027, 1, 15}, 0, 150},
        {"AAPL  270115P00152500", "AAPL", {2027, 1, 15}, 1, 152.5},
        {"F     261218C00002500", "F", {2026, 12, 18}, 0, 2.5},
        {"F261218C00002500", "F", {2026, 12, 18}, 0, 2.5},
        {"GOOGL1280121P01000000", "GOOGL1", {2028, 1, 21}, 1, 1000},
        {"brkb  270219c00450000", "BRKB", {2027, 2, 19}, 0, 450},
    };
    for (const auto& c : good) {
        SCOPED_TRACE(c.text);
        const auto contract = DecodeContractSymbol(c.text);
        ASSERT_TRUE(contract);
        EXPECT_EQ(contract->Root, c.root);
        EXPECT_EQ(contract->Expiration, c.date);
        EXPECT_EQ(contract->Type, c.type);
        EXPECT_EQ(contract->Strike, c.strike);
    }
    for (const char* bad : {"", "AAPL", "270115C00150000", "TOOLONG270115C00150000",
                            "AAPL270115X00150000", "AAPL271315C00150000", "AAPL270230C00150000",
                            "AAPL270115C0015000", "AA.L270115C00150000", "AAPL270115C0015000x"}) {
        EXPECT_FALSE(DecodeContractSymbol(bad)) << bad;
    }
}

TEST(ImportRows, CellsAndDates) {
    const struct {
        const char* text;
        Cell::Kind kind;
        double value;
    } cells[] = {{"", Cell::Missing, 0},         {"NaN", Cell::Missing, 0},
                 {" nan ", Cell::Missing, 0},    {"N/A", Cell::Missing, 0},
                 {"-", Cell::Missing, 0},        {"1.5", Cell::Number, 1.5},
                 {"-0.42", Cell::Number, -0.42}, {"$1,234.50", Cell::Number, 1234.5},
                 {"2.5%", Cell::Number, 2.5},    {"1e3", Cell::Number, 1000},
                 {".5", Cell::Number, 0.5},      {"abc", Cell::Unreadable, 0},
                 {"1.2.3", Cell::Unreadable, 0}, {"inf", Cell::Unreadable, 0},
                 {"1e300", Cell::Unreadable, 0}, {"0x10", Cell::Unreadable, 0},
                 {"1,2", Cell::Number, 12},      {",5", Cell::Unreadable, 0}};
    for (const auto& c : cells) {
        const Cell cell = ReadCell(c.text);
        EXPECT_EQ(cell.kind, c.kind) << c.text;
        EXPECT_EQ(cell.value, c.value) << c.text;
    }
    EXPECT_EQ(ParseDate("2027-01-15"), (CivilDay{2027, 1, 15}));
    EXPECT_EQ(ParseDate("1/15/2027"), (CivilDay{2027, 1, 15}));
    EXPECT_EQ(ParseDate("2028-02-29 00:00:00"), (CivilDay{2028, 2, 29}));
    // Dates of a time zone as pandas writes them, the offset glued on.
    for (const char* zoned : {"2026-12-09 00:00:00-05:00", "2026-12-09 09:30:00+0100",
                              "2026-12-09T16:00:00Z", "2026-12-09 16:00Z"}) {
        EXPECT_EQ(ParseDate(zoned), (CivilDay{2026, 12, 9})) << zoned;
    }
    for (const char* bad : {"2027-02-29", "13/1/2027", "2027-1-15", "1/15/27", "", "x/y/z",
                            "2026-12-09 00:00:00-05:00:00:00", "2026-12-09 00:00-x"}) {
        EXPECT_FALSE(ParseDate(bad)) << bad;
    }
}

// Header of the separate-column form used by the row tests below.
const std::vector<std::string> kColumnsHeader = {
    "underlying", "expiration", "type", "strike", "last", "bid", "ask", "volume", "open interest"};

TEST(ImportRows, MalformedRowsAreRefusedWithTheirColumn) {
    std::string message;
    const OptionHeader header = *MatchOptionHeader(kColumnsHeader, message);
    const struct {
        std::vector<std::string> row;
        RowFault fault;
        const char* column;
    } cases[] = {
        {{"ACME", "2027-01-15", "straddle", "45"}, RowFault::UnknownType, "type"},
        {{"ACME", "2027-02-30", "call", "45"}, RowFault::BadDate, "expiration"},
        {{"ACME", "soon", "call", "45"}, RowFault::BadDate, "expiration"},
        {{"ACME", "2027-01-15", "call", "0"}, RowFault::BadStrike, "strike"},
        {{"ACME", "2027-01-15", "call", "-5"}, RowFault::BadStrike, "strike"},
        {{"ACME", "2027-01-15", "call", ""}, RowFault::BadStrike, "strike"},
        {{"ACME", "2027-01-15", "put", "4x"}, RowFault::UnreadableNumber, "strike"},
        {{"ACME", "2027-01-15", "put", "45", "1.2", "abc"}, RowFault::UnreadableNumber, "bid"},
        {{"ACME", "2027-01-15", "put", "45", "1.2", "1", "1", "-3"},
         RowFault::NegativeValue,
         "volume"},
        {{"", "2027-01-15", "put", "45"}, RowFault::BadSymbol, "underlying"},
    };
    for (const auto& c : cases) {
        RowProblem problem;
        EXPECT_FALSE(ReadOptionRow(header, c.row, problem)) << c.row[2] << c.row[3];
        EXPECT_EQ(problem.fault, c.fault) << problem.text;
        EXPECT_EQ(problem.column, c.column);
    }

    const StockHeader stocks = *MatchStockHeader({"symbol", "last", "eps", "bid"}, message);
    const struct {
        std::vector<std::string> row;
        RowFault fault;
    } stockCases[] = {{{"BRK.B", "400"}, RowFault::BadSymbol},
                      {{"TOOLONG", "4"}, RowFault::BadSymbol},
                      {{"", "4"}, RowFault::BadSymbol},
                      {{"ACME", ""}, RowFault::NoLastPrice},
                      {{"ACME", "0"}, RowFault::NoLastPrice},
                      {{"ACME", "-3"}, RowFault::NegativeValue},
                      {{"ACME", "4", "x"}, RowFault::UnreadableNumber},
                      {{"ACME", "4", "1", "-1"}, RowFault::NegativeValue}};
    for (const auto& c : stockCases) {
        RowProblem problem;
        EXPECT_FALSE(ReadStockRow(stocks, c.row, problem)) << c.row[0] << "," << c.row[1];
        EXPECT_EQ(problem.fault, c.fault) << c.row[0] << "," << c.row[1];
    }
}

TEST(ImportRows, MissingValuesAreMinusOneForOptionsAndZeroForStocks) {
    std::string message;
    const OptionHeader header = *MatchOptionHeader(kColumnsHeader, message);
    RowProblem problem;
    const auto option =
        ReadOptionRow(header, {"acme", "1/15/2027", "Put", "45", "NaN", "", "1.1"}, problem);
    ASSERT_TRUE(option);
    EXPECT_EQ(option->Underlying, "ACME");
    EXPECT_EQ(option->Type, 1);
    EXPECT_EQ(option->Last, -1);
    EXPECT_EQ(option->Bid, -1);
    EXPECT_EQ(option->Ask, 1.1f);
    EXPECT_EQ(option->Volume, -1) << "a short row leaves the rest missing";
    EXPECT_EQ(option->OpenInterest, -1);

    const StockHeader stocks = *MatchStockHeader({"symbol", "price", "eps", "volume"}, message);
    const auto stock = ReadStockRow(stocks, {"ab1", "100", "", "1234.6"}, problem);
    ASSERT_TRUE(stock);
    EXPECT_EQ(stock->Symbol, "AB1");
    EXPECT_EQ(stock->Quote.Bid, 0);
    EXPECT_EQ(stock->Quote.Volume, 1235);
    EXPECT_EQ(stock->Quote.PriceEarnings, 100000) << "no earnings: P/E not available";
    const struct {
        float last, eps, pe;
    } pe[] = {
        {100, 0.0005f, 100000}, {100, 0.002f, 50000}, {500, 0.002f, 100000}, {20, -0.5f, -40}};
    for (const auto& c : pe) {
        EXPECT_FLOAT_EQ(PriceEarningsOf(c.last, c.eps), c.pe) << c.last << " " << c.eps;
    }
}

TEST(ImportBook, ExpirationSlotsAcrossAMonthAndAYearEnd) {
    const struct {
        CivilDay today;
        CivilDay fridays[3];
    } cases[] = {
        // Before December's expiration: December, January, February.
        {{2026, 12, 1}, {{2026, 12, 18}, {2027, 1, 15}, {2027, 2, 19}}},
        // After it: January, February, March.
        {{2026, 12, 21}, {{2027, 1, 15}, {2027, 2, 19}, {2027, 3, 19}}},
        // Expiration Saturday itself counts from the Monday after.
        {{2026, 12, 19}, {{2027, 1, 15}, {2027, 2, 19}, {2027, 3, 19}}},
        // The day before expiration still has it; a leap February.
        {{2028, 1, 20}, {{2028, 1, 21}, {2028, 2, 18}, {2028, 3, 17}}},
    };
    for (const auto& c : cases) {
        const ImportCalendar calendar = MakeImportCalendar(c.today);
        for (int k = 0; k < 3; ++k) {
            SCOPED_TRACE(::testing::Message() << c.today.Year << "-" << c.today.Month << "-"
                                              << c.today.Day << " slot " << k);
            EXPECT_EQ(MonthSlotOf(calendar, c.fridays[k]), k);
            EXPECT_EQ(MonthSlotOf(calendar, c.fridays[k].Plus(1)), k) << "the Saturday";
            EXPECT_EQ(MonthSlotOf(calendar, c.fridays[k].Plus(-7)), -1) << "a weekly";
            EXPECT_EQ(MonthSlotOf(calendar, c.fridays[k].Plus(-1)), -1) << "a Thursday";
        }
    }
    EXPECT_TRUE(IsMonthlyExpiration({2027, 3, 19}));
    EXPECT_TRUE(IsMonthlyExpiration({2027, 3, 20}));
    EXPECT_FALSE(IsMonthlyExpiration({2027, 3, 12}));
    EXPECT_FALSE(IsMonthlyExpiration({2027, 3, 31}));
}

OptionRow Option(const std::string& stock, CivilDay expiration, int type, double strike) {
    OptionRow row;
    row.Underlying = row.Root = stock;
    row.Expiration = expiration;
    row.Type = type;
    row.Strike = strike;
    row.Bid = 1;
    return row;
}

StockRow Stock(const std::string& symbol, float last) {
    StockRow row;
    row.Symbol = symbol;
    row.Quote.LastSale = last;
    return row;
}

TEST(ImportBook, OptionsArePlacedUnderTheSymbolsTheScanLooksFor) {
    ImportBook book({2026, 12, 1});         // slots: December, January, February
    book.AddStock(Stock("BRIX", 152.6f));   // 145 150 155 160 165: I J K L M
    book.AddStock(Stock("CQ", 22.4f));      // 17.5 20 22.5 25 30: W D X E F
    book.AddStock(Stock("ABCDEF", 47.3f));  // 35 40 45 50 55: G H I J K
    book.AddStock(Stock("CQ", 99));
    const auto dropped = book.FinishStocks();
    ASSERT_EQ(dropped.size(), 1u);
    EXPECT_EQ(dropped[0].Quote.LastSale, 99) << "the first row of a symbol stays";
    ASSERT_EQ(book.Stocks().size(), 3u);
    EXPECT_EQ(book.Stocks()[0].row.Symbol, "ABCDEF");

    const CivilDay dec{2026, 12, 18}, jan{2027, 1, 16}, feb{2027, 2, 19}, mar{2027, 3, 19};
    const struct {
        OptionRow row;
        std::optional<LeftOut> result;
    } cases[] = {
        {Option("BRIX", dec, 0, 155), std::nullopt},
        {Option("BRIX", jan, 1, 160), std::nullopt},
        {Option("BRIX", feb, 0, 165), std::nullopt},
        {Option("BRIX", dec, 0, 155), LeftOut::Duplicate},
        {Option("BRIX", dec, 0, 152.5), LeftOut::StrikeNotInTable},
        {Option("BRIX", {2026, 12, 11}, 0, 155), LeftOut::NotMonthly},
        {Option("BRIX", mar, 0, 155), LeftOut::OutsideMonths},
        {Option("BRIX", {2026, 11, 20}, 0, 155), LeftOut::OutsideMonths},
        {Option("NONE", dec, 0, 155), LeftOut::NoStock},
        {Option("CQ", dec, 1, 22.5), std::nullopt},
        {Option("ABCDEF", jan, 0, 40), std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(book.PlaceOption(c.row), c.result) << c.row.Underlying << " " << c.row.Strike;
    }
    OptionRow adjusted = Option("BRIX", dec, 0, 150);
    adjusted.Root = "BRIX1";
    EXPECT_EQ(book.PlaceOption(adjusted), LeftOut::OtherRoot);

    QuoteState quote;
    book.FillQuoteState(book.Stocks()[1], quote);  // BRIX
    EXPECT_EQ(quote.Quote.OptionRoot, "BRI");
    EXPECT_EQ(quote.Chain.OptSymbol[0][2][0], "BRILK") << "December call at 155";
    EXPECT_EQ(quote.Chain.OptSymbol[1][3][1], "BRIML") << "January put at 160";
    EXPECT_EQ(quote.Chain.OptSymbol[0][4][2], "BRIBM") << "February call at 165";
    EXPECT_EQ(quote.Chain.OptBid[0][2][0], 1);
    EXPECT_EQ(quote.Chain.OptBid[0][2][1], -1);
    EXPECT_TRUE(quote.HaveOptionData);
    book.FillQuoteState(book.Stocks()[2], quote);  // CQ: a short root is padded
    EXPECT_EQ(quote.Quote.OptionRoot, "CQ");
    EXPECT_EQ(quote.Chain.OptSymbol[1][2][0], "CQ XX");
    book.FillQuoteState(book.Stocks()[0], quote);
    EXPECT_EQ(quote.Quote.OptionRoot, "ABC");
    EXPECT_EQ(quote.Chain.OptSymbol[0][1][1], "ABCAH");
}

TEST(Importer, WritesTheArchiveRecordsAndSkipsRowsCountingThem) {
    TempDir dir;
    dir.Write("stocks.csv", "Symbol,Last,Name\r\nzz,30,Zed\r\nAB,12,\"A, B\"\r\nBAD!,1,x\r\n");
    dir.Write("chain.csv",
              "contractSymbol,lastPrice,bid,ask,volume,openInterest\n"
              "AB    261218C00012500,1.5,1.4,1.6,10,100\n"
              "AB261218P00012500,NaN,,0.9,,7\n"
              "AB261211C00012500,1,1,1,1,1\n"
              "AB261218C0001250,1,1,1,1,1\n");
    ImportOptions options;
    options.outDir = dir.Path();
    options.date = {2026, 12, 1};
    options.files = {{dir.File("chain.csv"), {}}, {dir.File("stocks.csv"), {}}};
    options.writeSymbols = true;
    ImportSummary summary;
    std::string error;
    ASSERT_EQ(RunImport(options, summary, error), ImportFailure::None) << error;
    EXPECT_EQ(summary.stocksWritten, 2);
    EXPECT_EQ(summary.stockFaults[static_cast<int>(RowFault::BadSymbol)], 1);
    EXPECT_EQ(summary.optionRows, 4);
    EXPECT_EQ(summary.optionsWritten, 2);
    EXPECT_EQ(summary.leftOut[static_cast<int>(LeftOut::NotMonthly)], 1);
    EXPECT_EQ(summary.optionFaults[static_cast<int>(RowFault::BadContractSymbol)], 1);
    EXPECT_EQ(dir.Read("Symbols.sym"), "AB\r\nZZ\r\n");
    const std::string archive = dir.Read("Quote.txt");
    EXPECT_EQ(archive.rfind("<STOCK>AB\r\nA, B\r\n", 0), 0u) << archive;
    EXPECT_NE(archive.find("<OPTIONS>AB\r\n,-1,-1,-1,-1,-1,-1\r\n,-1,-1,-1,-1,-1,-1\r\n"
                           "AB LV,1.5,-1,1.4,1.6,10,100\r\n"),
              std::string::npos)
        << archive;
    EXPECT_NE(archive.find("AB XV,-1,-1,-1,0.9,-1,7\r\n"), std::string::npos) << archive;
    EXPECT_NE(archive.find("\r\n<STOCK>ZZ\r\nZed\r\n"), std::string::npos);
    EXPECT_EQ(archive.find("<OPTIONS>", archive.find("<STOCK>ZZ")), std::string::npos)
        << "a stock without options has no options section";
}

// Chains whose stock gets no price, or a price from another place than a
// stock file, each with what the import says or writes. A one-sided
// underlying quote is no price (its midpoint would halve the stock); a
// chain kept only at strikes the archive does not hold is no option; a
// "Last:" without a ticker prices the stock --symbol names; a stock row
// skipped for a bad figure is named where its chain is left unpriced.
TEST(Importer, ChainsWithoutAStockFileArePricedOrSayWhyNot) {
    const std::string header =
        "underlying,underlying_bid,underlying_ask,type,expiration,strike,"
        "bid,ask\n";
    std::string index = "underlying,underlying_last,type,expiration,strike,bid,ask\n";
    for (int strike = 3850; strike <= 4150; strike += 50)
        index += "IDX,4012,call,2026-12-18," + std::to_string(strike) + ",10,11\n";
    const struct {
        std::string stocks;  // stocks.csv, none when empty
        std::string chain;
        std::string symbol;  // --symbol of the chain
        ImportFailure failure;
        std::string said;  // in the error, or in Quote.txt when it is written
    } cases[] = {
        {"", header + "ACME,,31.45,call,2026-12-18,30,1.9,2.1\n", "", ImportFailure::NothingRead,
         "chain.csv:2: the underlying's bid is empty (ask 31.45)"},
        {"", header + "ACME,31.40,,call,2026-12-18,30,1.9,2.1\n", "", ImportFailure::NothingRead,
         "chain.csv:2: the underlying's ask is empty (bid 31.4)"},
        {"", header + "ACME,,,call,2026-12-18,30,1.9,2.1\n", "", ImportFailure::NothingRead,
         "chain.csv:2: the underlying's bid and ask are empty"},
        {"", header + "ACME,31.40,31.50,call,2026-12-18,30,1.9,2.1\n", "", ImportFailure::None,
         "<STOCK>ACME\r\n"},
        {"", index, "", ImportFailure::NoOption, "no option kept, nothing written"},
        {"", "Last: 31.45\nexpiration,type,strike,bid,ask\n2026-12-18,call,30,1.9,2.1\n", "ACME",
         ImportFailure::None, "\r\n31.45\r\n"},
        {"symbol,last\nACME,31.4x\n",
         "underlying,type,expiration,strike,bid,ask\n"
         "ACME,call,2026-12-18,30,1.9,2.1\n",
         "", ImportFailure::NothingRead, "its stock row was skipped: STOCKS:2: column 'last'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said);
        TempDir dir;
        ImportOptions options;
        options.outDir = dir.Path();
        options.date = {2026, 12, 1};
        if (!c.stocks.empty()) {
            dir.Write("stocks.csv", c.stocks);
            options.files.push_back({dir.File("stocks.csv"), {}});
        }
        dir.Write("chain.csv", c.chain);
        options.files.push_back({dir.File("chain.csv"), c.symbol});
        ImportSummary summary;
        std::string error;
        ASSERT_EQ(RunImport(options, summary, error), c.failure) << error;
        std::string said = c.said;
        if (const auto at = said.find("STOCKS"); at != std::string::npos)
            said.replace(at, 6, dir.File("stocks.csv"));
        if (c.failure == ImportFailure::None) {
            EXPECT_NE(dir.Read("Quote.txt").find(said), std::string::npos) << dir.Read("Quote.txt");
            continue;
        }
        EXPECT_NE(error.find(said), std::string::npos) << error;
        EXPECT_EQ(error.find("no underlying-price column"), std::string::npos) << error;
        EXPECT_FALSE(dir.Exists("Quote.txt"));
    }
}

// Temporary files of killed imports older than a minute go at the next
// import; a young one may belong to an import running now and stays, and so
// do files that are no temporaries of the import's own files.
TEST(Importer, RemovesTheTemporariesOfKilledImports) {
    TempDir dir;
    dir.Write("stocks.csv", "Symbol,Last\r\nAB,12\r\n");
    const struct {
        const char* name;
        int ageSeconds;
        bool removed;
    } cases[] = {
        {"Quote.txt.import-a1B2c3", 90, true},
        {"Quote.txt.import-Zz09Yy", 30, false},
        {"Quote.txt.import-old000", 3600 * 24 * 400, true},
        {"QuoteDate.txt.import-QQ11rr", 61, true},
        {"Symbols.sym.import-x0x0x0", 120, true},
        {"Quote.txt.import-abcde", 120, false},
        {"Quote.txt.import-abcdefg", 120, false},
        {"Quote.txt.import-ab.def", 120, false},
        {"Other.txt.import-abcdef", 120, false},
        {"Quote.txt.new-abcdef", 120, true},
    };
    for (const auto& c : cases) {
        dir.Write(c.name, "left over");
        timespec times[2] = {{std::time(nullptr) - c.ageSeconds, 0},
                             {std::time(nullptr) - c.ageSeconds, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, dir.File(c.name).c_str(), times, 0), 0) << c.name;
    }
    ImportOptions options;
    options.outDir = dir.Path();
    options.date = {2026, 12, 1};
    options.files = {{dir.File("stocks.csv"), {}}};
    ImportSummary summary;
    std::string error;
    ASSERT_EQ(RunImport(options, summary, error), ImportFailure::None) << error;
    for (const auto& c : cases)
        EXPECT_EQ(dir.Exists(c.name), !c.removed) << c.name;
    EXPECT_EQ(dir.Read("Quote.txt").rfind("<STOCK>AB\r\n", 0), 0u);
}

}  // namespace
}  // namespace quillon::import
