#pragma once
// The per-symbol output of a pass: pending texts collected in memory while a
// symbol is processed, and the pass output files they are written to after
// the symbol. Only this code touches those files.
//
// What a symbol writes reaches its files whole or not at all: a write that
// fails is cut back at once, and one cut short by a kill is cut back when the
// scan is opened again (RecoverInterruptedOutput).
//
// The resume point moves on in group commits, at most once a second and at
// every pause, close and pass end: the files are flushed to the disk, then
// their lengths go to the journal (flushed too), and only then is the resume
// point written. A power cut therefore never leaves a resume point ahead of
// the data; it costs at most the last second of symbols, which the next run
// does again.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "results/pass_journal.h"
#include "results/settings.h"

namespace quillon {

inline constexpr const char* kAscQuoteHeader =
    "<ticker>,<per>,<date>,<time>,<open>,<high>,<low>,<close>,<vol>,<o/i>";

// One pending text per output file; each carries its own line ends.
struct PendingOutput {
    std::string PendingResults;
    std::string PendingSavedSym;
    std::string PendingGoodSym;
    std::string PendingBadSym;
    std::string PendingUpSym;
    std::string PendingDownSym;
    std::string PendingQuote;
    std::string PendingAscQuote;
    std::string PendingProgress;  // the resume point; replaced, never appended

    void Clear();
    bool Empty() const;
};

// A write to a working file that did not succeed: the file's full name and
// the system's words for the cause, and what it kept from the disk.
struct OutputFailure {
    enum class Step {
        Symbol,       // the symbol's own output: it was left out whole
        ResumePoint,  // the resume point could not move past symbols written
        PassEnd,      // the pass is written whole; its end point is not
    };
    std::string File;
    std::string Cause;
    Step What = Step::Symbol;
    int Error = 0;  // the errno value of the failure (0: not known)

    std::string Message() const { return "Cannot write " + File + ": " + Cause; }
};

// The output files of a pass, opened by the first write of a pass (or the
// first after CloseOutputFiles) and kept open until the pass ends.
class PassOutputFiles {
  public:
    PassOutputFiles() = default;
    PassOutputFiles(const PassOutputFiles&) = delete;
    PassOutputFiles& operator=(const PassOutputFiles&) = delete;
    ~PassOutputFiles() { CloseOutputFiles(); }

    // Writes every non-empty pending text to its file and clears it; the
    // pending resume point is committed with the files when CommitInterval
    // has passed since the last commit. Nothing pending: nothing is opened or
    // written. A new pass clears the journal, writes "0 0" and rotates the
    // previous pass's files first. On a failure every file is cut back to its
    // length before this symbol, the symbols before it are committed, the
    // pending texts are dropped and the failure is returned.
    std::optional<OutputFailure> FlushPendingOutput(PendingOutput& pending,
                                                    const WorkingFileNames& names, bool localMode);

    // Makes what was written durable and moves the resume point past it:
    // the files are flushed, their lengths journalled and flushed, then the
    // resume point written and flushed. Nothing open or nothing new: nothing.
    std::optional<OutputFailure> Commit();

    // Commits, then closes every open output file; does nothing when none is
    // open. A failure of the commit is left to the next opening's recovery.
    void CloseOutputFiles();

    // How long written symbols may wait for their commit.
    std::chrono::milliseconds CommitInterval{1000};

    // A new pass begins at the first symbol: the files of the previous pass
    // are rotated by the first write of this pass, so that a pass that never
    // writes anything (nothing reachable, every request refused, closed at
    // once) leaves the previous pass's files and backups as they were.
    void StartPass();
    bool RotationPending() const { return rotationPending_; }

    // The pass is over: commits and closes the files, drops the journal and
    // leaves a resume point that makes the next opening start a new pass,
    // keeping the count of saved symbols.
    std::optional<OutputFailure> EndPass(const WorkingFileNames& names, int processCount);

    // The scan is opened (again): cuts back what an interrupted write left in
    // the files and forgets a rotation not yet done.
    Recovery Recover(const WorkingFileNames& names);

    bool IsOpen() const { return open_; }

    // The date the quotes of a server pass are of, when the scan runs as of
    // a date of its own: opening the files of the pass records it in
    // QuoteDate.txt beside Quote.txt, so that a local scan of the archive
    // later runs as of the same date. Nothing: QuoteDate.txt is not written.
    std::optional<DateTime> ArchiveDate;

    // Called at each commit before the files are made durable and the
    // resume point moves: what is kept beside the files of each symbol (the
    // pass history) is committed first, so that the resume point never
    // passes a symbol whose record could still be lost. A failure it returns
    // fails the commit: the resume point stays.
    std::function<std::optional<OutputFailure>()> BeforeCommit;

    // Test seam: called with a file's name before each write, rename or
    // deletion of a flush; a non-zero errno value fails that operation.
    std::function<int(const std::string& name)> BeforeWrite;

    // Test seam: flushes a file's data to the disk in place of fdatasync,
    // with the file's name and descriptor; answers as fdatasync does.
    std::function<int(const std::string& name, int fd)> SyncData;

  private:
    std::optional<OutputFailure> Open(const WorkingFileNames& names, bool localMode);
    std::optional<OutputFailure> Rotate(const WorkingFileNames& names, bool localMode);
    std::optional<OutputFailure> WriteProgress(const WorkingFileNames& names,
                                               const std::string& text);
    std::optional<OutputFailure> WriteArchiveDate(const std::string& name);
    std::optional<OutputFailure> WriteJournal(const WorkingFileNames& names,
                                              const JournalRecord& record);
    std::optional<OutputFailure> Check(const std::string& name);
    int Sync(const std::string& name, int fd);
    void CutBack();
    void Close();
    std::optional<OutputFailure> ClearJournal(const WorkingFileNames& names);

    WorkingFileNames names_;  // of the open files
    bool open_ = false;
    bool ready_ = false;  // opened whole: what is written may be committed
    bool rotationPending_ = false;
    int fds_[kOutputSlots] = {-1, -1, -1, -1, -1, -1, -1, -1};
    int progressFd_ = -1;
    int journalFd_ = -1;
    std::int64_t progressLength_ = -1;  // Progress.---'s size, -1 when missing
    std::optional<std::string> progressText_;
    JournalRecord committed_;  // the lengths and point of the last commit
    // The lengths after the last symbol written whole, and its resume point.
    std::array<std::int64_t, kOutputSlots> written_{};
    std::optional<std::string> point_;
    std::chrono::steady_clock::time_point lastCommit_{};
};

// Moves the files of the previous pass aside: a non-empty Results.txt,
// SavedSym.txt (and, from the server, Quote.txt and AscQuote.txt) replaces its
// .bak file; UpSym.txt and DownSym.txt (and, from the server, GoodSym.txt and
// BadSym.txt) are deleted. From the server, QuoteDate.txt goes with Quote.txt:
// to QuoteDate.bak when Quote.txt moves (an older QuoteDate.bak is deleted
// then), deleted when it does not. An empty file never replaces a backup (it
// is deleted instead), and doing it twice changes nothing more. `before` may
// fail a step (test seam); the first failure ends the rotation and is
// returned.
std::optional<OutputFailure> RotatePassFiles(
    const WorkingFileNames& names, bool localMode,
    const std::function<int(const std::string&)>& before = {});

}  // namespace quillon
