#include "ui/qt/qt_printer.h"

#include <algorithm>

#include <QFontMetrics>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>

#include "platform/files.h"
#include "platform/number_format.h"
#include "ui/qt/latin1.h"

namespace quillon {

namespace {

constexpr int kPrintFontPoints = 10;

// A printer for the current printer, or for a PDF file when `pdfFile` is set.
void SetUpPrinter(QPrinter& printer, const std::string& pdfFile) {
    if (!pdfFile.empty()) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(pdfFile));
    }
    printer.setCollateCopies(true);
    printer.setCopyCount(1);
}

// Where a printout goes: a new PDF file when there is no printer to print on.
std::string PdfTarget(const WorkingFileNames& files, const std::string& stem, const Clock& clock) {
    return PrinterInstalled() ? std::string() : PdfFileName(files, stem, clock);
}

PrintOutcome Outcome(PrintStatus status, const std::string& pdfFile) {
    PrintOutcome outcome;
    outcome.Printed = status == PrintStatus::Printed;
    // A PDF that holds nothing because the results could not be read is
    // removed rather than handed to the user.
    if (!pdfFile.empty() && status == PrintStatus::FileError) DeleteFileQuietly(pdfFile);
    if (outcome.Printed) outcome.PdfFile = pdfFile;
    return outcome;
}

}  // namespace

QFont PrintFont() {
    // Asked for by name: fontconfig substitutes a metric-compatible face.
    QFont font(QStringLiteral("Courier New"), kPrintFontPoints);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    return font;
}

// ---- text device ------------------------------------------------------------------------------

bool QtTextDevice::OpenJob() {
    if (!painter_.begin(&printer_)) return false;
    painter_.setFont(PrintFont());
    painter_.setPen(Qt::black);
    const QFontMetrics metrics = painter_.fontMetrics();
    lineHeight_ = std::max(1, metrics.lineSpacing());
    ascent_ = metrics.ascent();
    // The painter's origin is the top left of the printable area.
    const int sheetHeight = printer_.pageLayout().paintRectPixels(printer_.resolution()).height();
    linesPerSheet_ = std::max(1, sheetHeight / lineHeight_);
    return true;
}

void QtTextDevice::NextSheet() {
    printer_.newPage();
}

void QtTextDevice::DrawLine(int row, std::string_view text) {
    if (text.empty()) return;
    painter_.drawText(QPoint(0, row * lineHeight_ + ascent_), FromLatin1(text));
}

void QtTextDevice::CloseJob() {
    painter_.end();
}

// ---- printouts --------------------------------------------------------------------------------

bool PrinterInstalled() {
    return !QPrinterInfo::availablePrinters().isEmpty();
}

std::string PdfFileName(const WorkingFileNames& files, const std::string& stem,
                        const Clock& clock) {
    const DateTime now = clock.Now();
    const std::string base = files.WorkingDirectory + "/" + stem +
                             FormatArgs("-%04d%02d%02d-%02d%02d%02d", now.Year, now.Month, now.Day,
                                        now.Hour, now.Minute, now.Second);
    std::string name = base + ".pdf";
    for (int n = 2; FileExists(name); ++n)
        name = base + "-" + std::to_string(n) + ".pdf";
    return name;
}

bool ShowPrintDialog(QPrinter& printer, QWidget* parent) {
    QPrintDialog dialog(&printer, parent);
    dialog.setObjectName(QStringLiteral("PrintDialog1"));
    return dialog.exec() == QDialog::Accepted;
}

PrintOutcome RunPrintResults(QWidget* parent, const WorkingFileNames& files, const Clock& clock,
                             MessageService& messages, const PrintDialogRunner& runDialog) {
    std::string pdfFile = PdfTarget(files, "Results", clock);
    QPrinter printer(QPrinter::HighResolution);
    SetUpPrinter(printer, pdfFile);
    if (!runDialog(printer, parent)) return {};
    // The user may have picked another file, or a printer after all.
    if (!pdfFile.empty()) {
        pdfFile = printer.outputFormat() == QPrinter::PdfFormat
                      ? printer.outputFileName().toLocal8Bit().toStdString()
                      : std::string();
    }
    QtTextDevice device(printer);
    return Outcome(PrintResults(files.ResultsFile, device, clock, messages), pdfFile);
}

PrintOutcome RunInterimPrintout(const std::string& memoText, const WorkingFileNames& files,
                                const Clock& clock) {
    const std::string pdfFile = PdfTarget(files, "Interim", clock);
    QPrinter printer(QPrinter::HighResolution);
    SetUpPrinter(printer, pdfFile);
    QtTextDevice device(printer);
    return Outcome(PrintInterim(memoText, device, clock), pdfFile);
}

}  // namespace quillon
