#include "results/settings.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/base64.h"
#include "platform/files.h"
#include "platform/services.h"
#include "results/settings_save.h"
#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// A fresh directory for each test, removed afterwards.
class SettingsFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.Path().empty()) << "no temporary directory";
        names_ = WorkingFileNames::In(dir_.Path());
    }

    static void Write(const std::string& name, const std::string& content) {
        std::ofstream(name, std::ios::binary) << content;
    }
    static std::string Read(const std::string& name) { return ReadWholeFile(name).value_or("?"); }

    TempDir dir_;
    WorkingFileNames names_;
};

std::string Crlf(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + "\r\n";
    return text;
}

std::vector<std::string> SplitCrlf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "text after the last CR LF";
    return lines;
}

// The default file, line by line, for a working directory `dir`.
std::vector<std::string> DefaultLines(const std::string& dir) {
    std::vector<std::string> lines = {"lZ3Vlc3Q6bGFudGVybjQ=", "0", "5"};
    for (int i = 0; i < 17; ++i)
        lines.push_back("NA");
    for (const char* line : {"250", "8", "8", "1"})
        lines.push_back(line);
    lines.push_back(dir + "/Symbols.sym");
    lines.push_back("0");
    return lines;
}

// Settings with a value in every field that differs from the defaults.
Settings Unusual() {
    Settings s;
    s.UserName = "someone";
    s.Password = "secret";
    s.QuoteServer = 1;
    s.InterestRate = 0.07f;
    for (auto& v : s.Filters.Values)
        v = FilterValue::Number(42);
    s.Filters.DeriveZorFrom = 0;
    s.SymbolFileName = "/elsewhere/list.sym";
    s.QuotesFromLocalFile = 1;
    return s;
}

TEST(WorkingFileNames, NoDoubleSlashAtTheRoot) {
    EXPECT_EQ(WorkingFileNames::In("/w").AscQuoteBackup, "/w/AscQuote.bak");
    EXPECT_EQ(WorkingFileNames::In("/").SettingsFile, "/Quillon.---");
}

TEST_F(SettingsFiles, StartUpWritesTheDefaultFile) {
    Settings s = Unusual();
    RunTimeValues runtime;
    runtime.TickerText = "x";
    runtime.SymbolsLoaded = runtime.RestartPending = true;
    WorkingFileNames files;
    InitWorkingFilesIn(dir_.Path(), s, runtime, files);

    EXPECT_EQ(files.SettingsFile, dir_.Path() + "/Quillon.---");
    const std::string text = Read(files.SettingsFile);
    EXPECT_EQ(SplitCrlf(text), DefaultLines(dir_.Path()));
    EXPECT_EQ(text, Crlf(DefaultLines(dir_.Path())));  // byte for byte, no stray LF
    struct stat info {};
    ASSERT_EQ(::stat(files.SettingsFile.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600U);

    EXPECT_EQ(runtime.TickerText, kDefaultTickerText);
    EXPECT_FALSE(runtime.SymbolsLoaded);
    EXPECT_FALSE(runtime.RestartPending);
    EXPECT_EQ(s.UserName, "guest");
    EXPECT_EQ(s.Password, "lantern4");
    EXPECT_EQ(s.InterestRate, 0.05f);
    EXPECT_EQ(s.SymbolFileName, dir_.Path() + "/Symbols.sym");
    // Loaded from the file, the filter values are texts.
    EXPECT_EQ(s.Filters.Values[TX_MinOptInt], FilterValue::Text("250"));
    EXPECT_EQ(s.Filters.Values[TX_MinPE], FilterValue::Text("NA"));
}

TEST_F(SettingsFiles, StartUpUsesTheCurrentDirectory) {
    const fs::path before = fs::current_path();
    fs::current_path(dir_.Path());
    Settings s;
    RunTimeValues runtime;
    WorkingFileNames files;
    InitWorkingFiles(s, runtime, files);
    fs::current_path(before);
    const std::string here = fs::canonical(dir_.Path()).string();
    EXPECT_EQ(files.WorkingDirectory, here);
    EXPECT_EQ(s.SymbolFileName, here + "/Symbols.sym");
    EXPECT_TRUE(FileExists(here + "/Quillon.---"));
}

TEST_F(SettingsFiles, StartUpLoadsAnExistingFileAndAboutTxtResetsIt) {
    Settings stored = Unusual();
    ASSERT_TRUE(SaveSettings(stored, names_));
    Settings s;
    RunTimeValues runtime;
    WorkingFileNames files;
    InitWorkingFilesIn(dir_.Path(), s, runtime, files);
    EXPECT_EQ(SettingsFileText(s), SettingsFileText(stored));

    Write(names_.AboutFile, "reset");
    InitWorkingFilesIn(dir_.Path(), s, runtime, files);
    EXPECT_FALSE(FileExists(names_.AboutFile));
    EXPECT_EQ(Read(names_.SettingsFile), Crlf(DefaultLines(dir_.Path())));
    EXPECT_EQ(SettingsFileText(s), Crlf(DefaultLines(dir_.Path())));
}

struct CredentialCase {
    std::string user, password;
    std::string line1;
    std::string loadedUser, loadedPassword;
};

TEST(SettingsCredentials, SaveAndLoad) {
    const CredentialCase cases[] = {
        {"guest", "lantern4", "lZ3Vlc3Q6bGFudGVybjQ=", "guest", "lantern4"},
        {"", "", "=Og==", "", ""},
        // Only the first ":" splits: a password keeps its own, a user name does not.
        {"bob", "a:b", "iYm9iOmE6Yg==", "bob", "a:b"},
        {"a:b", "c", "iYTpiOmM=", "a", "b:c"},
        // The value 63 is written as a backslash, here at the end of the group.
        {"a", "?", "\\YTo\\", "a", "?"},
    };
    for (const auto& c : cases) {
        Settings s;
        s.UserName = c.user;
        s.Password = c.password;
        const std::string text = SettingsFileText(s);
        EXPECT_EQ(text.substr(0, text.find("\r\n")), c.line1);
        Settings loaded;
        EXPECT_TRUE(LoadSettingsText(loaded, text));
        EXPECT_EQ(loaded.UserName, c.loadedUser);
        EXPECT_EQ(loaded.Password, c.loadedPassword);
    }
}

TEST(SettingsCredentials, LineWithoutColonOrEmpty) {
    Settings s;
    ASSERT_TRUE(LoadSettingsText(s, "?" + EncodeBase64("nobody") + "\r\n"));
    EXPECT_EQ(s.UserName, "nobody");
    EXPECT_EQ(s.Password, "");
    ASSERT_TRUE(LoadSettingsText(s, "\r\n"));
    EXPECT_EQ(s.UserName, "");
    EXPECT_EQ(s.Password, "");
}

struct RateCase {
    float rate;
    std::string line3;
    float loaded;
};

TEST(SettingsInterestRate, PerCentWithFourDecimals) {
    const RateCase cases[] = {
        {0.05f, "5", 0.05f},
        {0.0525f, "5.25", 0.0525f},
        {0.1234567f, "12.3457", 0.123457f},
        {0.123456f, "12.3456", 0.123456f},
        {0.0f, "0", 0.0f},
        {1.5f, "150", 1.5f},
        {-0.01f, "-1", -0.01f},
        {0.000001f, "0.0001", 0.000001f},
    };
    for (const auto& c : cases) {
        Settings s;
        s.InterestRate = c.rate;
        const std::vector<std::string> lines = SplitCrlf(SettingsFileText(s));
        ASSERT_EQ(lines.size(), 26U);
        EXPECT_EQ(lines[2], c.line3) << c.rate;
        Settings loaded;
        ASSERT_TRUE(LoadSettingsText(loaded, Crlf(lines)));
        EXPECT_EQ(loaded.InterestRate, c.loaded) << c.line3;
    }
}

TEST(SettingsFilters, NumberSavedInGeneralFormAndLoadedAsText) {
    Settings s;
    SetDefaultSettings(s);
    s.Filters.Values[TX_MinLast] = ParseFilterValue("1.50");
    s.Filters.Values[TX_MaxLast] = FilterValue();
    const std::vector<std::string> lines = SplitCrlf(SettingsFileText(s));
    EXPECT_EQ(lines[3 + TX_MinLast], "1.5");
    EXPECT_EQ(lines[3 + TX_MaxLast], "");
    Settings loaded;
    ASSERT_TRUE(LoadSettingsText(loaded, Crlf(lines)));
    EXPECT_EQ(loaded.Filters.Values[TX_MinLast], FilterValue::Text("1.5"));
    EXPECT_TRUE(loaded.Filters.Values[TX_MinLast].InUse());
    EXPECT_EQ(loaded.Filters.Values[TX_MaxLast], FilterValue());
}

// The IV rank and IV percentile settings follow the 26 lines, and only when
// one is not at its default: a file without them loads as unused, 52 weeks,
// figures off; a file with them loads, in a build that reads only the 26
// lines, exactly as the same file without them.
TEST(SettingsHistory, StoredAfterTheTwentySixLines) {
    struct Case {
        const char* name;
        std::vector<std::string> extra;  // lines after the 26 as written
        const char* minRank;             // the loaded texts
        const char* maxPercentile;
        int weeks;
        bool figures;
    };
    const Case cases[] = {
        {"today's file", {}, "", "", 52, false},
        {"rank 30 to 80, 13 weeks", {"30", "80", "NA", "NA", "13", "0"}, "30", "NA", 13, false},
        {"percentile at most 20, 26 weeks, figures on",
         {"NA", "NA", "NA", "20", "26", "1"},
         "NA",
         "20",
         26,
         true},
        {"figures alone", {"NA", "NA", "NA", "NA", "52", "1"}, "NA", "NA", 52, true},
    };
    for (const Case& c : cases) {
        Settings written;
        SetDefaultSettings(written);
        written.SymbolFileName = "/d/Symbols.sym";
        if (!c.extra.empty()) {
            written.History.MinIvRank = ParseFilterValue(c.extra[0]);
            written.History.MaxIvRank = ParseFilterValue(c.extra[1]);
            written.History.MinIvPercentile = ParseFilterValue(c.extra[2]);
            written.History.MaxIvPercentile = ParseFilterValue(c.extra[3]);
            written.History.WindowWeeks = std::stoi(c.extra[4]);
            written.History.ShowFigures = c.extra[5] == "1";
        }
        std::vector<std::string> expected = DefaultLines("/d");
        expected.insert(expected.end(), c.extra.begin(), c.extra.end());
        const std::string text = SettingsFileText(written);
        EXPECT_EQ(SplitCrlf(text), expected) << c.name;

        Settings loaded = Unusual();
        loaded.History.MinIvRank = FilterValue::Number(99);
        loaded.History.WindowWeeks = 13;
        loaded.History.ShowFigures = true;
        ASSERT_TRUE(LoadSettingsText(loaded, text)) << c.name;
        EXPECT_EQ(loaded.History.MinIvRank.ToText(), c.minRank) << c.name;
        EXPECT_EQ(loaded.History.MaxIvPercentile.ToText(), c.maxPercentile) << c.name;
        EXPECT_EQ(loaded.History.WindowWeeks, c.weeks) << c.name;
        EXPECT_EQ(loaded.History.ShowFigures, c.figures) << c.name;
        EXPECT_EQ(SettingsFileText(loaded), text) << c.name << ": saved again unchanged";

        // What a build without these settings reads: the 26 lines alone.
        Settings without = Unusual();
        ASSERT_TRUE(LoadSettingsText(without, Crlf(DefaultLines("/d")))) << c.name;
        loaded.History = HistorySettings();
        EXPECT_EQ(SettingsFileText(loaded), SettingsFileText(without)) << c.name;
    }
}

// An older build stops reading after the 26th line: the lines after it can
// hold anything without changing what it loads, and damaged history lines
// give the defaults without failing the load.
TEST(SettingsHistory, DamagedOrForeignLinesAfterTheTwentySix) {
    struct Case {
        std::vector<std::string> extra;
        int weeks;
        bool figures;
    };
    const Case cases[] = {
        {{"NA", "NA", "NA", "NA", "12", "0"}, 52, false},
        {{"NA", "NA", "NA", "NA", "x", "x"}, 52, false},
        {{"NA", "NA", "NA", "NA", "26"}, 26, false},
        {{"NA", "NA", "NA", "NA", "13", "7", "more", "lines"}, 13, true},
    };
    for (const Case& c : cases) {
        std::vector<std::string> lines = DefaultLines("/d");
        lines.insert(lines.end(), c.extra.begin(), c.extra.end());
        Settings s = Unusual();
        ASSERT_TRUE(LoadSettingsText(s, Crlf(lines))) << c.extra[4];
        EXPECT_EQ(s.History.WindowWeeks, c.weeks) << c.extra[4];
        EXPECT_EQ(s.History.ShowFigures, c.figures) << c.extra[4];
        EXPECT_FALSE(s.History.FiltersInUse());
        Settings old = Unusual();
        ASSERT_TRUE(LoadSettingsText(old, Crlf(DefaultLines("/d"))));
        s.History = HistorySettings();
        EXPECT_EQ(SettingsFileText(s), SettingsFileText(old));
    }
}

// A fetched source goes on a line of its own after the history lines (which
// are then written too); the server and the local archive keep today's 26
// lines, and a build that reads only those sees a fetched source as the
// quote server.
TEST(SettingsSource, AFetchedSourceFollowsTheHistoryLines) {
    const std::vector<std::string> history = {"NA", "NA", "NA", "NA", "52", "0"};
    const struct Case {
        QuoteSource source;
        const char* localLine;
        const char* sourceLine;  // none: no lines after the 26
    } cases[] = {
        {QuoteSource::Server, "0", nullptr},
        {QuoteSource::Local, "1", nullptr},
        {QuoteSource::Exchange, "0", "2"},
        {QuoteSource::Tradier, "0", "3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QuoteSourceName(c.source));
        Settings written;
        SetDefaultSettings(written);
        written.SymbolFileName = "/d/Symbols.sym";
        written.SetSource(c.source);
        std::vector<std::string> expected = DefaultLines("/d");
        expected.back() = c.localLine;
        if (c.sourceLine != nullptr) {
            expected.insert(expected.end(), history.begin(), history.end());
            expected.push_back(c.sourceLine);
        }
        const std::string text = SettingsFileText(written);
        EXPECT_EQ(SplitCrlf(text), expected);
        Settings loaded = Unusual();
        ASSERT_TRUE(LoadSettingsText(loaded, text));
        EXPECT_EQ(loaded.Source(), c.source);
        EXPECT_EQ(loaded.LocalMode(), c.source == QuoteSource::Local);
        // Another number on the line leaves the choice to the 26th line.
        for (const char* other : {"1", "9", "x"}) {
            std::vector<std::string> lines = expected;
            lines.resize(26);
            lines.insert(lines.end(), history.begin(), history.end());
            lines.push_back(other);
            ASSERT_TRUE(LoadSettingsText(loaded, Crlf(lines)));
            EXPECT_EQ(loaded.Source(),
                      c.source == QuoteSource::Local ? QuoteSource::Local : QuoteSource::Server);
        }
    }
}

TEST_F(SettingsFiles, HistorySettingsRoundTripThroughTheFile) {
    Settings s = Unusual();
    s.History.MinIvRank = FilterValue::Number(30);
    s.History.MaxIvPercentile = FilterValue::Number(87.5);
    s.History.WindowWeeks = 26;
    ASSERT_TRUE(SaveSettings(s, names_));
    Settings loaded;
    ASSERT_TRUE(LoadSettings(loaded, names_));
    EXPECT_EQ(loaded.History.MinIvRank, FilterValue::Text("30"));
    EXPECT_EQ(loaded.History.MaxIvPercentile, FilterValue::Text("87.5"));
    EXPECT_TRUE(loaded.History.MaxIvPercentile.InUse());
    EXPECT_FALSE(loaded.History.MaxIvRank.InUse());
    EXPECT_EQ(loaded.History.WindowWeeks, 26);
    EXPECT_EQ(loaded.History.WindowDays(), 126);
    EXPECT_EQ(SettingsFileText(loaded), SettingsFileText(s));
}

struct TokenCase {
    std::string line2;
    bool ok;
    int value;
};

TEST(SettingsNumberLines, OneTokenPerLine) {
    // Blanks are spaces and tabs; any other control character ends the token.
    const TokenCase cases[] = {
        {"1", true, 1},
        {"  1 junk", true, 1},
        {"1\t2", true, 1},
        {"+1", true, 1},
        {"-7", true, -7},
        {std::string("5\0x", 3), true, 5},
        {"2147483647", true, 2147483647},
        {"x", false, 0},
        {"1x", false, 0},
        {"", false, 0},
        {"   ", false, 0},
        {"+-1", false, 0},
        {"--1", false, 0},
        {"1.5", false, 0},
        {"2147483648", false, 0},
        {"\t1", true, 1},
    };
    for (const auto& c : cases) {
        std::vector<std::string> lines = DefaultLines("/d");
        lines[1] = c.line2;
        Settings s;
        s.QuoteServer = 99;
        EXPECT_EQ(LoadSettingsText(s, Crlf(lines)), c.ok) << '"' << c.line2 << '"';
        EXPECT_EQ(s.QuoteServer, c.ok ? c.value : 99) << '"' << c.line2 << '"';
    }
}

// A number line that holds no number stops the load: the lines before it are
// taken from the file, that line and the later ones stay as they were.
TEST(SettingsLoad, StopsAtANumberLineWithoutANumber) {
    const Settings old = Unusual();
    const std::vector<std::string> oldLines = SplitCrlf(SettingsFileText(old));
    const std::size_t numberLines[] = {1, 2, 23, 25};
    for (std::size_t bad : numberLines) {
        for (const char* content : {"A", "", " ", "5,25"}) {
            std::vector<std::string> lines = DefaultLines("/d");
            lines[bad] = content;
            Settings s = old;
            EXPECT_FALSE(LoadSettingsText(s, Crlf(lines))) << bad << " " << content;
            std::vector<std::string> expected = DefaultLines("/d");
            for (std::size_t i = bad; i < expected.size(); ++i)
                expected[i] = oldLines[i];
            EXPECT_EQ(SplitCrlf(SettingsFileText(s)), expected) << bad << " " << content;
        }
    }
}

TEST(SettingsLoad, LineEndsAndShortFiles) {
    Settings s = Unusual();
    std::string lf = Crlf(DefaultLines("/d"));
    for (std::size_t at; (at = lf.find("\r\n")) != std::string::npos;)
        lf.erase(at, 1);
    ASSERT_TRUE(LoadSettingsText(s, lf));
    EXPECT_EQ(SettingsFileText(s), Crlf(DefaultLines("/d")));

    // Missing number lines give 0 and missing text lines empty texts.
    s = Unusual();
    ASSERT_TRUE(LoadSettingsText(s, "XOg==\r\n1\r\n7.5\r\n250"));
    EXPECT_EQ(s.QuoteServer, 1);
    EXPECT_EQ(s.InterestRate, 0.075f);
    EXPECT_EQ(s.Filters.Values[TX_MinPE], FilterValue::Text("250"));
    for (std::size_t i = 1; i < kFilterCount; ++i)
        EXPECT_TRUE(s.Filters.Values[i].IsEmpty());
    EXPECT_EQ(s.Filters.DeriveZorFrom, 0);
    EXPECT_EQ(s.SymbolFileName, "");
    EXPECT_EQ(s.QuotesFromLocalFile, 0);

    // One empty line is a short file: every setting is empty or 0.
    s = Unusual();
    ASSERT_TRUE(LoadSettingsText(s, "\r\n"));
    EXPECT_EQ(
        SplitCrlf(SettingsFileText(s)),
        std::vector<std::string>({"=Og==", "0", "0", "", "", "", "", "", "", "", "",  "", "",
                                  "",      "",  "",  "", "", "", "", "", "", "", "0", "", "0"}));

    // No bytes at all is no settings file: the load fails and changes nothing.
    s = Unusual();
    EXPECT_FALSE(LoadSettingsText(s, ""));
    EXPECT_EQ(SettingsFileText(s), SettingsFileText(Unusual()));
}

TEST(SettingsLoad, DamagedBytes) {
    std::vector<std::string> lines = DefaultLines("/d");
    lines[24] = std::string(1 << 20, 'p');  // a huge symbol-file line is cut
    lines[3] = std::string("N\0A\rX", 5);   // bytes of a text line are kept
    Settings s;
    ASSERT_TRUE(LoadSettingsText(s, Crlf(lines) + "extra\r\nlines\r\n"));
    EXPECT_EQ(s.SymbolFileName.size(), 64U * 1024);
    EXPECT_EQ(s.Filters.Values[TX_MinPE].ToText(), std::string("N\0A\rX", 5));
    EXPECT_EQ(s.QuotesFromLocalFile, 0);
}

TEST_F(SettingsFiles, LoadFromFileMatchesLoadFromText) {
    std::vector<std::string> lines = DefaultLines("/d");
    lines[1] = "1";
    lines[24] = std::string(100000, 'q');
    Write(names_.SettingsFile, Crlf(lines));
    Settings fromFile, fromText;
    EXPECT_TRUE(LoadSettings(fromFile, names_));
    EXPECT_TRUE(LoadSettingsText(fromText, Crlf(lines)));
    EXPECT_EQ(SettingsFileText(fromFile), SettingsFileText(fromText));
    EXPECT_EQ(fromFile.QuoteServer, 1);
}

TEST_F(SettingsFiles, MissingEmptyOrUnreadableFileChangesNothing) {
    const Settings old = Unusual();
    Settings s = old;
    EXPECT_FALSE(LoadSettings(s, names_));
    Write(names_.SettingsFile, "");
    EXPECT_FALSE(LoadSettings(s, names_));
    fs::remove(names_.SettingsFile);
    fs::create_directory(names_.SettingsFile);
    EXPECT_FALSE(LoadSettings(s, names_));
    EXPECT_EQ(SettingsFileText(s), SettingsFileText(old));
}

// An empty settings file (a save that never wrote) gives the defaults at
// start-up, as a missing one does, and is written anew.
TEST_F(SettingsFiles, StartUpTakesAnEmptyFileAsMissing) {
    Write(names_.SettingsFile, "");
    Settings s = Unusual();
    RunTimeValues runtime;
    WorkingFileNames files;
    InitWorkingFilesIn(dir_.Path(), s, runtime, files);
    EXPECT_EQ(SettingsFileText(s), Crlf(DefaultLines(dir_.Path())));
    EXPECT_EQ(Read(names_.SettingsFile), Crlf(DefaultLines(dir_.Path())));
}

// Start-up removes the temporary files of saves that were killed (they hold
// the password) but not one that a running program may be writing now, nor
// files that only look alike.
TEST_F(SettingsFiles, StartUpRemovesLeftoversOfKilledSaves) {
    Settings stored = Unusual();
    ASSERT_TRUE(SaveSettings(stored, names_));
    const auto longAgo = fs::file_time_type::clock::now() - std::chrono::minutes(10);
    const struct {
        const char* name;
        bool old;
        bool kept;
    } cases[] = {
        {"Quillon.---.new-k9Lm2Q", true, false}, {"Quillon.---.new", true, false},
        {"Quillon.---.new-Rt5uV7", false, true}, {"Quillon.---.bak", true, true},
        {"Results.txt.new-k9Lm2Q", true, true},
    };
    for (const auto& c : cases) {
        Write(dir_.File(c.name), "password");
        if (c.old) fs::last_write_time(dir_.File(c.name), longAgo);
    }
    Settings s;
    RunTimeValues runtime;
    WorkingFileNames files;
    InitWorkingFilesIn(dir_.Path(), s, runtime, files);
    for (const auto& c : cases)
        EXPECT_EQ(fs::exists(dir_.File(c.name)), c.kept) << c.name;
    EXPECT_EQ(SettingsFileText(s), SettingsFileText(stored));
}

TEST_F(SettingsFiles, FailedSaveLeavesThePreviousFile) {
    Settings s;
    SetDefaultSettings(s);
    s.SymbolFileName = dir_.Path() + "/Symbols.sym";
    ASSERT_TRUE(SaveSettings(s, names_));
    const std::string before = Read(names_.SettingsFile);

    // A file-size limit makes the write fail part way, even for root.
    s.SymbolFileName = std::string(4000, 'z');
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool ok = SaveSettings(s, names_);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(ok);
    EXPECT_EQ(Read(names_.SettingsFile), before);
    // Nothing is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path()), fs::directory_iterator()), 1);

    // A settings file in a directory that does not exist cannot be saved.
    EXPECT_FALSE(SaveSettings(s, WorkingFileNames::In(dir_.Path() + "/missing")));
}

// Saved from a dialog, a save that fails is told to the user in words and
// leaves what was on disk as it was; a save that works says nothing. Each
// failure below stops root as well.
TEST_F(SettingsFiles, SaveFromADialogTellsAFailureAndKeepsTheFileOnDisk) {
    Settings previous;
    SetDefaultSettings(previous);
    previous.SymbolFileName = dir_.Path() + "/Symbols.sym";
    Settings changed = Unusual();
    changed.SymbolFileName = std::string(4000, 'z');

    struct Case {
        const char* name;
        // Prepares the directory; returns the working directory to save in.
        std::function<std::string()> prepare;
        bool sizeLimit;     // a file-size limit of 1000 bytes during the save
        const char* cause;  // what the message gives as the reason; "" when saved
    };
    const Case cases[] = {
        {"file-size limit reached part way",
         [&] {
             EXPECT_TRUE(SaveSettings(previous, names_));
             return dir_.Path();
         },
         true, "File too large"},
        {"settings file name taken by a directory",
         [&] {
             fs::create_directory(names_.SettingsFile);
             Write(names_.SettingsFile + "/kept", "kept");
             return dir_.Path();
         },
         false, "Is a directory"},
        {"working directory is a regular file",
         [&] {
             Write(dir_.File("plain"), "plain");
             return dir_.File("plain");
         },
         false, "Not a directory"},
        {"saved",
         [&] {
             EXPECT_TRUE(SaveSettings(previous, names_));
             return dir_.Path();
         },
         false, ""},
    };
    auto snapshot = [this] {
        std::string all;
        for (const auto& entry : fs::recursive_directory_iterator(dir_.Path()))
            all += entry.path().string() + "=" + Read(entry.path().string()) + "\n";
        return all;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir_.Path());
        fs::create_directory(dir_.Path());
        const WorkingFileNames files = WorkingFileNames::In(c.prepare());
        const std::string before = snapshot();

        ScriptedMessages messages;
        auto* previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit small = saved;
        small.rlim_cur = 1000;
        if (c.sizeLimit) {
            ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        const bool ok = SaveSettingsOrTell(changed, files, messages);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);

        const bool failed = *c.cause != '\0';
        EXPECT_EQ(ok, !failed);
        if (!failed) {
            EXPECT_TRUE(messages.Shown.empty());
            EXPECT_EQ(Read(files.SettingsFile), SettingsFileText(changed));
            continue;
        }
        ASSERT_EQ(messages.Shown.size(), 1U);
        const std::string& told = messages.Shown[0];
        EXPECT_NE(told.find("could not be saved"), std::string::npos) << told;
        EXPECT_NE(told.find(files.SettingsFile), std::string::npos) << told;
        EXPECT_NE(told.find(c.cause), std::string::npos) << told;
        EXPECT_EQ(snapshot(), before) << "byte for byte, and no file left beside it";
    }
}

}  // namespace
}  // namespace quillon
