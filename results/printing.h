#pragma once
// The two printouts: Print Results (every report block of Results.txt on its
// own sheet under a header with the page number and the page count) and the
// interim printout of the scan window's log under one header line. Both write
// plain text lines to the printer used as a text device.

#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/services.h"

namespace quillon {

// The printer as a text device. Lines are drawn one below the other from the
// top left of the printable area. A form feed ends the current sheet and the
// next line starts a new one; a line that would not fit on the sheet starts a
// new sheet by itself. The page number is 1 on the first sheet of a job and
// counts every new sheet, however it began.
//
// A new sheet begins only when a line is drawn after a form feed or on a full
// sheet, so a job that ends with a form feed has no empty last sheet. This
// class keeps the sheet bookkeeping; a printer backend supplies the drawing.
class TextDevice {
  public:
    virtual ~TextDevice() = default;

    // Starts a print job on its first sheet; false when no job could start.
    bool BeginJob();
    // Draws one line and moves to the next. A form-feed byte inside the text
    // ends the sheet at that point, as it would on the printer.
    void WriteLine(std::string_view text);
    // Ends the current sheet; the next line starts a new one.
    void FormFeed();
    // Ends the job; a pending form feed adds no sheet.
    void EndJob();

    int PageNumber() const { return page_; }
    bool JobOpen() const { return open_; }

  protected:
    // The backend's part. OpenJob starts the job on its first sheet;
    // LinesPerSheet (asked only while a job is open) is at least 1.
    virtual bool OpenJob() = 0;
    virtual int LinesPerSheet() const = 0;
    virtual void NextSheet() = 0;
    virtual void DrawLine(int row, std::string_view text) = 0;
    virtual void CloseJob() = 0;

  private:
    void StartNextSheet();
    void DrawOnSheet(std::string_view text);

    bool open_ = false;
    bool feedPending_ = false;
    int page_ = 0;
    int row_ = 0;  // lines already on the current sheet
};

// A printer on paper that does not exist: it keeps the lines of every sheet.
class RecordingTextDevice final : public TextDevice {
  public:
    explicit RecordingTextDevice(int linesPerSheet = 60) : linesPerSheet_(linesPerSheet) {}

    std::vector<std::vector<std::string>> Sheets;  // of the last job
    int JobsBegun = 0;
    int JobsEnded = 0;
    bool CanOpen = true;  // false: the printer refuses to start a job

  protected:
    bool OpenJob() override;
    int LinesPerSheet() const override { return linesPerSheet_; }
    void NextSheet() override { Sheets.emplace_back(); }
    void DrawLine(int row, std::string_view text) override;
    void CloseJob() override { ++JobsEnded; }

  private:
    int linesPerSheet_;
};

// The lines of a text as a file or a memo holds them: LF or CR LF ends a
// line, and a final line end starts no further line.
std::vector<std::string> SplitTextLines(std::string_view text);

enum class PrintStatus {
    Printed,    // the job ran to its end
    NoJob,      // the printer could not start a job; nothing was read
    FileError,  // the results file could not be read; the job was ended
};

// Print Results: prints the results file `resultsFile` on `device`, one report
// block per sheet. A file that cannot be read stops the printout with a file
// error message; the job that was begun is ended.
PrintStatus PrintResults(const std::string& resultsFile, TextDevice& device, const Clock& clock,
                         MessageService& messages);

// The interim printout: the lines of the scan window's log under one header.
PrintStatus PrintInterim(std::string_view memoText, TextDevice& device, const Clock& clock);

}  // namespace quillon
