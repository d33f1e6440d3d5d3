#include "results/pass_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "platform/files.h"
#include "results/archive_date.h"

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

const std::string kAscQuoteHeaderLine = std::string(kAscQuoteHeader) + "\r\n";

std::string CauseText(int error) {
    return error != 0 ? std::strerror(error) : "the write did not complete";
}

OutputFailure Failure(const std::string& name, int error) {
    // ELOOP comes only from an open that refused a symbolic link.
    const std::string cause = error == ELOOP ? OpenErrorText(name, error) : CauseText(error);
    return OutputFailure{name, cause, OutputFailure::Step::Symbol, error};
}

// Writes all of `text` at the end of `fd`; 0, or the errno value of the
// failure.
int WriteAll(int fd, const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (written == 0) return ENOSPC;
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return 0;
}

// Writes `text` at `offset` in one call; 0 or the errno value.
int WriteAt(int fd, const std::string& text, off_t offset) {
    for (;;) {
        ssize_t written = ::pwrite(fd, text.data(), text.size(), offset);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return errno;
        return static_cast<std::size_t>(written) == text.size() ? 0 : ENOSPC;
    }
}

std::int64_t SizeOf(int fd) {
    struct stat status {};
    return ::fstat(fd, &status) == 0 ? static_cast<std::int64_t>(status.st_size) : -1;
}

}  // namespace

// ---------------------------------------------------------------- rotation

std::optional<OutputFailure> RotatePassFiles(const WorkingFileNames& names, bool localMode,
                                             const std::function<int(const std::string&)>& before) {
    auto check = [&](const std::string& name) -> int { return before ? before(name) : 0; };
    auto remove = [&](const std::string& name) -> std::optional<OutputFailure> {
        if (QueryFileSize(name) < 0) return std::nullopt;
        if (int error = check(name)) return Failure(name, error);
        if (::unlink(name.c_str()) != 0 && errno != ENOENT) return Failure(name, errno);
        return std::nullopt;
    };
    // A file with content replaces its backup in one step; one with nothing
    // of the pass in it (empty, or only a header) leaves the backup alone.
    auto moveAside = [&](const std::string& name, const std::string& backup,
                         std::int64_t emptySize) -> std::optional<OutputFailure> {
        const std::int64_t size = QueryFileSize(name);
        if (size < 0) return std::nullopt;
        if (size <= emptySize) return remove(name);
        if (int error = check(name)) return Failure(name, error);
        if (::rename(name.c_str(), backup.c_str()) != 0) return Failure(name, errno);
        return std::nullopt;
    };

    std::optional<OutputFailure> failure;
    if ((failure = moveAside(names.ResultsFile, names.ResultsBackup, 0))) return failure;
    if ((failure = moveAside(names.SavedSymFile, names.SavedSymBackup, 0))) return failure;
    if ((failure = remove(names.UpSymFile))) return failure;
    if ((failure = remove(names.DownSymFile))) return failure;
    // The good and bad lists of a local pass keep growing across passes.
    if (localMode) return std::nullopt;
    if ((failure = remove(names.GoodSymFile))) return failure;
    if ((failure = remove(names.BadSymFile))) return failure;
    // The recorded date of Quote.txt goes with it: the pass writes a new
    // Quote.txt of its own date, and Quote.bak keeps the date of its quotes
    // (or none, and so no stale one either).
    const bool quoteMoves = QueryFileSize(names.QuoteFile) > 0;
    if ((failure = moveAside(names.QuoteFile, names.QuoteBackup, 0))) return failure;
    if (quoteMoves && (failure = remove(names.QuoteDateBackup))) return failure;
    if ((failure = quoteMoves ? moveAside(names.QuoteDateFile, names.QuoteDateBackup, 0)
                              : remove(names.QuoteDateFile))) {
        return failure;
    }
    return moveAside(names.AscQuoteFile, names.AscQuoteBackup,
                     static_cast<std::int64_t>(kAscQuoteHeaderLine.size()));
}

// ---------------------------------------------------------------- pass output files

int PassOutputFiles::Sync(const std::string& name, int fd) {
    return SyncData ? SyncData(name, fd) : ::fdatasync(fd);
}

std::optional<OutputFailure> PassOutputFiles::Check(const std::string& name) {
    if (!BeforeWrite) return std::nullopt;
    if (int error = BeforeWrite(name)) return Failure(name, error);
    return std::nullopt;
}

void PassOutputFiles::StartPass() {
    CloseOutputFiles();
    rotationPending_ = true;
}

Recovery PassOutputFiles::Recover(const WorkingFileNames& names) {
    CloseOutputFiles();
    rotationPending_ = false;
    const Recovery done = RecoverInterruptedOutput(names);
    // A replacement of the resume point killed before its rename.
    RemoveLeftoverTemporaries(names.ProgressFile, std::chrono::seconds(60));
    return done;
}

std::optional<OutputFailure> PassOutputFiles::Open(const WorkingFileNames& names, bool localMode) {
    open_ = true;  // so that CloseOutputFiles tidies up after a failure
    names_ = names;
    for (int i = 0; i < kOutputSlots; ++i) {
        const auto slot = static_cast<OutputSlot>(i);
        const std::size_t at = static_cast<std::size_t>(i);
        // The quote archive is written only while quotes come from the server.
        if (localMode && (slot == Quote || slot == AscQuote)) {
            committed_.Lengths[at] = kFileUntracked;
            continue;
        }
        const std::string& name = OutputFileName(names, slot);
        if (auto failure = Check(name)) return failure;
        // Never through a symbolic link: the output would land in its target.
        fds_[i] = OpenWorkingFile(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC);
        if (fds_[i] < 0) return Failure(name, errno);
        std::int64_t size = SizeOf(fds_[i]);
        if (slot == AscQuote && size == 0) {
            if (int error = WriteAll(fds_[i], kAscQuoteHeaderLine)) return Failure(name, error);
            size = SizeOf(fds_[i]);
        }
        if (size < 0) return Failure(name, errno);
        // The journal's first record counts what is in the file now: it must
        // be on the disk before the record is.
        if (Sync(name, fds_[i]) != 0) return Failure(name, errno);
        committed_.Lengths[at] = size;
    }

    if (!localMode && ArchiveDate) {
        if (auto failure = WriteArchiveDate(names.QuoteDateFile)) return failure;
    }

    progressText_ = ReadWholeFile(names.ProgressFile);
    progressLength_ = progressText_ ? static_cast<std::int64_t>(progressText_->size()) : -1;
    progressFd_ = OpenWorkingFile(names.ProgressFile, O_RDWR | O_CLOEXEC);
    // A symbolic link in its place would have the resume point written over
    // its target: refused like the output files.
    if (progressFd_ < 0 && errno == ELOOP) return Failure(names.ProgressFile, ELOOP);

    const std::string journal = JournalFileName(names);
    journalFd_ = OpenWorkingFile(journal, O_RDWR | O_CREAT | O_CLOEXEC);
    if (journalFd_ < 0) return Failure(journal, errno);
    std::string old(2 * kJournalSlotSize, '\0');
    ssize_t got = ::pread(journalFd_, old.data(), old.size(), 0);
    old.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    std::uint64_t sequence = 0;
    for (const JournalRecord& record : ParseJournal(old))
        sequence = std::max(sequence, record.Sequence);
    // The files and the journal just made exist for good.
    SyncDirectory(names.WorkingDirectory);

    // Where the files stand now, for the resume point now in Progress.---.
    committed_.Sequence = sequence + 1;
    committed_.ProgressHash.reset();
    committed_.ProgressText = progressText_;
    if (progressText_) committed_.ProgressHash = TextHash(*progressText_);
    written_ = committed_.Lengths;
    point_ = progressText_;
    lastCommit_ = std::chrono::steady_clock::now();
    if (auto failure = WriteJournal(names, committed_)) return failure;
    if (Sync(journal, journalFd_) != 0) return Failure(journal, errno);
    ready_ = true;
    return std::nullopt;
}

std::optional<OutputFailure> PassOutputFiles::WriteArchiveDate(const std::string& name) {
    const std::string text =
        ArchiveDateText(ArchiveDate->Year, ArchiveDate->Month, ArchiveDate->Day);
    if (ReadWholeFile(name) == text) return std::nullopt;
    if (auto failure = Check(name)) return failure;
    if (!ReplaceFileAtomically(name, text, false)) return Failure(name, errno);
    return std::nullopt;
}

std::optional<OutputFailure> PassOutputFiles::WriteJournal(const WorkingFileNames& names,
                                                           const JournalRecord& record) {
    const std::string name = JournalFileName(names);
    if (auto failure = Check(name)) return failure;
    const off_t offset = static_cast<off_t>((record.Sequence % 2) * kJournalSlotSize);
    if (int error = WriteAt(journalFd_, FormatJournalRecord(record), offset))
        return Failure(name, error);
    return std::nullopt;
}

std::optional<OutputFailure> PassOutputFiles::ClearJournal(const WorkingFileNames& names) {
    const std::string name = JournalFileName(names);
    if (QueryFileSize(name) < 0) return std::nullopt;
    if (auto failure = Check(name)) return failure;
    if (!DeleteFileQuietly(name)) return Failure(name, errno);
    SyncDirectory(names.WorkingDirectory);
    return std::nullopt;
}

std::optional<OutputFailure> PassOutputFiles::WriteProgress(const WorkingFileNames& names,
                                                            const std::string& text) {
    const std::string& name = names.ProgressFile;
    if (auto failure = Check(name)) return failure;
    const auto size = static_cast<std::int64_t>(text.size());
    if (progressFd_ >= 0 && size >= progressLength_) {
        // One write over the old text, which it covers whole: a kill leaves
        // either the old resume point or the new one, never a mix.
        if (int error = WriteAt(progressFd_, text, 0)) return Failure(name, error);
        // On the disk before the journal's record of the point before it is
        // written over by the next commit.
        if (Sync(name, progressFd_) != 0) return Failure(name, errno);
    } else {
        // Shorter, or a new file: a complete file is renamed into place.
        if (!ReplaceFileAtomically(name, text, false)) return Failure(name, errno);
        SyncDirectory(names.WorkingDirectory);
        if (progressFd_ >= 0) ::close(progressFd_);
        progressFd_ = open_ ? OpenWorkingFile(name, O_RDWR | O_CLOEXEC) : -1;
    }
    progressLength_ = size;
    progressText_ = text;
    return std::nullopt;
}

void PassOutputFiles::CutBack() {
    for (int i = 0; i < kOutputSlots; ++i) {
        const std::int64_t length = written_[static_cast<std::size_t>(i)];
        // A cut that fails here is made again from the journal when the scan
        // is next opened.
        if (fds_[i] >= 0 && length >= 0 && ::ftruncate(fds_[i], static_cast<off_t>(length)) != 0) {
            continue;
        }
    }
}

std::optional<OutputFailure> PassOutputFiles::Commit() {
    if (!ready_) return std::nullopt;
    lastCommit_ = std::chrono::steady_clock::now();
    if (BeforeCommit) {
        if (std::optional<OutputFailure> failure = BeforeCommit()) {
            failure->What = OutputFailure::Step::ResumePoint;
            return failure;
        }
    }
    const bool pointMoves = point_ && point_ != progressText_;
    if (written_ == committed_.Lengths && !pointMoves) return std::nullopt;
    auto fail = [](OutputFailure failure) {
        failure.What = OutputFailure::Step::ResumePoint;
        return std::optional<OutputFailure>(std::move(failure));
    };
    for (int i = 0; i < kOutputSlots; ++i) {
        const std::string& name = OutputFileName(names_, static_cast<OutputSlot>(i));
        if (fds_[i] >= 0 && Sync(name, fds_[i]) != 0) return fail(Failure(name, errno));
    }
    JournalRecord next = committed_;
    next.Sequence = committed_.Sequence + 1;
    next.Lengths = written_;
    if (pointMoves) {
        next.ProgressHash = TextHash(*point_);
        next.ProgressText = point_;
    }
    if (auto failure = WriteJournal(names_, next)) return fail(*failure);
    if (Sync(JournalFileName(names_), journalFd_) != 0) {
        return fail(Failure(JournalFileName(names_), errno));
    }
    if (pointMoves) {
        if (auto failure = WriteProgress(names_, *point_)) {
            // The journal already names the new lengths: it names the old
            // ones again, under the newer number, and the next opening cuts
            // the files back to them.
            JournalRecord old = committed_;
            old.Sequence = next.Sequence;
            if (!WriteJournal(names_, old) && Sync(JournalFileName(names_), journalFd_) != 0) {
                // The next opening finds the newer record without its point,
                // and the older one for the point on the disk.
            }
            return fail(*failure);
        }
    }
    committed_ = next;
    return std::nullopt;
}

std::optional<OutputFailure> PassOutputFiles::FlushPendingOutput(PendingOutput& pending,
                                                                 const WorkingFileNames& names,
                                                                 bool localMode) {
    if (pending.Empty()) return std::nullopt;
    auto fail = [&](OutputFailure failure) {
        CloseOutputFiles();
        pending.Clear();
        return std::optional<OutputFailure>(std::move(failure));
    };

    if (rotationPending_) {
        // The journal of an earlier pass goes first: its records must never
        // cut this pass's files. Then the resume point names the new pass
        // before the old pass's files move, so that a scan stopped during
        // the rotation starts the pass again instead of resuming the old one
        // in the new files.
        CloseOutputFiles();
        if (auto failure = ClearJournal(names)) return fail(*failure);
        if (auto failure = WriteProgress(names, "0 0")) return fail(*failure);
        if (auto failure = RotatePassFiles(names, localMode, BeforeWrite)) return fail(*failure);
        SyncDirectory(names.WorkingDirectory);
        rotationPending_ = false;
    }
    if (!open_) {
        if (auto failure = Open(names, localMode)) return fail(*failure);
    }

    const std::pair<OutputSlot, std::string*> texts[] = {
        {Good, &pending.PendingGoodSym},      {Bad, &pending.PendingBadSym},
        {Up, &pending.PendingUpSym},          {Down, &pending.PendingDownSym},
        {Quote, &pending.PendingQuote},       {AscQuote, &pending.PendingAscQuote},
        {SavedSym, &pending.PendingSavedSym}, {Results, &pending.PendingResults}};
    std::array<std::int64_t, kOutputSlots> lengths = written_;
    for (const auto& [slot, text] : texts) {
        if (text->empty() || fds_[slot] < 0) continue;
        const std::string& name = OutputFileName(names, slot);
        std::optional<OutputFailure> failure = Check(name);
        if (int error = failure ? 0 : WriteAll(fds_[slot], *text)) failure = Failure(name, error);
        if (failure) {
            // Cut back to the symbol before, which is then committed.
            CutBack();
            return fail(*failure);
        }
        lengths[static_cast<std::size_t>(slot)] += static_cast<std::int64_t>(text->size());
    }
    written_ = lengths;
    if (!pending.PendingProgress.empty()) point_ = pending.PendingProgress;
    pending.Clear();
    if (std::chrono::steady_clock::now() - lastCommit_ < CommitInterval) return std::nullopt;
    if (auto failure = Commit()) {
        // The files go as they are; the next opening cuts them back to the
        // last commit.
        Close();
        return failure;
    }
    return std::nullopt;
}

std::optional<OutputFailure> PassOutputFiles::EndPass(const WorkingFileNames& names,
                                                      int processCount) {
    if (auto failure = Commit()) {
        Close();
        return failure;
    }
    Close();
    rotationPending_ = false;
    auto fail = [](OutputFailure failure) {
        failure.What = OutputFailure::Step::PassEnd;
        return std::optional<OutputFailure>(std::move(failure));
    };
    // Every symbol of the pass is written whole and on the disk: the journal
    // has nothing left to cut back. It goes before the resume point moves
    // on, since a record of the point the pass began from ("0 0") would
    // otherwise match the end point of a pass that saved nothing, and cut
    // its output.
    if (auto failure = Check(JournalFileName(names))) return fail(*failure);
    if (!DeleteFileQuietly(JournalFileName(names))) {
        return fail(Failure(JournalFileName(names), errno));
    }
    const std::string text = std::to_string(processCount) + " 0";
    if (ReadWholeFile(names.ProgressFile) == text) return std::nullopt;
    if (auto failure = Check(names.ProgressFile)) return fail(*failure);
    if (!ReplaceFileAtomically(names.ProgressFile, text, false)) {
        return fail(Failure(names.ProgressFile, errno));
    }
    SyncDirectory(names.WorkingDirectory);
    return std::nullopt;
}

void PassOutputFiles::CloseOutputFiles() {
    if (Commit()) {
        // Left to the next opening, which cuts the files back to the last
        // commit.
    }
    Close();
}

void PassOutputFiles::Close() {
    for (int& fd : fds_) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    for (int* fd : {&progressFd_, &journalFd_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
    open_ = false;
    ready_ = false;
}

}  // namespace quillon
