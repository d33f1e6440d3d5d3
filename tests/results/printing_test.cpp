#include "results/printing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using Sheet = std::vector<std::string>;

constexpr const char* kFeed = "\f";
const DateTime kAt{2027, 3, 4, 13, 5, 9};  // 3/4/2027 1:05:09 PM

std::string Header(int page, int count) {
    return "          Printed 3/4/2027 1:05:09 PM     Quillon results     Page " +
           std::to_string(page) + " of " + std::to_string(count);
}

// The sheet of a header followed by the indented body lines.
Sheet HeaderSheet(int page, int count, const std::vector<std::string>& body = {}) {
    Sheet sheet = {"", Header(page, count), ""};
    for (const std::string& line : body)
        sheet.push_back("          " + line);
    return sheet;
}

struct ResultsCase {
    const char* name;
    std::string file;
    std::vector<Sheet> sheets;
};

void PrintTo(const ResultsCase& c, std::ostream* out) {
    *out << c.name;
}

class PrintResultsTest : public ::testing::TestWithParam<ResultsCase> {};

TEST_P(PrintResultsTest, SheetsAndHeaders) {
    const ResultsCase& c = GetParam();
    testing::TempDir dir;
    dir.Write("Results.txt", c.file);
    RecordingTextDevice printer;
    FixedClock clock(kAt);
    ScriptedMessages messages;

    EXPECT_EQ(PrintResults(dir.File("Results.txt"), printer, clock, messages),
              PrintStatus::Printed);
    EXPECT_EQ(printer.Sheets, c.sheets);
    EXPECT_EQ(printer.JobsBegun, 1);
    EXPECT_EQ(printer.JobsEnded, 1);
    EXPECT_TRUE(messages.Shown.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, PrintResultsTest,
    ::testing::Values(
        ResultsCase{"ThreeBlocks",
                    std::string("A1\r\nA2\r\n") + kFeed + "\r\nB1\r\n" + kFeed + "\r\nC1\r\n" +
                        kFeed + "\r\n",
                    {HeaderSheet(1, 3, {"A1", "A2"}), HeaderSheet(2, 3, {"B1"}),
                     HeaderSheet(3, 3, {"C1"})}},
        ResultsCase{"NoFormFeed", "one\ntwo", {HeaderSheet(1, 0, {"one", "two"})}},
        ResultsCase{"TwoFeedsInARow",
                    std::string("A\r\n") + kFeed + "\r\n" + kFeed + "\r\nB\r\n" + kFeed + "\r\n",
                    {HeaderSheet(1, 3, {"A"}), HeaderSheet(2, 3), HeaderSheet(3, 3, {"B"})}},
        // The rest of a form-feed line is not printed either.
        ResultsCase{
            "TextAfterFeed", std::string("A\r\n") + kFeed + "tail\r\n", {HeaderSheet(1, 1, {"A"})}},
        ResultsCase{"Empty", "", {Sheet{}}}),
    [](const auto& test) { return std::string(test.param.name); });

// A block longer than a sheet continues on a sheet of its own without a
// header; the next header's page number counts that sheet, the page count
// (form-feed lines only) does not.
TEST(PrintResults, OverlongBlockAddsSheetsWithoutHeader) {
    testing::TempDir dir;
    dir.Write("Results.txt", std::string("1\n2\n3\n4\n") + kFeed + "\nX\n" + kFeed + "\n");
    RecordingTextDevice printer(5);
    FixedClock clock(kAt);
    ScriptedMessages messages;

    PrintResults(dir.File("Results.txt"), printer, clock, messages);
    const std::vector<Sheet> expected = {{"", Header(1, 2), "", "          1", "          2"},
                                         {"          3", "          4"},
                                         HeaderSheet(3, 2, {"X"})};
    EXPECT_EQ(printer.Sheets, expected);
}

// Every header reads the clock anew.
TEST(PrintResults, EachHeaderTakesTheTimeAnew) {
    class TickingClock final : public Clock {
      public:
        DateTime Now() const override { return {2027, 3, 4, 13, 5, ++second_}; }

      private:
        mutable int second_ = 0;
    };
    testing::TempDir dir;
    dir.Write("Results.txt", std::string("A\n") + kFeed + "\nB\n" + kFeed + "\n");
    RecordingTextDevice printer;
    TickingClock clock;
    ScriptedMessages messages;

    PrintResults(dir.File("Results.txt"), printer, clock, messages);
    ASSERT_EQ(printer.Sheets.size(), 2u);
    EXPECT_NE(printer.Sheets[0][1].find("1:05:01 PM"), std::string::npos);
    EXPECT_NE(printer.Sheets[1][1].find("1:05:02 PM"), std::string::npos);
}

TEST(PrintResults, MissingFileShowsTheErrorAndEndsTheJob) {
    testing::TempDir dir;
    RecordingTextDevice printer;
    FixedClock clock(kAt);
    ScriptedMessages messages;

    EXPECT_EQ(PrintResults(dir.File("Results.txt"), printer, clock, messages),
              PrintStatus::FileError);
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_NE(messages.Shown[0].find("Results.txt"), std::string::npos);
    EXPECT_EQ(printer.JobsEnded, 1);
    EXPECT_EQ(printer.Sheets, std::vector<Sheet>{Sheet{}});
}

TEST(PrintResults, PrinterThatCannotStartReadsNothing) {
    RecordingTextDevice printer;
    printer.CanOpen = false;
    FixedClock clock(kAt);
    ScriptedMessages messages;
    EXPECT_EQ(PrintResults("/nonexistent/Results.txt", printer, clock, messages),
              PrintStatus::NoJob);
    EXPECT_TRUE(messages.Shown.empty());
}

TEST(PrintInterim, HeaderAndIndentedLines) {
    const std::string header =
        "          Printed 3/4/2027 1:05:09 PM          Quillon interim printout";
    FixedClock clock(kAt);
    struct Case {
        std::string memo;
        Sheet sheet;
    };
    const Case cases[] = {
        {"", {"", header, ""}},
        {"IBM\r\n\r\nlast\r\n", {"", header, "", "          IBM", "          ", "          last"}},
    };
    for (const Case& c : cases) {
        RecordingTextDevice printer;
        EXPECT_EQ(PrintInterim(c.memo, printer, clock), PrintStatus::Printed);
        EXPECT_EQ(printer.Sheets, std::vector<Sheet>{c.sheet}) << c.memo;
        EXPECT_EQ(printer.JobsEnded, 1);
    }
}

// The device's own rules: a form feed inside a line ends the sheet there, and
// a second form feed in a row leaves a blank sheet.
TEST(TextDevice, FormFeedsInsideLinesAndInARow) {
    RecordingTextDevice printer;
    ASSERT_TRUE(printer.BeginJob());
    printer.WriteLine("left\fright");
    printer.FormFeed();
    printer.FormFeed();
    printer.WriteLine("last");
    printer.FormFeed();
    EXPECT_EQ(printer.PageNumber(), 4);
    printer.EndJob();
    const std::vector<Sheet> expected = {{"left"}, {"right"}, {}, {"last"}};
    EXPECT_EQ(printer.Sheets, expected);
}

}  // namespace
}  // namespace quillon
