#pragma once
// Fault points of History.db for the test build of quillon-scan: kills at
// the Nth sync of a history file, or a full disk from the Nth write on, as
// the environment asks (see history_faults.cpp).

namespace quillon::testing {

// Counts a sync of the disk, and kills the process at the one the
// environment names.
void CountSync();

// Puts the fault layer under SQLite when the environment asks for a fault;
// does nothing otherwise. Called before the history is first opened.
void InstallHistoryFaults();

}  // namespace quillon::testing
