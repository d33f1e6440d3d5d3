#pragma once
// What each user of the pass history may do with it, one interface each, so
// that a signature says which part of History.db a piece of code touches:
//
//   HistoryPassWriter  what a pass writes: its pass row and rows, the
//                      settling of recent days, its saved set and change
//                      block, and the saved sets the change list compares
//                      (the scan's recorder, quillon-history add)
//   HistoryReader      what the chart, quillon-history show, export and rank
//                      and a pass's IV rank windows read
//   HistoryDayStream   what the back-test streams: every recorded day in
//                      order, with only the figures its filters read
//
// HistoryStore (history_store.h) is all three, on one SQLite connection.
// Every call answers whether it worked; Error() then says why. A read that
// failed part way sets Error() and answers nothing, so that "no rows" and
// "could not read" differ.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "history/history_row.h"

namespace quillon {

// The reads between BeginRead and EndRead see one state of the file (one
// read transaction), however long they take and whatever another program
// commits meanwhile.
class HistorySnapshot {
  public:
    virtual ~HistorySnapshot() = default;
    // Why the last call failed ("" after a success).
    virtual const std::string& Error() const = 0;
    virtual bool BeginRead() const = 0;
    virtual void EndRead() const = 0;
    virtual std::vector<HistoryDay> Days() const = 0;     // oldest first
    virtual std::vector<HistoryPass> Passes() const = 0;  // by id
    // The days from `from` to `to` with rows but no pass of that as-of date
    // that finished whole (finished and not partial): a day a pass is still
    // writing, or whose pass stopped early. Oldest first.
    virtual std::vector<HistoryDay> PartialDays(HistoryDay from = 0,
                                                HistoryDay to = 99991231) const = 0;
};

class HistoryPassWriter {
  public:
    virtual ~HistoryPassWriter() = default;
    virtual const std::string& Error() const = 0;
    // Whether the last failure is one that passes once room is made, the
    // disk reads again or another program lets go of the file (a full disk,
    // an I/O error, a lock), rather than a file this program cannot use.
    virtual bool ErrorMayPass() const = 0;
    // The errno value the last failure stands for (ENOSPC for a full disk,
    // EBUSY for a lock, the system's own for an I/O error).
    virtual int ErrorErrno() const = 0;

    // A new pass row; its id, or 0 when it could not be written.
    virtual std::int64_t BeginPass(const HistoryPass& pass) = 0;
    // Ends pass `id`: its counts, whether it finished, and when it ended.
    virtual bool EndPass(std::int64_t id, int symbols, int saved, bool finished,
                         const std::string& ended) = 0;
    // The last pass a scan began (quillon-history add's left out); nothing
    // when there is none or it could not be read (Error() then says why).
    virtual std::optional<HistoryPass> LastScanPass() const = 0;
    virtual std::optional<HistoryPass> Pass(std::int64_t id) const = 0;

    // The change block of finished pass `id`, kept with the pass in the
    // transaction that ends it, until Changes.txt has it too.
    virtual bool KeepChanges(std::int64_t id, const std::string& block) = 0;
    virtual bool MarkChangesWritten(std::int64_t id) = 0;
    struct KeptChanges {
        std::int64_t Pass = 0;
        std::string Block;
    };
    // The kept blocks Changes.txt does not have yet, oldest first; nothing
    // when they could not be read.
    virtual std::optional<std::vector<KeptChanges>> UnwrittenChanges() const = 0;

    // Records one symbol's figures for its day, replacing the day's row.
    virtual bool Record(const HistoryRow& row) = 0;
    // Rows recorded between BeginBatch and CommitBatch are written in one
    // transaction; without a batch each Record is its own. RollbackBatch
    // drops the batch's rows.
    virtual bool BeginBatch() = 0;
    virtual bool CommitBatch() = 0;
    virtual void RollbackBatch() = 0;

    // Moves the recorded days before `before` into the table keyed by
    // symbol and brings the kept windows up to date (builds them all anew
    // when they were dropped: after a day older than the settled ones was
    // recorded, or in a database of an earlier version). In the batch when
    // one is open, else in a transaction of its own.
    virtual bool Settle(HistoryDay before = 99991231) = 0;
    // Whether Settle is due before the first pass of `day`: the windows are
    // dropped, or the recent days before `day` number kSettleDays or more.
    // Never once rows of `day` itself are recorded, so that the later passes
    // of a day do not settle again.
    virtual bool SettleDue(HistoryDay day) const = 0;

    // The rows pass `pass` wrote, by symbol: its own and those of the
    // unfinished passes of the same source and filters it went on from (a
    // scan opened again goes on under a new pass row). Rows a later pass of
    // the same day replaced are no longer among them.
    virtual std::vector<HistoryRow> RowsOfPass(std::int64_t pass) const = 0;

    // The saved set of a finished pass, kept apart from the daily rows so
    // that later passes of the same day leave it whole: symbol, verdict and
    // ZORC/ZORP of each saved stock. Keeping it again replaces it.
    virtual bool KeepSavedSet(std::int64_t pass, const std::vector<HistoryRow>& saved) = 0;
    // Keeps as the saved set of pass `pass` its rows (those RowsOfPass
    // gives, the last of a symbol judged twice) whose verdict saved the
    // stock, in the file without reading them out; how many, or -1 (Error()
    // says why).
    virtual int KeepSavedSetOfPass(std::int64_t pass) = 0;
    // The kept saved set of `pass` less the symbols of that of `other`, by
    // symbol: symbol, verdict, ZORC and ZORP of each.
    virtual std::vector<HistoryRow> SavedOnlyBy(std::int64_t pass, std::int64_t other) const = 0;
    // The symbols of the kept saved set of `previous` that pass `pass` did
    // not keep, by symbol, each with the verdict and failed test of the
    // pass's last row of it (none when the pass has none).
    virtual std::vector<HistoryRow> SavedNoLonger(std::int64_t pass,
                                                  std::int64_t previous) const = 0;
    // The symbols both kept saved sets hold with a turned signal (UP in
    // `previous`, DOWN in `pass`, or the other way round), by symbol: the
    // row of `pass` (symbol, verdict, ZORC and ZORP) beside the verdict of
    // `previous`.
    struct TurnedRow {
        HistoryRow Now;
        std::optional<Verdict> Was;
    };
    virtual std::vector<TurnedRow> SavedTurned(std::int64_t pass, std::int64_t previous) const = 0;
    virtual std::vector<HistoryRow> SavedSet(std::int64_t pass) const = 0;  // by symbol
    // The last finished pass before pass `before` with these filter values
    // whose saved set was kept; nothing when there is none.
    virtual std::optional<HistoryPass> LastKeptPass(const std::string& filters,
                                                    std::int64_t before) const = 0;
};

class HistoryReader : public virtual HistorySnapshot {
  public:
    virtual std::vector<HistoryRow> Rows(const std::string& symbol, HistoryDay from = 0,
                                         HistoryDay to = 99991231) const = 0;  // oldest first
    virtual std::vector<HistoryRow> RowsOfDay(HistoryDay day) const = 0;       // by symbol
    virtual std::vector<std::string> Symbols() const = 0;                      // sorted

    // For every symbol, the IV30 of its last `n` recorded days before
    // `before` that have one, oldest first; in one query.
    virtual std::unordered_map<std::string, std::vector<double>> Iv30Windows(HistoryDay before,
                                                                             int n) const = 0;
    // For every symbol, the last sale of its last `n` recorded days before
    // `before` that have one, oldest first; in one query.
    virtual std::unordered_map<std::string, std::vector<double>> LastSaleWindows(HistoryDay before,
                                                                                 int n) const = 0;
    // Both windows above in one read of the table: the IV30 of each symbol's
    // last `ivDays` days before `before` that have one, and the last sale of
    // its last `saleDays` such days, oldest first.
    struct PastWindows {
        std::unordered_map<std::string, std::vector<double>> Iv30;
        std::unordered_map<std::string, std::vector<double>> LastSales;
        // The days of each symbol's last sales, one for one.
        std::unordered_map<std::string, std::vector<HistoryDay>> LastSaleDays;
    };
    virtual PastWindows Windows(HistoryDay before, int ivDays, int saleDays) const = 0;
};

class HistoryDayStream : public virtual HistorySnapshot {
  public:
    // Every row recorded from `from` to `to`, one day at a time, oldest
    // first, each day's rows by symbol, with only `figures` of each read
    // beside its symbol, day and pass (the other figures, the days to
    // expiration, the verdict and the failed test are left empty): `day`
    // gets the day's rows (its to keep or change) and answers whether to go
    // on. The rows are read along the key in blocks of days of about
    // `blockBytes` of figures, the most held at a time. False when the table
    // could not be read (Error() says why); a stop asked for by `day` is no
    // failure.
    using RowFigure = std::optional<double> HistoryRow::*;
    virtual bool ForEachDay(HistoryDay from, HistoryDay to, const std::vector<RowFigure>& figures,
                            const std::function<bool(HistoryDay, std::vector<HistoryRow>&)>& day,
                            std::size_t blockBytes = 24 << 20) const = 0;
};

}  // namespace quillon
