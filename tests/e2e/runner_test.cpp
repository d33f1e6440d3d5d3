// quillon-scan run as a user runs it: in a working directory, as a process.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "results/settings.h"
#include "tests/support/scan_process.h"
#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using testing::RunScan;
using testing::ScanRun;
using testing::TempDir;

// The settings file of `dir` as the desktop program reads it.
Settings StoredSettings(const TempDir& dir) {
    Settings settings;
    EXPECT_TRUE(LoadSettings(settings, WorkingFileNames::In(dir.Path())));
    return settings;
}

// The 20 filter values as the settings file holds them.
std::vector<std::string> FilterTexts(const Settings& settings) {
    std::vector<std::string> texts;
    for (const FilterValue& value : settings.Filters.Values)
        texts.push_back(value.ToText());
    return texts;
}

// A Quote.txt record of a stock without options, its dividend yield
// `yield` per cent; everything else as an ordinary stock of $20.
std::string StockRecord(const std::string& ticker, const char* yield) {
    std::string record = "<STOCK>" + ticker + "\r\n" + ticker +
                         " HOLDINGS\r\nUP\r\nNYSE\r\n1:29PM\r\n1 X 1\r\n\r\n\r\n";
    // Last sale to previous close, the 52-week high and low, volatility,
    // dividend, earnings per share, P/E, the yield, volume and shares.
    for (const char* figure : {"20", "0.5", "2.5", "19.9", "20.1", "19.5", "20.5", "19", "19.5",
                               "25", "15", "30", "1.3", "1", "20", yield, "150000", "1000000"})
        record += std::string(figure) + "\r\n";
    return record;
}

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
    // No archive: every symbol is named as one without a quote.
    EXPECT_NE(run.out.find("Processing GE\nNo quote for GE\nProcessing IBM\nNo quote for IBM\n"
                           "Processing MSFT\nNo quote for MSFT\nDone\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\n3 symbols got no quote: GE, IBM, MSFT\n3 symbols scanned in this "
                           "run; the pass is done: 0 of its 3 symbols saved, results in " +
                           dir.File("Results.txt") + "\n"),
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
    // The manual page is made from this text: every line fits 80 columns,
    // and an option is alone on its line or its description begins at
    // column 26, after two blanks.
    std::size_t start = 0;
    for (std::size_t end; (end = help.out.find('\n', start)) != std::string::npos;
         start = end + 1) {
        const std::string line = help.out.substr(start, end - start);
        EXPECT_LT(line.size(), 80u) << line;
        if (line.rfind("  --", 0) != 0) continue;
        const std::size_t blanks = std::count(line.begin(), line.end(), ' ');
        const bool alone = line.find("  ", 2) == std::string::npos && blanks <= 3;
        const bool columned = line.size() > 26 && line.substr(24, 2) == "  " && line[26] != ' ';
        EXPECT_TRUE(alone || columned) << line;
    }
    for (const char* option :
         {"--hosts HOST[:PORT][,HOST[:PORT]]\n", "--symbol-file FILE  ", "--template N|NAME  ",
          "--user NAME  ", "--password-file FILE  ", "\n  3   For Low P/E Stocks\n"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    EXPECT_FALSE(dir.Exists("Quillon.---"));
    EXPECT_EQ(RunScan(dir, "--bogus").exitCode, 64);
}

// A usage error is told in a few lines on standard error: the problem, the
// usage line and one hint, not the whole help, which would scroll the problem
// out of sight. Nothing is written.
TEST(Runner, AUsageErrorTellsTheProblemTheUsageLineAndOneHint) {
    TempDir dir;
    const std::string makeArchiveUsage =
        "Usage: quillon-make-archive DIRECTORY [COUNT [SEED]]\n"
        "  or:  quillon-make-archive --help | --version\n"
        "Try 'quillon-make-archive --help' for more.\n";
    const struct {
        const char* program;
        std::string args;
        std::string err;
    } cases[] = {
        {QUILLON_SCAN_PATH, "--bogus",
         "quillon-scan: unknown argument '--bogus'\nUsage: quillon-scan [OPTION]...\n"
         "Try 'quillon-scan --help' for more.\n"},
        {QUILLON_SCAN_PATH, "--local --date",
         "quillon-scan: --date needs a value\nUsage: quillon-scan [OPTION]...\n"
         "Try 'quillon-scan --help' for more.\n"},
        {QUILLON_SCAN_PATH, "--local --server",
         "quillon-scan: --local and --server exclude each other\nUsage: quillon-scan "
         "[OPTION]...\nTry 'quillon-scan --help' for more.\n"},
        {QUILLON_QUOTED_PATH, "--seed x",
         "quillon-quoted: bad argument --seed x\nUsage: quillon-quoted [OPTION]...\n"
         "Try 'quillon-quoted --help' for more.\n"},
        {QUILLON_IMPORT_PATH, "",
         "quillon-import: no file to import\nUsage: quillon-import [OPTION]... FILE...\n"
         "Try 'quillon-import --help' for more.\n"},
        {QUILLON_MAKE_ARCHIVE_PATH, "",
         "quillon-make-archive: no DIRECTORY given\n" + makeArchiveUsage},
        {QUILLON_MAKE_ARCHIVE_PATH, "--out x",
         "quillon-make-archive: unknown option '--out'\n" + makeArchiveUsage},
        // A count that is no whole number above 0 made an empty archive, or
        // with a sign ran off the universe.
        {QUILLON_MAKE_ARCHIVE_PATH, "out -5",
         "quillon-make-archive: COUNT takes a whole number from 1 to 100000, not '-5'\n" +
             makeArchiveUsage},
        {QUILLON_MAKE_ARCHIVE_PATH, "out 3 x",
         "quillon-make-archive: SEED takes a whole number, not 'x'\n" + makeArchiveUsage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + c.args);
        const ScanRun run = RunScan(dir, c.args, c.program);
        EXPECT_EQ(run.exitCode, 64);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.out, "");
    }
    EXPECT_FALSE(dir.Exists("out"));
    EXPECT_FALSE(dir.Exists("Quillon.---"));
    // One stock is one.
    EXPECT_EQ(RunScan(dir, "one 1", QUILLON_MAKE_ARCHIVE_PATH).out, "1 stock written to one\n");
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

// Each setup option saves its setting where the desktop program keeps it;
// the run then scans with it (a local run of symbols without quotes here).
TEST(Runner, SetupOptionsSaveTheirSettings) {
    const std::vector<std::string> defaultFilters = {"NA", "NA", "NA", "NA",  "NA", "NA", "NA",
                                                     "NA", "NA", "NA", "NA",  "NA", "NA", "NA",
                                                     "NA", "NA", "NA", "250", "8",  "8"};
    struct Case {
        const char* name;
        std::string args;
        std::optional<std::string> quoteHosts;  // QuoteHosts.txt after the run
        std::string symbolFile;                 // relative to the directory
        std::vector<std::string> filters;
        std::string user = "guest";
        std::string password = "lantern4";
    };
    std::vector<std::string> lowPE(20, "NA");
    lowPE[0] = "0";
    lowPE[1] = "7";
    std::vector<std::string> highYield(20, "NA");
    highYield[12] = "5";
    std::vector<std::string> buying = defaultFilters;
    buying[19] = "NA";
    const Case cases[] = {
        {"one host serves both", "--hosts quotes.example",
         "quotes.example:80\r\nquotes.example:80\r\n", "Symbols.sym", defaultFilters},
        {"two hosts", "--hosts quotes.example:8080,[::1]:81", "quotes.example:8080\r\n::1:81\r\n",
         "Symbols.sym", defaultFilters},
        {"relative symbol file", "--symbol-file lists/../lists/mine.sym", std::nullopt,
         "lists/mine.sym", defaultFilters},
        {"template by number", "--template 3", std::nullopt, "Symbols.sym", lowPE},
        {"template by name in any case", "--template 'FOR HIGH yield stocks'", std::nullopt,
         "Symbols.sym", highYield},
        {"template by name", "--template 'For Buying Stocks'", std::nullopt, "Symbols.sym", buying},
        {"user name alone keeps the password", "--user alice", std::nullopt, "Symbols.sym",
         defaultFilters, "alice"},
        {"user name and password", "--user bob --password-file pw.txt", std::nullopt, "Symbols.sym",
         defaultFilters, "bob", "s3cr:et"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::filesystem::create_directory(dir.File("lists"));
        dir.Write("Symbols.sym", "AAA\r\n");
        dir.Write("lists/mine.sym", "BBB\r\n");
        dir.Write("pw.txt", "s3cr:et\r\nnot this line\r\n");
        const ScanRun run = RunScan(dir, "--local " + c.args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        if (c.quoteHosts) {
            EXPECT_EQ(dir.Read("QuoteHosts.txt"), *c.quoteHosts);
        } else {
            EXPECT_FALSE(dir.Exists("QuoteHosts.txt"));
        }
        const Settings settings = StoredSettings(dir);
        EXPECT_EQ(settings.SymbolFileName, dir.File(c.symbolFile));
        EXPECT_EQ(FilterTexts(settings), c.filters);
        EXPECT_EQ(settings.Filters.DeriveZorFrom, 1);
        EXPECT_EQ(settings.UserName, c.user);
        EXPECT_EQ(settings.Password, c.password);
        EXPECT_EQ(settings.QuotesFromLocalFile, 1);
        // The scan read the symbol file saved.
        const std::string symbol = c.symbolFile == "Symbols.sym" ? "AAA" : "BBB";
        EXPECT_NE(run.out.find("Processing " + symbol + "\n"), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("s3cr"), std::string::npos);
        EXPECT_EQ(run.err.find("s3cr"), std::string::npos);
    }
}

// A value that cannot be used stops the run before anything is saved, and
// says why; a password is never repeated.
TEST(Runner, BadSetupValuesSaveNothing) {
    const struct {
        const char* args;
        const char* message;
    } cases[] = {
        {"--template 5", "--template takes a number from 0 to 4 or the name of a template"},
        {"--template 'For Low PE Stocks'", "not 'For Low PE Stocks'"},
        {"--hosts 'quotes example'", "--hosts 'quotes example' is no host name"},
        {"--hosts quotes.example:65536", "has no port from 1 to 65535"},
        {"--hosts quotes.example:", "has no port from 1 to 65535"},
        {"--hosts quotes.example:0", "has no port from 1 to 65535"},
        {"--hosts :80", "names no host"},
        {"--hosts a,b,c", "takes two hosts at most"},
        {"--hosts ::1", "write an IPv6 address in brackets"},
        {"--hosts '[::1'", "lacks the ]"},
        {"--symbol-file missing.sym", "--symbol-file: cannot read "},
        {"--symbol-file lists", " is not a file"},
        {"--password-file missing.txt", "--password-file: cannot read "},
        {"--password-file lists", "--password-file: cannot read "},
        {"--user a:b", "--user takes a name without a colon"},
        {"--password Zq7sesame91",
         "a password on the command line is refused: other users can read a program's command "
         "line (ps, /proc). Give it with --password-file FILE, with --password-file - on standard "
         "input, or in the environment variable QUILLON_PASSWORD."},
        {"--user bob --password=Zq7sesame91", "a password on the command line is refused"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        TempDir dir;
        std::filesystem::create_directory(dir.File("lists"));
        dir.Write("Symbols.sym", "AAA\r\n");
        // An earlier run's settings stay as they are, the data source too.
        ASSERT_EQ(RunScan(dir, "--server --give-up-after 0.001").exitCode, 5);
        const std::string settings = dir.Read("Quillon.---");
        const ScanRun run = RunScan(dir, std::string("--local ") + c.args);
        EXPECT_EQ(run.exitCode, 64);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("Zq7sesame91"), std::string::npos) << run.err;
        EXPECT_EQ(dir.Read("Quillon.---"), settings);
        EXPECT_FALSE(dir.Exists("QuoteHosts.txt"));
    }
}

// A filter template changes what a local scan saves: the stock of high
// yield has no options, which the default filters ask for. A symbol missing
// from the archive is named as one without a quote.
TEST(Runner, ATemplateChangesWhatALocalScanSaves) {
    TempDir dir;
    dir.Write("Symbols.sym", "LOWY\r\nNONE\r\nRICH\r\n");
    dir.Write("Quote.txt", StockRecord("LOWY", "1") + StockRecord("RICH", "6.5"));
    const ScanRun defaults = RunScan(dir, "--local");
    ASSERT_EQ(defaults.exitCode, 0) << defaults.err;
    EXPECT_EQ(dir.Read("SavedSym.txt").find("RICH"), std::string::npos);
    EXPECT_NE(defaults.out.find("No quote for NONE\n"), std::string::npos) << defaults.out;
    EXPECT_NE(defaults.out.find("\n1 symbol got no quote: NONE\n3 symbols scanned in this run; the "
                                "pass is done: 0 of its 3 symbols saved"),
              std::string::npos)
        << defaults.out;

    const ScanRun yield = RunScan(dir, "--template 'for high yield stocks'");
    ASSERT_EQ(yield.exitCode, 0) << yield.err;
    const std::string saved = dir.Read("SavedSym.txt");
    EXPECT_NE(saved.find("RICH"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("LOWY"), std::string::npos) << saved;
    EXPECT_NE(yield.out.find("the pass is done: 1 of its 3 symbols saved"), std::string::npos)
        << yield.out;
}

// The closing summary names at most ten symbols without a quote and counts
// the rest.
TEST(Runner, ManySymbolsWithoutAQuoteAreCounted) {
    TempDir dir;
    std::string symbols;
    for (int i = 0; i < 12; ++i)
        symbols += "S" + std::to_string(10 + i) + "\r\n";
    dir.Write("Symbols.sym", symbols);
    const ScanRun run = RunScan(dir, "--local");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("\n12 symbols got no quote: S10, S11, S12, S13, S14, S15, S16, S17, "
                           "S18, S19 and 2 more\n"),
              std::string::npos)
        << run.out;
}

// A directory quillon-import filled, with no settings yet, is scanned from
// its archive at once instead of waiting for a quote server; one whose
// settings say otherwise keeps them.
TEST(Runner, AFreshImportDirectoryIsScannedFromItsArchive) {
    TempDir fresh;
    fresh.Write("Symbols.sym", "RICH\r\n");
    fresh.Write("Quote.txt", StockRecord("RICH", "6.5"));
    const ScanRun run = RunScan(fresh);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("the quotes come from " + fresh.File("Quote.txt") +
                           " (saved in the settings; --server takes them from the quote server)"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(StoredSettings(fresh).QuotesFromLocalFile, 1);

    TempDir kept;
    kept.Write("Symbols.sym", "RICH\r\n");
    ASSERT_EQ(RunScan(kept, "--give-up-after 0.001").exitCode, 5);  // a server scan
    kept.Write("Quote.txt", StockRecord("RICH", "6.5"));
    const ScanRun again = RunScan(kept, "--give-up-after 0.001");
    EXPECT_EQ(again.exitCode, 5);
    EXPECT_EQ(again.err.find("the quotes come from"), std::string::npos) << again.err;
    EXPECT_EQ(StoredSettings(kept).QuotesFromLocalFile, 0);
}

// The runner's messages advise its options, never the desktop program's
// menus and buttons, and a write failure is advised by its cause.
TEST(Runner, MessagesAdviseTheRunnersOptions) {
    TempDir empty;
    const ScanRun noSymbols = RunScan(empty);
    EXPECT_EQ(noSymbols.exitCode, 2);
    EXPECT_NE(noSymbols.err.find(" contains no symbols, process stopped.\r\nUse --symbol-file "
                                 "FILE to choose another file."),
              std::string::npos)
        << noSymbols.err;
    EXPECT_EQ(noSymbols.err.find("File menu"), std::string::npos);

    const struct {
        int error;
        const char* advice;
    } cases[] = {
        {28, "Make room, then run quillon-scan again."},   // ENOSPC
        {122, "Make room, then run quillon-scan again."},  // EDQUOT
        {13,
         "The directory cannot be written: check its permissions, then run quillon-scan "
         "again."},  // EACCES
        {30,
         "The directory cannot be written: check its permissions, then run quillon-scan "
         "again."},                                                          // EROFS
        {5, "When the file can be written again, run quillon-scan again."},  // EIO
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.advice);
        TempDir dir;
        dir.Write("Symbols.sym", "AAA\r\nBBB\r\n");
        const std::string error = std::to_string(c.error);
        setenv("QUILLON_TEST_FAIL_AT_WRITE", "1", 1);
        setenv("QUILLON_TEST_FAIL_ERRNO", error.c_str(), 1);
        const ScanRun run = RunScan(dir, "--local", QUILLON_SCAN_FAULTS_PATH);
        unsetenv("QUILLON_TEST_FAIL_AT_WRITE");
        unsetenv("QUILLON_TEST_FAIL_ERRNO");
        EXPECT_EQ(run.exitCode, 6);
        EXPECT_NE(run.err.find(std::string(": ") + std::strerror(c.error) + "\r\n"),
                  std::string::npos)
            << run.err;
        EXPECT_NE(run.err.find(std::string("whose output was not written. ") + c.advice),
                  std::string::npos)
            << run.err;
        EXPECT_EQ(run.err.find("press Go"), std::string::npos) << run.err;
        EXPECT_NE(run.out.find("0 symbols scanned in this run; the pass has 0 of its 2 symbols "
                               "done, 0 saved so far"),
                  std::string::npos)
            << run.out;
    }
}

// A symbolic link planted in the place of a working file, to a file outside
// the directory that holds what the working file held: the target keeps every
// byte. Scan.lock and the files of the pass are refused in words; the
// settings file, saved by a replacement, replaces the link itself.
TEST(Runner, ASymbolicLinkInThePlaceOfAWorkingFileNeverWritesItsTarget) {
    struct Case {
        const char* file;
        const char* args;
        int exitCode;
        const char* refusal;  // what stands before the file's name; null: none
    };
    const Case cases[] = {
        {"Scan.lock", "", 2, "quillon-scan: cannot lock "},
        {"Results.txt", "", 6, "Cannot write "},
        {"Progress.---", "", 6, "Cannot write "},
        {"Quillon.---", "--template 'for high yield stocks'", 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TempDir dir, elsewhere;
        dir.Write("Symbols.sym", "AAA\r\nBBB\r\n");
        ASSERT_EQ(RunScan(dir, "--local").exitCode, 0);
        dir.Write("Progress.---", "0 1");  // resumed at BBB
        const std::string kept = dir.Read(c.file);
        elsewhere.Write("victim", kept);
        std::filesystem::remove(dir.File(c.file));
        std::filesystem::create_symlink(elsewhere.File("victim"), dir.File(c.file));

        const ScanRun run = RunScan(dir, c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_EQ(elsewhere.Read("victim"), kept);
        if (c.refusal == nullptr) {
            EXPECT_FALSE(std::filesystem::is_symlink(dir.File(c.file)));
            EXPECT_NE(dir.Read(c.file), kept) << "the settings were not saved";
            continue;
        }
        EXPECT_NE(run.err.find(c.refusal + dir.File(c.file) +
                               ": it is a symbolic link; refused: remove it and try again"),
                  std::string::npos)
            << run.err;
        EXPECT_TRUE(std::filesystem::is_symlink(dir.File(c.file)));
    }
}

// Real files that cannot be written, in a pass resumed at its second symbol:
// a directory in the place of Results.txt, and (for a user whom permissions
// bind) a Results.txt that may not be written.
TEST(Runner, AFileThatCannotBeWrittenIsNotAFullDisk) {
    TempDir dir;
    dir.Write("Symbols.sym", "AAA\r\nBBB\r\n");
    ASSERT_EQ(RunScan(dir, "--local").exitCode, 0);
    dir.Write("Progress.---", "0 1");
    std::filesystem::remove(dir.File("Results.txt"));
    std::filesystem::create_directory(dir.File("Results.txt"));
    ScanRun run = RunScan(dir);
    EXPECT_EQ(run.exitCode, 6);
    EXPECT_NE(run.err.find("Cannot write " + dir.File("Results.txt") +
                           ": Is a directory\r\nThe scan is paused at BBB, whose output was not "
                           "written. When the file can be written again, run quillon-scan again."),
              std::string::npos)
        << run.err;
    EXPECT_EQ(dir.Read("Progress.---"), "0 1");

    std::filesystem::remove(dir.File("Results.txt"));
    dir.Write("Results.txt", "");
    ::chmod(dir.File("Results.txt").c_str(), 0444);
    if (::access(dir.File("Results.txt").c_str(), W_OK) == 0) {
        GTEST_SKIP() << "permissions do not bind this user (root)";
    }
    run = RunScan(dir);
    EXPECT_EQ(run.exitCode, 6);
    EXPECT_NE(run.err.find(": Permission denied\r\nThe scan is paused at BBB, whose output was "
                           "not written. The directory cannot be written: check its "
                           "permissions, then run quillon-scan again."),
              std::string::npos)
        << run.err;
}

}  // namespace
}  // namespace quillon
