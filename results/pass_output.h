#pragma once
// The per-symbol output of a pass: pending texts collected in memory while a
// symbol is processed, and the pass output files they are written to after
// the symbol. Only this code touches those files.

#include <cstdio>
#include <string>

#include "results/settings.h"

namespace quillon {

class LineReader;

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

// The output files of a pass, opened by the first flush of a pass (or the
// first after CloseOutputFiles) and kept open until the pass ends.
class PassOutputFiles {
  public:
    PassOutputFiles() = default;
    PassOutputFiles(const PassOutputFiles&) = delete;
    PassOutputFiles& operator=(const PassOutputFiles&) = delete;
    ~PassOutputFiles() { CloseOutputFiles(); }

    // Opens the files when they are not open, writes every non-empty pending
    // text to its file, flushes, clears it, and rewrites Progress.--- from
    // its start when a resume point is pending. Failures are silent.
    void FlushPendingOutput(PendingOutput& pending, const WorkingFileNames& names, bool localMode);

    // Closes every open output file; does nothing when none is open.
    void CloseOutputFiles();

    bool IsOpen() const { return open_; }

  private:
    enum Slot { Good, Bad, Up, Down, Quote, AscQuote, SavedSym, Results, Progress, kSlots };
    void Open(const WorkingFileNames& names, bool localMode);
    bool open_ = false;
    std::FILE* files_[kSlots] = {};
};

// The rotation at the first symbol of a pass: Results.txt and SavedSym.txt
// become their .bak files, UpSym.txt and DownSym.txt are deleted; in local
// mode the quote file is rewound, otherwise GoodSym.txt, BadSym.txt and the
// archive's .bak files are deleted and the archive files become .bak.
void StartOfPassRotation(const WorkingFileNames& names, bool localMode, LineReader& localQuotes);

}  // namespace quillon
