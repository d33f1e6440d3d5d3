// The printer text device over QPrinter, writing PDF files on the offscreen
// platform. The QApplication comes from the test program's environment.

#include <gtest/gtest.h>

#include <QPrinter>
#include <QRegularExpression>
#include <string>

#include "platform/files.h"
#include "tests/support/temp_dir.h"
#include "ui/qt/qt_printer.h"

namespace quillon {
namespace {

const DateTime kAt{2027, 3, 4, 13, 5, 9};

// The pages of a PDF file: its page objects.
int PdfPageCount(const std::string& file) {
    const QString pdf = QString::fromLatin1(ReadWholeFile(file).value_or(""));
    return static_cast<int>(pdf.count(QRegularExpression("/Type\\s*/Page[^s]")));
}

std::string Block(int lines) {
    std::string block;
    for (int i = 0; i < lines; ++i)
        block += "line " + std::to_string(i) + "\r\n";
    return block + "\f\r\n";
}

// A block longer than a sheet continues on sheets of its own, which the
// device counts in its page number.
TEST(QtTextDevice, OverlongBlockAddsSheets) {
    testing::TempDir dir;
    dir.Write("Results.txt", Block(200) + Block(1));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(dir.File("out.pdf")));
    QtTextDevice device(printer);
    FixedClock clock(kAt);
    ScriptedMessages messages;

    ASSERT_EQ(PrintResults(dir.File("Results.txt"), device, clock, messages), PrintStatus::Printed);
    const int pages = PdfPageCount(dir.File("out.pdf"));
    EXPECT_GT(pages, 2) << "200 lines do not fit on one sheet";
    EXPECT_EQ(pages, device.PageNumber());
}

// Without a printer, Print Results skips the dialog and writes a PDF in the
// working directory: one page per block. An unreadable Results.txt leaves no
// PDF behind.
TEST(QtPrintouts, ResultsWithoutPrinterWritePdf) {
    if (PrinterInstalled()) GTEST_SKIP() << "a printer is installed";
    testing::TempDir dir;
    const WorkingFileNames files = WorkingFileNames::In(dir.Path());
    FixedClock clock(kAt);
    ScriptedMessages messages;

    int dialogs = 0;
    auto confirm = [&](QPrinter&, QWidget*) { return ++dialogs > 0; };
    auto cancel = [&](QPrinter&, QWidget*) { return ++dialogs < 0; };

    const PrintOutcome missing = RunPrintResults(nullptr, files, clock, messages, confirm);
    EXPECT_FALSE(missing.Printed);
    EXPECT_EQ(messages.Shown.size(), 1u);
    EXPECT_FALSE(dir.Exists("Results-20270304-130509.pdf"));

    dir.Write("Results.txt", Block(3) + Block(1) + Block(2));
    // Cancelling the print dialog prints nothing.
    EXPECT_FALSE(RunPrintResults(nullptr, files, clock, messages, cancel).Printed);
    EXPECT_FALSE(dir.Exists("Results-20270304-130509.pdf"));
    const PrintOutcome outcome = RunPrintResults(nullptr, files, clock, messages, confirm);
    EXPECT_EQ(dialogs, 3);
    EXPECT_TRUE(outcome.Printed);
    EXPECT_EQ(outcome.PdfFile, dir.File("Results-20270304-130509.pdf"));
    EXPECT_EQ(PdfPageCount(outcome.PdfFile), 3);
}

// Without a printer the interim printout becomes a PDF in the working directory.
TEST(QtPrintouts, InterimWithoutPrinterWritesPdf) {
    if (PrinterInstalled()) GTEST_SKIP() << "a printer is installed";
    testing::TempDir dir;
    const WorkingFileNames files = WorkingFileNames::In(dir.Path());
    FixedClock clock(kAt);

    const PrintOutcome outcome = RunInterimPrintout("IBM\r\nreport\r\n", files, clock);
    EXPECT_TRUE(outcome.Printed);
    EXPECT_EQ(outcome.PdfFile, dir.File("Interim-20270304-130509.pdf"));
    EXPECT_EQ(PdfPageCount(outcome.PdfFile), 1);
    // A second printout in the same second gets a name of its own.
    EXPECT_EQ(RunInterimPrintout("", files, clock).PdfFile,
              dir.File("Interim-20270304-130509-2.pdf"));
}

}  // namespace
}  // namespace quillon
