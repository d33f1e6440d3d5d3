#pragma once
// The printer as a text device over QPrinter and QPainter, and the two
// printouts as the desktop program starts them. Without an installed printer
// a printout goes to a PDF file in the working directory instead.

#include <functional>
#include <string>

#include <QFont>
#include <QPainter>

#include "platform/clock.h"
#include "platform/services.h"
#include "results/printing.h"
#include "results/settings.h"

class QPrinter;
class QWidget;

namespace quillon {

// The printout font: Courier New, 10 points, regular, black.
QFont PrintFont();

// Draws the lines with PrintFont from the top left of the printer's printable
// area; the bytes of a line are taken as Latin-1 text.
class QtTextDevice final : public TextDevice {
  public:
    explicit QtTextDevice(QPrinter& printer) : printer_(printer) {}

  protected:
    bool OpenJob() override;
    int LinesPerSheet() const override { return linesPerSheet_; }
    void NextSheet() override;
    void DrawLine(int row, std::string_view text) override;
    void CloseJob() override;

  private:
    QPrinter& printer_;
    QPainter painter_;
    int lineHeight_ = 1;
    int ascent_ = 0;
    int linesPerSheet_ = 1;
};

// What became of a printout.
struct PrintOutcome {
    bool Printed = false;  // false: cancelled, no job could start, or the file was unreadable
    std::string PdfFile;   // the PDF written when no printer is installed; empty otherwise
};

// True when the system knows at least one printer.
bool PrinterInstalled();

// The PDF file a printout goes to without a printer: `stem` + "-YYYYMMDD-HHMMSS.pdf" in
// the working directory, with "-2", "-3", ... added when that name is taken.
std::string PdfFileName(const WorkingFileNames& files, const std::string& stem, const Clock& clock);

// Shows the print dialog for `printer`; true when the user confirms.
using PrintDialogRunner = std::function<bool(QPrinter& printer, QWidget* parent)>;
bool ShowPrintDialog(QPrinter& printer, QWidget* parent);

// Print Results: the print dialog `PrintDialog1` (collated, one copy; with
// no printer installed it offers the PDF file in the working directory),
// then Results.txt of the working directory. Cancelling the dialog prints
// nothing. A results file that cannot be read is reported through
// `messages`.
PrintOutcome RunPrintResults(QWidget* parent, const WorkingFileNames& files, const Clock& clock,
                             MessageService& messages,
                             const PrintDialogRunner& runDialog = ShowPrintDialog);

// The interim printout of the scan window's log on the current printer,
// without a dialog.
PrintOutcome RunInterimPrintout(const std::string& memoText, const WorkingFileNames& files,
                                const Clock& clock);

}  // namespace quillon
