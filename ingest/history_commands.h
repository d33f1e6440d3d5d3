#pragma once
// The commands of quillon-history: adding days of the past to a working
// directory's History.db (CSV exports of many days, quote archives with their
// recorded date), and printing it: a symbol's series, CSV for other tools,
// the symbols of the last day by IV rank. Each says its failures on standard
// error under the program's name and answers its exit status.

#include <optional>
#include <string>
#include <vector>

#include "ingest/import_rows.h"
#include "ingest/importer.h"

namespace quillon::historytool {

struct Command {
    std::string name;  // add, show, export, rank
    std::string dir = ".";
    bool archive = false;
    bool verbose = false;
    std::string out;
    std::optional<CivilDay> date;
    std::vector<import::ImportInput> files;  // add: files or archive directories
    std::vector<std::string> symbols;        // show, export
};

// Runs `command`, whose arguments are checked; 0 when done, 1 when it failed.
int RunCommand(const Command& command);

}  // namespace quillon::historytool
