// quillon-scan run as a user runs it: in a working directory, as a process.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>

#include "tests/support/scan_process.h"
#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using testing::RunScan;
using testing::ScanRun;
using testing::TempDir;

TEST(Runner, EmptyDirectoryWritesDefaultSettingsAndStopsForWantOfSymbols) {
    TempDir dir;
    ScanRun run = RunScan(dir);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find(dir.File("Symbols.sym") + " contains no symbols, process stopped."),
              std::string::npos)
        << run.err;
    std::string settings = dir.Read("Quillon.---");
    EXPECT_EQ(settings.substr(0, 26), "lZ3Vlc3Q6bGFudGVybjQ=\r\n0\r\n");
    EXPECT_NE(settings.find("\r\n" + dir.File("Symbols.sym") + "\r\n0\r\n"), std::string::npos);
}

TEST(Runner, LocalPassRunsToDoneAndCanBeRunAgain) {
    TempDir dir;
    RunScan(dir);  // default settings
    std::string settings = dir.Read("Quillon.---");
    settings.replace(settings.size() - 3, 1, "1");  // quotes from the local file
    dir.Write("Quillon.---", settings);
    dir.Write("Symbols.sym", "msft\r\nIBM\r\nge, General Electric\r\n");

    ScanRun run = RunScan(dir);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Processing GE\nProcessing IBM\nProcessing MSFT\nDone\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("3 symbols scanned, 0 saved in this pass, results in " +
                           dir.File("Results.txt")),
              std::string::npos)
        << run.out;
    EXPECT_EQ(dir.Read("Progress.---"), "0 0");
    for (const char* name : {"Quote.txt", "AscQuote.txt", "GoodSym.txt", "BadSym.txt",
                             "Results.txt", "SavedSym.txt", "UpSym.txt", "DownSym.txt"}) {
        EXPECT_TRUE(dir.Exists(name)) << name;
    }
    // A finished pass leaves position 0, so the next run is a new pass.
    dir.Write("Results.txt", "first pass\r\n");
    EXPECT_EQ(RunScan(dir).exitCode, 0);
    EXPECT_EQ(dir.Read("Results.bak"), "first pass\r\n");
}

// Every program answers --version with its name and the project version.
TEST(Runner, EveryProgramTellsItsVersion) {
    const std::pair<const char*, const char*> programs[] = {
        {QUILLON_SCAN_PATH, "quillon-scan"},
        {QUILLON_QUOTED_PATH, "quillon-quoted"},
        {QUILLON_IMPORT_PATH, "quillon-import"}};
    for (const auto& [path, name] : programs) {
        std::string out;
        std::FILE* pipe = ::popen((std::string("'") + path + "' --version").c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
            out += buffer;
        EXPECT_EQ(::pclose(pipe), 0) << name;
        EXPECT_EQ(out, std::string(name) + " " QUILLON_VERSION "\n");
    }
}

TEST(Runner, HelpAndBadArguments) {
    TempDir dir;
    ScanRun help = RunScan(dir, "--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Usage: quillon-scan"), std::string::npos);
    // Every exit status is told.
    for (const char* status :
         {"\n  0 ", "\n  2 ", "\n  3 ", "\n  4 ", "\n  5 ", "\n  6 ", "\n  64 "})
        EXPECT_NE(help.out.find(status), std::string::npos) << status;
    EXPECT_FALSE(dir.Exists("Quillon.---"));
    EXPECT_EQ(RunScan(dir, "--bogus").exitCode, 64);
}

// --workdir runs the pass in another directory, made when missing; the
// directory it was started in gets nothing.
TEST(Runner, WorkdirOptionChoosesTheWorkingDirectory) {
    TempDir dir;
    ScanRun run = RunScan(dir, "--workdir new/work");
    EXPECT_EQ(run.exitCode, 2) << run.err;  // a new directory has no symbols
    EXPECT_NE(run.err.find(dir.File("new/work/Symbols.sym") + " contains no symbols"),
              std::string::npos)
        << run.err;
    EXPECT_TRUE(dir.Exists("new/work/Quillon.---"));
    EXPECT_FALSE(dir.Exists("Quillon.---"));

    // --user-workdir: the desktop entry's per-user directory.
    const std::string xdg = "XDG_DATA_HOME='" + dir.File("xdg") + "' ";
    const std::string command = "cd '" + dir.Path() + "' && " + xdg +
                                "'" QUILLON_SCAN_PATH "' --user-workdir >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
    EXPECT_TRUE(dir.Exists("xdg/quillon/Quillon.---"));

    // A directory that cannot be made stops the run before it writes anything.
    dir.Write("file", "x");
    run = RunScan(dir, "--workdir file/work");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("cannot create " + dir.File("file") + "/work: Not a directory"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(RunScan(dir, "--workdir").exitCode, 64);
    EXPECT_FALSE(dir.Exists("Quillon.---"));
}

}  // namespace
}  // namespace quillon
