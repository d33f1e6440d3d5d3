#pragma once
// quillon-scan run as a user runs it: a process in a working directory, for
// the end-to-end tests (their program defines QUILLON_SCAN_PATH).

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

#include "tests/support/temp_dir.h"

namespace quillon::testing {

struct ScanRun {
    int exitCode = -1;  // -1 when the process did not exit by itself
    std::string out;    // what it wrote on standard output
    std::string err;    // what it wrote on standard error
};

// Runs quillon-scan with `args` in `dir` and waits for it. Its output goes
// through two files in `dir`, removed afterwards so that they do not mix with
// the files the scan leaves there.
inline ScanRun RunScan(const TempDir& dir, const std::string& args = "") {
    const std::string command =
        "cd '" + dir.Path() + "' && '" QUILLON_SCAN_PATH "' " + args + " >stdout.log 2>stderr.log";
    const int status = std::system(command.c_str());
    ScanRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = dir.Read("stdout.log");
    run.err = dir.Read("stderr.log");
    std::remove(dir.File("stdout.log").c_str());
    std::remove(dir.File("stderr.log").c_str());
    return run;
}

// Report line 14 carries the time of writing; it is blanked out so that the
// results of two scans can be compared.
inline std::string WithoutTimes(const std::string& results) {
    static const std::regex time(R"(\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d\d:\d\d [AP]M\r\n)");
    return std::regex_replace(results, time, "<time>\r\n");
}

}  // namespace quillon::testing
