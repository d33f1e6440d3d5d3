#include "results/printing.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/date_format.h"

namespace quillon {

namespace {

constexpr char kFormFeed = '\f';
constexpr const char* kLineIndent = "          ";  // 10 blanks before every body line
constexpr const char* kPrintedPrefix = "          Printed ";
constexpr const char* kResultsTitle = "     Quillon results     Page ";
constexpr const char* kPageCountSeparator = " of ";
constexpr const char* kInterimTitle = "          Quillon interim printout";

// The whole file, or the reason it could not be read (the C library's text).
struct FileBytes {
    std::optional<std::string> bytes;
    std::string error;
};

FileBytes ReadFileBytes(const std::string& name) {
    FileBytes result;
    std::FILE* file = std::fopen(name.c_str(), "rb");
    if (file == nullptr) {
        result.error = std::strerror(errno);
        return result;
    }
    std::string bytes;
    char buffer[64 * 1024];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, got);
    if (std::ferror(file) != 0) {
        result.error = std::strerror(errno);
    } else {
        result.bytes = std::move(bytes);
    }
    std::fclose(file);
    return result;
}

bool StartsWithFormFeed(const std::string& line) {
    return !line.empty() && line.front() == kFormFeed;
}

// The number of form-feed lines: the report blocks, as the header counts them.
int CountFormFeedLines(const std::vector<std::string>& lines) {
    int count = 0;
    for (const std::string& line : lines)
        if (StartsWithFormFeed(line)) ++count;
    return count;
}

std::string ResultsHeader(const Clock& clock, int page, int pageCount) {
    return kPrintedPrefix + FormatDateTime(clock.Now()) + kResultsTitle + std::to_string(page) +
           kPageCountSeparator + std::to_string(pageCount);
}

// Every block starts a sheet under its own header; the form-feed lines that
// end the blocks are not printed. The first header goes on the job's first
// sheet, every later one after a form feed, so a file that ends with a
// form-feed line leaves no empty sheet behind.
void WriteResults(const std::vector<std::string>& lines, TextDevice& device, const Clock& clock) {
    const int pageCount = CountFormFeedLines(lines);
    int lineCount = 0;
    bool pageStarted = false;
    for (const std::string& line : lines) {
        if (lineCount == 0) {
            if (pageStarted) device.FormFeed();
            pageStarted = true;
            device.WriteLine("");
            device.WriteLine(ResultsHeader(clock, device.PageNumber(), pageCount));
            device.WriteLine("");
        }
        if (StartsWithFormFeed(line)) {
            lineCount = 0;
        } else {
            device.WriteLine(kLineIndent + line);
            ++lineCount;
        }
    }
}

}  // namespace

// ---- text device ------------------------------------------------------------------------------

bool TextDevice::BeginJob() {
    if (open_) EndJob();
    if (!OpenJob()) return false;
    open_ = true;
    feedPending_ = false;
    page_ = 1;
    row_ = 0;
    return true;
}

void TextDevice::StartNextSheet() {
    NextSheet();
    ++page_;
    row_ = 0;
    feedPending_ = false;
}

void TextDevice::DrawOnSheet(std::string_view text) {
    if (feedPending_ || row_ >= LinesPerSheet()) StartNextSheet();
    DrawLine(row_, text);
    ++row_;
}

void TextDevice::WriteLine(std::string_view text) {
    if (!open_) return;
    // Text before a form feed stays on the old sheet; the rest of the line
    // goes on the next.
    for (std::size_t feed; (feed = text.find(kFormFeed)) != std::string_view::npos;) {
        if (feed > 0) DrawOnSheet(text.substr(0, feed));
        FormFeed();
        text.remove_prefix(feed + 1);
    }
    DrawOnSheet(text);
}

void TextDevice::FormFeed() {
    if (!open_) return;
    // A second form feed in a row ends the sheet the first one asked for,
    // which stays blank.
    if (feedPending_) StartNextSheet();
    feedPending_ = true;
}

void TextDevice::EndJob() {
    if (!open_) return;
    CloseJob();
    open_ = false;
    feedPending_ = false;
}

bool RecordingTextDevice::OpenJob() {
    if (!CanOpen) return false;
    ++JobsBegun;
    Sheets.assign(1, {});
    return true;
}

// Rows come in order from 0, so a row is the next line of the sheet.
void RecordingTextDevice::DrawLine(int /*row*/, std::string_view text) {
    Sheets.back().emplace_back(text);
}

// ---- texts ------------------------------------------------------------------------------------

std::vector<std::string> SplitTextLines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (end != std::string_view::npos && !line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.emplace_back(line);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

// ---- printouts --------------------------------------------------------------------------------

PrintStatus PrintResults(const std::string& resultsFile, TextDevice& device, const Clock& clock,
                         MessageService& messages) {
    if (!device.BeginJob()) return PrintStatus::NoJob;
    const FileBytes file = ReadFileBytes(resultsFile);
    if (!file.bytes) {
        messages.ShowMessage("Cannot read " + resultsFile + ": " + file.error);
        device.EndJob();
        return PrintStatus::FileError;
    }
    WriteResults(SplitTextLines(*file.bytes), device, clock);
    device.EndJob();
    return PrintStatus::Printed;
}

PrintStatus PrintInterim(std::string_view memoText, TextDevice& device, const Clock& clock) {
    if (!device.BeginJob()) return PrintStatus::NoJob;
    device.WriteLine("");
    device.WriteLine(kPrintedPrefix + FormatDateTime(clock.Now()) + kInterimTitle);
    device.WriteLine("");
    for (const std::string& line : SplitTextLines(memoText))
        device.WriteLine(kLineIndent + line);
    device.EndJob();
    return PrintStatus::Printed;
}

}  // namespace quillon
