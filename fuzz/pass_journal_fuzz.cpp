// Any bytes as the pass journal Progress.jnl: reading never fails, every
// record read writes back to the same slot text, and the record chosen for a
// resume point is one of those read.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_context.h"
#include "results/pass_journal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quillon;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<JournalRecord> records = ParseJournal(text);
    fuzz::Check(records.size() <= 2);
    for (const JournalRecord& record : records) {
        const std::string slot = FormatJournalRecord(record);
        fuzz::Check(slot.size() == kJournalSlotSize);
        fuzz::Check(ParseJournalRecord(slot) == record);
        fuzz::Check(std::all_of(record.Lengths.begin(), record.Lengths.end(),
                                [](std::int64_t length) { return length >= kFileUntracked; }));
    }
    // The first bytes as the resume point it is matched with.
    const std::string progress(text.substr(0, std::min<std::size_t>(size, 12)));
    for (const std::optional<std::string>& point :
         {std::optional<std::string>(progress), std::optional<std::string>()}) {
        if (std::optional<JournalRecord> chosen = RecordForProgress(records, point))
            fuzz::Check(std::find(records.begin(), records.end(), *chosen) != records.end());
    }
    return 0;
}
