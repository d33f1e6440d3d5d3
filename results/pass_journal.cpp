#include "results/pass_journal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cinttypes>
#include <cstdio>

#include "platform/files.h"

namespace quillon {

namespace {

constexpr std::string_view kMagic = "QJ1";
constexpr std::size_t kFields = 3 + kOutputSlots + 1;  // magic, sequence, hash, lengths, sum

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
    if (!fields || fields->size() != kFields || (*fields)[0] != kMagic) return std::nullopt;
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

bool RecoverInterruptedOutput(const WorkingFileNames& names) {
    std::optional<std::string> journal = ReadWholeFile(JournalFileName(names));
    if (!journal) return false;
    std::optional<JournalRecord> record =
        RecordForProgress(ParseJournal(*journal), ReadWholeFile(names.ProgressFile));
    if (!record) return false;

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
            changed |= ::truncate(name.c_str(), static_cast<off_t>(length)) == 0;
        }
    }
    return changed;
}

}  // namespace quillon
