#include "results/pass_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cinttypes>
#include <cstdio>

#include "platform/files.h"

namespace quillon {

namespace {

// Records of earlier builds (QJ1) carry no resume point text.
constexpr std::string_view kMagicWithoutText = "QJ1";
constexpr std::string_view kMagic = "QJ2";
constexpr std::size_t kFieldsWithoutText = 3 + kOutputSlots + 1;  // magic, sequence, hash,
                                                                  // lengths, sum
constexpr std::size_t kFields = kFieldsWithoutText + 1;           // and the text before the sum

template <typename Number>
std::optional<Number> ParseField(std::string_view text, int base = 10) {
    Number value{};
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value, base);
    if (error != std::errc() || stop != end || text.empty()) return std::nullopt;
    return value;
}

// The blank-separated fields of `text`; nothing when two blanks meet or there
// are more fields than a record has.
std::optional<std::vector<std::string_view>> SplitFields(std::string_view text) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        std::size_t blank = text.find(' ', start);
        std::string_view field = text.substr(start, blank - start);
        if (field.empty() || fields.size() == kFields) return std::nullopt;
        fields.push_back(field);
        if (blank == std::string_view::npos) return fields;
        start = blank + 1;
    }
}

std::string Hex(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08" PRIx32, value);
    return text;
}

// A resume point's text as hex digits, two per byte, or "-" for none.
std::string HexText(const std::optional<std::string>& text) {
    if (!text) return "-";
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : *text) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    return hex;
}

std::optional<std::string> TextOfHex(std::string_view hex) {
    if (hex.size() % 2 != 0 || hex.size() > 2 * kJournalPointText) return std::nullopt;
    std::string text;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        std::optional<unsigned> byte = ParseField<unsigned>(hex.substr(i, 2), 16);
        if (!byte || hex[i] == '+' || hex[i] == '-') return std::nullopt;
        text += static_cast<char>(*byte);
    }
    return text;
}

}  // namespace

std::string JournalFileName(const WorkingFileNames& names) {
    return names.WorkingDirectory + "/Progress.jnl";
}

const std::string& OutputFileName(const WorkingFileNames& names, OutputSlot slot) {
    switch (slot) {
        case Good:
            return names.GoodSymFile;
        case Bad:
            return names.BadSymFile;
        case Up:
            return names.UpSymFile;
        case Down:
            return names.DownSymFile;
        case Quote:
            return names.QuoteFile;
        case AscQuote:
            return names.AscQuoteFile;
        case SavedSym:
            return names.SavedSymFile;
        case Results:
        default:
            return names.ResultsFile;
    }
}

std::uint32_t TextHash(std::string_view text) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 16777619u;
    }
    return hash;
}

std::string FormatJournalRecord(const JournalRecord& record) {
    std::string text(kMagic);
    text += ' ' + std::to_string(record.Sequence);
    text += ' ' + (record.ProgressHash ? Hex(*record.ProgressHash) : std::string("-"));
    for (std::int64_t length : record.Lengths)
        text += ' ' + std::to_string(length);
    // A point too long for the slot, or one without its hash, goes as none.
    const bool withText = record.ProgressText && record.ProgressHash &&
                          record.ProgressText->size() <= kJournalPointText;
    text += ' ' + HexText(withText ? record.ProgressText : std::nullopt);
    text += ' ' + Hex(TextHash(text));
    text.resize(kJournalSlotSize - 1, ' ');
    text += '\n';
    return text;
}

std::optional<JournalRecord> ParseJournalRecord(std::string_view slot) {
    if (slot.size() != kJournalSlotSize || slot.back() != '\n') return std::nullopt;
    std::string_view text = slot.substr(0, slot.size() - 1);
    std::size_t last = text.find_last_not_of(' ');
    if (last == std::string_view::npos) return std::nullopt;
    text = text.substr(0, last + 1);

    std::optional<std::vector<std::string_view>> fields = SplitFields(text);
    if (!fields) return std::nullopt;
    const bool withText = fields->size() == kFields && (*fields)[0] == kMagic;
    if (!withText && !(fields->size() == kFieldsWithoutText && (*fields)[0] == kMagicWithoutText)) {
        return std::nullopt;
    }
    const std::string_view sum = fields->back();
    std::optional<std::uint32_t> stored =
        sum.size() == 8 ? ParseField<std::uint32_t>(sum, 16) : std::nullopt;
    if (!stored || *stored != TextHash(text.substr(0, text.size() - sum.size() - 1))) {
        return std::nullopt;
    }

    JournalRecord record;
    std::optional<std::uint64_t> sequence = ParseField<std::uint64_t>((*fields)[1]);
    if (!sequence) return std::nullopt;
    record.Sequence = *sequence;
    if ((*fields)[2] != "-") {
        record.ProgressHash =
            (*fields)[2].size() == 8 ? ParseField<std::uint32_t>((*fields)[2], 16) : std::nullopt;
        if (!record.ProgressHash) return std::nullopt;
    }
    for (int i = 0; i < kOutputSlots; ++i) {
        std::optional<std::int64_t> length = ParseField<std::int64_t>((*fields)[3 + i]);
        if (!length || *length < kFileUntracked) return std::nullopt;
        record.Lengths[static_cast<std::size_t>(i)] = *length;
    }
    if (withText && (*fields)[3 + kOutputSlots] != "-") {
        record.ProgressText = TextOfHex((*fields)[3 + kOutputSlots]);
        if (!record.ProgressText || !record.ProgressHash ||
            TextHash(*record.ProgressText) != *record.ProgressHash) {
            return std::nullopt;
        }
    }
    return record;
}

std::vector<JournalRecord> ParseJournal(std::string_view text) {
    std::vector<JournalRecord> records;
    for (std::size_t at = 0; at < 2 * kJournalSlotSize && at < text.size();
         at += kJournalSlotSize) {
        if (auto record = ParseJournalRecord(text.substr(at, kJournalSlotSize))) {
            records.push_back(*record);
        }
    }
    return records;
}

std::optional<JournalRecord> RecordForProgress(const std::vector<JournalRecord>& records,
                                               const std::optional<std::string>& progress) {
    std::optional<std::uint32_t> hash;
    if (progress) hash = TextHash(*progress);
    std::optional<JournalRecord> best;
    for (const JournalRecord& record : records) {
        if (record.ProgressHash != hash) continue;
        if (!best || record.Sequence > best->Sequence) best = record;
    }
    return best;
}

bool FilesCoverRecord(const WorkingFileNames& names, const JournalRecord& record) {
    for (int i = 0; i < kOutputSlots; ++i) {
        const std::int64_t length = record.Lengths[static_cast<std::size_t>(i)];
        if (length <= 0) continue;  // untracked, missing or empty then
        if (QueryFileSize(OutputFileName(names, static_cast<OutputSlot>(i))) < length) return false;
    }
    return true;
}

namespace {

// Cuts a pass output file back to `length`; a symbolic link in its place is
// left alone, not its target cut, and the next opening refuses it.
bool CutFile(const std::string& name, std::int64_t length) {
    const int fd = OpenWorkingFile(name, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool cut = ::ftruncate(fd, static_cast<off_t>(length)) == 0;
    ::close(fd);
    return cut;
}

}  // namespace

Recovery RecoverInterruptedOutput(const WorkingFileNames& names) {
    std::optional<std::string> journal = ReadWholeFile(JournalFileName(names));
    if (!journal) return Recovery::Nothing;
    const std::vector<JournalRecord> records = ParseJournal(*journal);
    std::optional<JournalRecord> record =
        RecordForProgress(records, ReadWholeFile(names.ProgressFile));
    if (!record) return Recovery::Nothing;

    Recovery done = Recovery::CutBack;
    if (!FilesCoverRecord(names, *record)) {
        // What the record counts did not all reach the disk. The record
        // before it was written after the data it counts was on the disk:
        // the scan resumes there, and does the symbols after it again.
        std::optional<JournalRecord> older;
        for (const JournalRecord& other : records) {
            if (other.Sequence < record->Sequence && other.ProgressText &&
                FilesCoverRecord(names, other) && (!older || other.Sequence > older->Sequence)) {
                older = other;
            }
        }
        // Without one, nothing tells which symbols the files hold whole:
        // the pass is made again, and these files become its backups.
        const std::string point = older ? *older->ProgressText : std::string("0 0");
        if (!ReplaceFileAtomically(names.ProgressFile, point, false)) return Recovery::Nothing;
        SyncDirectory(names.WorkingDirectory);
        if (!older) {
            DeleteFileQuietly(JournalFileName(names));
            return Recovery::PassAgain;
        }
        record = older;
        done = Recovery::SteppedBack;
    }

    bool changed = false;
    for (int i = 0; i < kOutputSlots; ++i) {
        const std::string& name = OutputFileName(names, static_cast<OutputSlot>(i));
        const std::int64_t length = record->Lengths[static_cast<std::size_t>(i)];
        const std::int64_t size = QueryFileSize(name);
        if (length == kFileUntracked || size < 0) continue;
        if (length == kFileMissing) {
            // Created by the output that was cut short.
            changed |= DeleteFileQuietly(name);
        } else if (size > length) {
            changed |= CutFile(name, length);
        }
    }
    if (done == Recovery::SteppedBack) return done;
    return changed ? Recovery::CutBack : Recovery::Nothing;
}

}  // namespace quillon
