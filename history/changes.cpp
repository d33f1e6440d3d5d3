#include "history/changes.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>

#include "history/history_access.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/number_format.h"

namespace quillon {

namespace {

constexpr const char* kChangesFile = "Changes.txt";
constexpr const char* kEol = "\r\n";

// "16:05" of "2026-12-08T16:05:12"; empty when the text holds no time.
std::string TimeOfDay(const std::string& iso) {
    const std::size_t t = iso.find('T');
    if (t == std::string::npos || iso.size() < t + 6) return {};
    return iso.substr(t + 1, 5);
}

}  // namespace

int PassChanges::Count(char mark) const {
    return static_cast<int>(std::count_if(Lines.begin(), Lines.end(),
                                          [mark](const ChangeLine& l) { return l.Mark == mark; }));
}

std::string SaveRuleText(const HistoryRow& row) {
    const std::string verdict(VerdictText(row.Verdict));
    if (!IsRatioSaved(row.Verdict)) return verdict;
    if (!row.Zorc || !row.Zorp || *row.Zorc <= 0 || *row.Zorp <= 0) {
        return verdict + " ZORC/ZORP n/a";
    }
    if (*row.Zorc >= *row.Zorp) {
        return verdict + " ZORC/ZORP " + FormatGeneral(*row.Zorc / *row.Zorp, 4);
    }
    return verdict + " ZORP/ZORC " + FormatGeneral(*row.Zorp / *row.Zorc, 4);
}

namespace {

ChangeLine AddedLine(const HistoryRow& row) {
    return {'+', row.Symbol, SaveRuleText(row)};
}

// A signal that turned: UP before and DOWN now, or the other way round.
bool IsTurned(std::optional<Verdict> was, std::optional<Verdict> now) {
    return IsRatioSaved(was) && IsRatioSaved(now) && was != now;
}

// The line of a stock both passes saved under different verdicts, with the
// rule that saves it now.
ChangeLine TurnedLine(const HistoryRow& now, std::optional<Verdict> was) {
    return {'~', now.Symbol, SaveRuleText(now) + " (was " + std::string(VerdictText(was)) + ")"};
}

// The line of a stock the pass before saved and this one did not, from this
// pass's row of it (none: the pass did not judge it, or judged it while its
// history could not be written).
ChangeLine GoneLine(const std::string& symbol, const HistoryRow* now, bool partial = false) {
    if (now == nullptr && partial) return {'?', symbol, "not recorded"};
    if (now == nullptr) return {'-', symbol, "not scanned"};
    if (now->Verdict == Verdict::NoQuote) return {'?', symbol, "no quote"};
    return {'-', symbol, now->FailedTest.empty() ? "rejected" : now->FailedTest};
}

}  // namespace

PassChanges CompareSavedSets(HistoryDay asOf, const std::vector<HistoryRow>& rows,
                             const std::optional<HistoryPass>& previous,
                             const std::vector<HistoryRow>& previousSaved) {
    PassChanges changes;
    changes.AsOf = asOf;
    changes.Previous = previous;
    std::map<std::string, const HistoryRow*> now;
    for (const HistoryRow& row : rows) {
        now[row.Symbol] = &row;
        if (IsSaved(row.Verdict)) ++changes.Saved;
    }
    if (!previous) return changes;
    std::map<std::string, const HistoryRow*> before;
    for (const HistoryRow& row : previousSaved)
        before[row.Symbol] = &row;

    std::vector<ChangeLine> added, turned, removed, unknown;
    for (const auto& [symbol, row] : now) {
        if (!IsSaved(row->Verdict)) continue;
        const auto was = before.find(symbol);
        if (was == before.end()) {
            added.push_back(AddedLine(*row));
        } else if (IsTurned(was->second->Verdict, row->Verdict)) {
            turned.push_back(TurnedLine(*row, was->second->Verdict));
        }
    }
    for (const auto& [symbol, row] : before) {
        const auto found = now.find(symbol);
        if (found != now.end() && IsSaved(found->second->Verdict)) continue;
        ChangeLine line = GoneLine(symbol, found == now.end() ? nullptr : found->second);
        (line.Mark == '?' ? unknown : removed).push_back(std::move(line));
    }
    for (auto* group : {&added, &turned, &removed, &unknown})
        changes.Lines.insert(changes.Lines.end(), group->begin(), group->end());
    return changes;
}

std::string NamedDayText(HistoryDay day, bool withYear) {
    const CivilDay date = CivilDay::FromNumber(day);
    // A number that names no month or day is shown as it is stored.
    if (date.Month < 1 || date.Month > 12 || date.Day < 1 || date.Day > 31 || date.Year < 1) {
        return std::to_string(day);
    }
    return date.NamedText(withYear);
}

std::string ChangesBlock(const PassChanges& changes) {
    std::string text = "Changes of " + NamedDayText(changes.AsOf);
    if (!changes.Previous) {
        text += ": first pass with these filters, " + std::to_string(changes.Saved) +
                " saved; changes are listed from the next one" + kEol;
        return text + kEol;
    }
    text += " since " + NamedDayText(changes.Previous->AsOf);
    const std::string ended = TimeOfDay(changes.Previous->Ended);
    if (!ended.empty()) text += " (pass ended " + ended + ")";
    text += kEol;
    for (const ChangeLine& line : changes.Lines)
        text += std::string(1, line.Mark) + " " + line.Symbol + "  " + line.Why + kEol;
    if (changes.Lines.empty()) {
        text += "no change, " + std::to_string(changes.Saved) + " saved" + kEol;
    }
    if (changes.Partial) {
        text += std::string(
                    "partial: some symbols were scanned while the history could not be "
                    "written") +
                kEol;
    }
    return text + kEol;
}

std::string ChangesNotice(const PassChanges& changes) {
    if (!changes.Previous) return "Quillon: " + std::to_string(changes.Saved) + " saved";
    std::string text = "Quillon: +" + std::to_string(changes.Count('+')) + " -" +
                       std::to_string(changes.Count('-'));
    if (const int turned = changes.Count('~'); turned > 0) {
        text += " ~" + std::to_string(turned);
    }
    if (const int unknown = changes.Count('?'); unknown > 0) {
        text += " ?" + std::to_string(unknown);
    }
    return text + " since " + NamedDayText(changes.Previous->AsOf, false);
}

std::optional<PassChanges> ChangesAtPassEnd(HistoryPassWriter& store, std::int64_t pass) {
    if (store.KeepSavedSetOfPass(pass) < 0) return std::nullopt;
    return ChangesOfPass(store, pass);
}

std::optional<PassChanges> ChangesOfPass(const HistoryPassWriter& store, std::int64_t pass) {
    // Worked out in the file, symbol by symbol, as CompareSavedSets does in
    // memory: a pass of 20,000 stocks holds only its changed ones.
    const std::optional<HistoryPass> self = store.Pass(pass);
    if (!self) return std::nullopt;
    const std::optional<HistoryPass> previous = store.LastKeptPass(self->Filters, pass);
    if (!store.Error().empty()) return std::nullopt;
    const std::vector<HistoryRow> saved = store.SavedSet(pass);
    if (!store.Error().empty()) return std::nullopt;

    PassChanges changes;
    changes.AsOf = self->AsOf;
    changes.Saved = static_cast<int>(saved.size());
    changes.Previous = previous;
    changes.Partial = self->Partial;
    if (!previous) return changes;
    const std::vector<HistoryRow> added = store.SavedOnlyBy(pass, previous->Id);
    if (!store.Error().empty()) return std::nullopt;
    const std::vector<HistoryPassWriter::TurnedRow> turned = store.SavedTurned(pass, previous->Id);
    if (!store.Error().empty()) return std::nullopt;
    const std::vector<HistoryRow> gone = store.SavedNoLonger(pass, previous->Id);
    if (!store.Error().empty()) return std::nullopt;
    std::vector<ChangeLine> removed, unknown;
    for (const HistoryRow& row : added)
        changes.Lines.push_back(AddedLine(row));
    for (const HistoryPassWriter::TurnedRow& row : turned)
        changes.Lines.push_back(TurnedLine(row.Now, row.Was));
    for (const HistoryRow& row : gone) {
        ChangeLine line = GoneLine(row.Symbol, row.Verdict ? &row : nullptr, changes.Partial);
        (line.Mark == '?' ? unknown : removed).push_back(std::move(line));
    }
    for (auto* group : {&removed, &unknown})
        changes.Lines.insert(changes.Lines.end(), group->begin(), group->end());
    return changes;
}

namespace {

// How much of `block` the file `fd` of `size` bytes ends with: the whole
// block, or the beginning of one whose append was cut short, starting a
// line; 0 when none.
std::size_t WrittenPart(int fd, off_t size, const std::string& block) {
    const std::size_t tailSize = std::min(static_cast<std::size_t>(size), block.size() + 1);
    std::string tail(tailSize, '\0');
    if (::pread(fd, tail.data(), tail.size(), size - static_cast<off_t>(tailSize)) !=
        static_cast<ssize_t>(tail.size())) {
        return 0;
    }
    for (std::size_t n = std::min(tail.size(), block.size()); n > 0; --n) {
        const bool startsLine = n == static_cast<std::size_t>(size) ||
                                (n < tail.size() && tail[tail.size() - n - 1] == '\n');
        if (startsLine && tail.compare(tail.size() - n, n, block, 0, n) == 0) return n;
    }
    return 0;
}

}  // namespace

bool AppendToChangesFile(const std::string& directory, const std::string& block, bool completing) {
    const std::string file = directory.empty() ? kChangesFile : directory + "/" + kChangesFile;
    // Never through a symbolic link in its place: the block would be
    // appended to whatever file the link names.
    const int fd = OpenWorkingFile(file, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC);
    if (fd < 0) return false;
    std::size_t from = 0;
    if (completing) {
        const off_t size = ::lseek(fd, 0, SEEK_END);
        if (size > 0) from = WrittenPart(fd, size, block);
    }
    bool written = true;
    while (written && from < block.size()) {
        const ssize_t n = ::write(fd, block.data() + from, block.size() - from);
        if (n > 0) {
            from += static_cast<std::size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            if (n == 0) errno = ENOSPC;
            written = false;
        }
    }
    // On the disk before the history counts the block as written.
    written = written && ::fdatasync(fd) == 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    return written;
}

}  // namespace quillon
