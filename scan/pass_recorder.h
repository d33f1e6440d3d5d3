#pragma once
// What the scan driver tells the pass history: a pass begins (or goes on
// after the scan was opened again), a symbol is finished, what was recorded
// is to be made durable, the pass has ended. The driver neither knows nor
// cares whether the history works: a recorder that cannot record says so
// once through Problem() and does nothing more.

#include <memory>
#include <optional>
#include <string>

#include "history/changes.h"
#include "history/history_row.h"
#include "results/pass_output.h"
#include "scan/context.h"

namespace quillon {

class PassRecorder {
  public:
    virtual ~PassRecorder() = default;
    // A pass begins at its first symbol, or a pass goes on at the first
    // symbol after the scan was opened; what was recorded and not committed
    // before belongs to symbols the scan does again.
    virtual void PassStarted(const Context& context) = 0;
    // The current symbol is judged and its output about to be written; its
    // figures wait for the next Commit.
    virtual void SymbolFinished(const Context& context) = 0;
    // The figures recorded so far are made durable. Called before the pass
    // output's group commit moves the resume point past their symbols, and
    // at every pause and close. A failure that may pass (a full disk, a
    // database another program holds) is returned: the resume point must
    // then stay where it is, so that the symbols are done and recorded
    // again when the scan goes on.
    virtual std::optional<OutputFailure> Commit(const Context& context) = 0;
    // Every symbol of the pass is written and committed: the history's pass
    // ends, in one transaction with its saved set and change block, and the
    // block goes to Changes.txt. Also called by a later run for a pass whose
    // end was not written then. A failure is returned as for Commit; the
    // pass is then ended by the next run.
    virtual std::optional<OutputFailure> PassEnded(const Context& context) = 0;
    // Why the history is not recorded, from the moment it stopped being;
    // empty while it works.
    virtual const std::string& Problem() const = 0;
    // The change list of the pass that ended last (also appended to
    // Changes.txt); nothing before a pass has ended whole or when the
    // history could not give it.
    virtual const std::optional<PassChanges>& Changes() const {
        static const std::optional<PassChanges> kNone;
        return kNone;
    }
};

// The history row of the symbol just judged (the context's quote, verdict
// and filters) for as-of day `day` and pass `pass`; quillon-history records
// past days with it, so they hold what a pass would have recorded.
HistoryRow HistoryRowOf(const Context& context, HistoryDay day, std::int64_t pass);

// Records into History.db in the scan's working directory.
std::unique_ptr<PassRecorder> MakeHistoryRecorder();

}  // namespace quillon
