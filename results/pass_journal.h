#pragma once
// The pass journal, Progress.jnl: after each symbol's output is written, the
// lengths of the pass output files and the resume point they belong to. A scan
// that is killed in the middle of writing a symbol leaves bytes past those
// lengths; the next opening of the scan cuts them off again, so a symbol is in
// the files whole or not at all and is never written twice.
//
// The file holds two fixed-size slots written in turn, each with a sequence
// number and a checksum, so that the record before the newest survives a
// write that was cut short, and each record is written by a single small
// write that a kill cannot split.
//
// The journal belongs to one pass: it is cleared when a pass begins, before
// anything else of the pass is written, and removed when the pass ends.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "results/settings.h"

namespace quillon {

// The pass output files, in the order the journal lists their lengths.
enum OutputSlot : int { Good, Bad, Up, Down, Quote, AscQuote, SavedSym, Results, kOutputSlots };

inline constexpr std::int64_t kFileMissing = -1;    // the file did not exist
inline constexpr std::int64_t kFileUntracked = -2;  // not written in this mode
inline constexpr std::size_t kJournalSlotSize = 256;
// The longest resume point a record carries as text ("2147483647 2147483647"
// has 21 characters).
inline constexpr std::size_t kJournalPointText = 24;

struct JournalRecord {
    std::uint64_t Sequence = 0;
    // The resume point the lengths go with: the hash of Progress.---'s whole
    // content, or no hash when the file did not exist.
    std::optional<std::uint32_t> ProgressHash;
    std::array<std::int64_t, kOutputSlots> Lengths{};
    // The resume point's text itself, so that recovery can go back to it
    // when the files have lost what a newer record counts (a power cut
    // drops what had not reached the disk). Nothing in records of earlier
    // builds, and for a text longer than kJournalPointText.
    std::optional<std::string> ProgressText;

    bool operator==(const JournalRecord&) const = default;
};

std::string JournalFileName(const WorkingFileNames& names);
const std::string& OutputFileName(const WorkingFileNames& names, OutputSlot slot);

// A 32-bit FNV-1a hash; names a resume point's text in the journal.
std::uint32_t TextHash(std::string_view text);

// One slot's bytes: exactly kJournalSlotSize, ending in a line feed.
std::string FormatJournalRecord(const JournalRecord& record);
// The record of one slot; nothing when the slot is damaged, cut short or empty.
std::optional<JournalRecord> ParseJournalRecord(std::string_view slot);
// The valid records of a whole journal file, at most one per slot.
std::vector<JournalRecord> ParseJournal(std::string_view text);

// The record a resumed scan continues from: the newest one made for the
// resume point that `progress` (Progress.---'s content, nothing when it is
// missing) holds now.
std::optional<JournalRecord> RecordForProgress(const std::vector<JournalRecord>& records,
                                               const std::optional<std::string>& progress);

// True when every file a record counts is at least as long as it says.
bool FilesCoverRecord(const WorkingFileNames& names, const JournalRecord& record);

// What recovery did.
enum class Recovery {
    Nothing,      // no record matches the resume point, or nothing was longer
    CutBack,      // files cut back to the record of the resume point
    SteppedBack,  // the files had lost what that record counts: back to the
                  // record before it, whose resume point replaced the newer
    PassAgain,    // no record the files hold: the pass starts again ("0 0"),
                  // and its files go to the backups at its first write
};

// Cuts every pass output file back to the length the matching journal record
// gives it, and removes a file the record knows as missing. When a file is
// shorter than that record says, the newest older record the files do cover
// is taken instead and its resume point written; with none, the resume point
// starts the pass again. Does nothing when no record matches the resume
// point in Progress.---.
Recovery RecoverInterruptedOutput(const WorkingFileNames& names);

}  // namespace quillon
