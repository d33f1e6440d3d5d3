#include "results/pass_output.h"

#include <initializer_list>
#include <utility>

#include "market/line_reader.h"
#include "platform/files.h"

namespace quillon {

void PendingOutput::Clear() {
    for (std::string* text :
         {&PendingResults, &PendingSavedSym, &PendingGoodSym, &PendingBadSym, &PendingUpSym,
          &PendingDownSym, &PendingQuote, &PendingAscQuote, &PendingProgress}) {
        text->clear();
    }
}

bool PendingOutput::Empty() const {
    for (const std::string* text :
         {&PendingResults, &PendingSavedSym, &PendingGoodSym, &PendingBadSym, &PendingUpSym,
          &PendingDownSym, &PendingQuote, &PendingAscQuote, &PendingProgress}) {
        if (!text->empty()) return false;
    }
    return true;
}

namespace {

// Writes `text` to `file` and flushes it; a missing file or a failed write
// is ignored, since output failures never stop a scan.
void WriteAndFlush(std::FILE* file, const std::string& text) {
    if (file == nullptr || text.empty()) return;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fflush(file);
}

}  // namespace

void PassOutputFiles::Open(const WorkingFileNames& names, bool localMode) {
    auto append = [this](Slot slot, const std::string& name) {
        files_[slot] = std::fopen(name.c_str(), "ab");
    };
    append(Good, names.GoodSymFile);
    append(Bad, names.BadSymFile);
    append(Up, names.UpSymFile);
    append(Down, names.DownSymFile);
    if (!localMode) {
        // The quote archive is written only while quotes come from the server.
        append(Quote, names.QuoteFile);
        const bool ascQuoteExisted = FileExists(names.AscQuoteFile);
        append(AscQuote, names.AscQuoteFile);
        if (!ascQuoteExisted)
            WriteAndFlush(files_[AscQuote], std::string(kAscQuoteHeader) + "\r\n");
    }
    append(SavedSym, names.SavedSymFile);
    append(Results, names.ResultsFile);
    files_[Progress] = std::fopen(names.ProgressFile.c_str(), "wb");
    open_ = true;
}

void PassOutputFiles::FlushPendingOutput(PendingOutput& pending, const WorkingFileNames& names,
                                         bool localMode) {
    if (!open_) Open(names, localMode);
    const std::pair<Slot, std::string*> texts[] = {
        {Good, &pending.PendingGoodSym},      {Bad, &pending.PendingBadSym},
        {Up, &pending.PendingUpSym},          {Down, &pending.PendingDownSym},
        {Quote, &pending.PendingQuote},       {AscQuote, &pending.PendingAscQuote},
        {SavedSym, &pending.PendingSavedSym}, {Results, &pending.PendingResults}};
    // A text whose file could not be opened is dropped all the same, so that
    // the pending texts cannot grow for the rest of the pass.
    for (const auto& [slot, text] : texts) {
        WriteAndFlush(files_[slot], *text);
        text->clear();
    }
    if (!pending.PendingProgress.empty()) {
        // Reopening for writing empties the file, so it holds exactly the
        // latest resume point, without a line end.
        files_[Progress] = files_[Progress] == nullptr
                               ? std::fopen(names.ProgressFile.c_str(), "wb")
                               : std::freopen(names.ProgressFile.c_str(), "wb", files_[Progress]);
        WriteAndFlush(files_[Progress], pending.PendingProgress);
        pending.PendingProgress.clear();
    }
}

void PassOutputFiles::CloseOutputFiles() {
    for (std::FILE*& file : files_) {
        if (file != nullptr) std::fclose(file);
        file = nullptr;
    }
    open_ = false;
}

void StartOfPassRotation(const WorkingFileNames& names, bool localMode, LineReader& localQuotes) {
    // Each step is quiet: a file that is missing is simply not there to move.
    DeleteFileQuietly(names.ResultsBackup);
    RenameFileQuietly(names.ResultsFile, names.ResultsBackup);
    DeleteFileQuietly(names.SavedSymBackup);
    RenameFileQuietly(names.SavedSymFile, names.SavedSymBackup);
    DeleteFileQuietly(names.UpSymFile);
    DeleteFileQuietly(names.DownSymFile);
    if (localMode) {
        // The archive is being replayed: read it again from its start; the
        // good and bad lists keep growing across local passes.
        localQuotes.Rewind();
        return;
    }
    DeleteFileQuietly(names.GoodSymFile);
    DeleteFileQuietly(names.BadSymFile);
    DeleteFileQuietly(names.QuoteBackup);
    DeleteFileQuietly(names.AscQuoteBackup);
    RenameFileQuietly(names.QuoteFile, names.QuoteBackup);
    RenameFileQuietly(names.AscQuoteFile, names.AscQuoteBackup);
}

}  // namespace quillon
