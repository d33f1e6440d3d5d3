#pragma once
// The settings that persist between runs, the run-time values set at
// start-up, the working-file names, and the settings file Quillon.---.

#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "analytics/filters.h"
#include "analytics/iv_history.h"

namespace quillon {

inline constexpr const char* kDefaultUserName = "guest";
inline constexpr const char* kDefaultPassword = "lantern4";
inline constexpr const char* kDefaultTickerText =
    "IBM 124 5/8 - 2 1/16 MSFT 105 3/8 + 7/16 INTC 83 + 0 GE 77 7/8 - 3/8 ";
inline constexpr float kProgramVersion = 1.96f;
// The risk-free interest rate per year, as a fraction, when none is set or
// the one set is out of reason.
inline constexpr float kDefaultInterestRate = 0.05f;

// The IV rank and IV percentile filters and the "history figures" switch.
// They are kept after the 26 lines of the settings file, and only when one
// differs from its default, so that a file without them is today's file and
// a build that reads only the 26 lines takes a file with them unchanged.
struct HistorySettings {
    FilterValue MinIvRank, MaxIvRank;              // IV rank, 0 to 100
    FilterValue MinIvPercentile, MaxIvPercentile;  // IV percentile, 0 to 100
    int WindowWeeks = 52;                          // 13, 26 or 52
    bool ShowFigures = false;  // the report's history line without a filter in use

    bool FiltersInUse() const;
    // The report and summary show the history figures, and the evaluation
    // needs the history.
    bool Needed() const { return FiltersInUse() || ShowFigures; }
    // Nothing to keep in the settings file.
    bool IsDefault() const { return !Needed() && WindowWeeks == 52; }
    // The days of the window, 63, 126 or 252: the last recorded days with an
    // IV30, today's included.
    int WindowDays() const { return WindowWeeks * 252 / 52; }
};

// One filter of where the day's IV30 stands in its own history: a minimum
// or a maximum of one figure of IvStanding.
struct HistoryFilter {
    // "MinIvRank": the name the back-test's --filter takes and its report
    // shows, the failed test a rejected stock names, and, after "TX_", the
    // dialog's edit.
    const char* Name;
    FilterValue HistorySettings::*Value;
    std::optional<double> IvStanding::*Figure;
    bool Maximum;
    const char* RowLabel;  // the dialog's row, its maximum and minimum side by side
};

// Every such filter, in the order of the settings file's lines after the 26,
// of the AND group's tests and of every text that lists them. The settings
// file, the screen, the filter dialog, the back-test's --filter and report
// and the recorded filter text all go through this table.
inline constexpr HistoryFilter kHistoryFilters[] = {
    {"MinIvRank", &HistorySettings::MinIvRank, &IvStanding::Rank, false, "IV Rank"},
    {"MaxIvRank", &HistorySettings::MaxIvRank, &IvStanding::Rank, true, "IV Rank"},
    {"MinIvPercentile", &HistorySettings::MinIvPercentile, &IvStanding::Percentile, false,
     "IV Percentile"},
    {"MaxIvPercentile", &HistorySettings::MaxIvPercentile, &IvStanding::Percentile, true,
     "IV Percentile"},
};
inline constexpr std::size_t kHistoryFilterCount = std::size(kHistoryFilters);

inline bool HistorySettings::FiltersInUse() const {
    for (const HistoryFilter& filter : kHistoryFilters) {
        if ((this->*filter.Value).InUse()) return true;
    }
    return false;
}

// The IV filters "NA" (unused), as every template leaves them; the window
// and the figures switch stay.
inline void ClearHistoryFilters(HistorySettings& history) {
    for (const HistoryFilter& filter : kHistoryFilters)
        history.*filter.Value = FilterValue::Text("NA");
}

// A history filter's value as the settings file and the recorded filter
// text keep it: "NA" when unset.
inline std::string HistoryFilterText(const FilterValue& value) {
    return value.IsEmpty() ? std::string("NA") : value.ToText();
}

// 13, 26 or 52 stand; anything else gives 52.
inline int SaneWindowWeeks(int weeks) {
    return weeks == 13 || weeks == 26 ? weeks : 52;
}

// Where the scan takes its quotes from: the quote server, the local quote
// archive, or a market-data service it fetches whole chains from.
enum class QuoteSource { Server, Local, Exchange, Tradier };
inline constexpr int kQuoteSources = 4;
// "server", "local", "exchange", "tradier": the names quillon-scan's --source takes.
const char* QuoteSourceName(QuoteSource source);
std::optional<QuoteSource> QuoteSourceNamed(std::string_view name);
// The service in words, for messages: "the exchange's delayed quotes", "Tradier".
const char* QuoteSourceTitle(QuoteSource source);

struct Settings {
    std::string UserName = kDefaultUserName;
    std::string Password = kDefaultPassword;
    int QuoteServer = 0;                        // 0 delayed-quote host, 1 real-time-quote host
    float InterestRate = kDefaultInterestRate;  // a fraction: 0.05 is 5 %
    FilterSettings Filters;                     // the 20 filter values and DeriveZorFrom
    std::string SymbolFileName;                 // full path
    int QuotesFromLocalFile = 0;                // any value other than 0: the local quote file
    HistorySettings History;                    // IV rank and percentile filters
    // A service the chains are fetched from (2 the exchange, 3 Tradier), kept
    // on the line after the history lines; any other value leaves the source
    // to QuotesFromLocalFile. A build that reads only the 26 lines sees a
    // fetched source as the quote server.
    int FetchSource = 0;

    bool LocalMode() const { return QuotesFromLocalFile != 0 && !Fetched(); }
    bool Fetched() const {
        return FetchSource == static_cast<int>(QuoteSource::Exchange) ||
               FetchSource == static_cast<int>(QuoteSource::Tradier);
    }
    QuoteSource Source() const {
        if (Fetched()) return static_cast<QuoteSource>(FetchSource);
        return QuotesFromLocalFile != 0 ? QuoteSource::Local : QuoteSource::Server;
    }
    void SetSource(QuoteSource source) {
        QuotesFromLocalFile = source == QuoteSource::Local ? 1 : 0;
        FetchSource = source == QuoteSource::Exchange || source == QuoteSource::Tradier
                          ? static_cast<int>(source)
                          : 0;
    }
};

// Values set at start-up and never stored.
struct RunTimeValues {
    std::string TickerText = kDefaultTickerText;
    float ProgramVersion = kProgramVersion;
    bool SymbolsLoaded = false;
    bool RestartPending = false;
};

// The Tradier access token's store in the working directory, owner-only.
inline constexpr const char* kTokenFile = "Tradier.---";

// Full names of the working files, built by InitWorkingFiles.
struct WorkingFileNames {
    std::string WorkingDirectory;
    std::string DefaultSymbolFile;  // working directory + "/Symbols.sym"
    std::string TempFile;           // QUIL---.tmp
    std::string ResultsFile;        // Results.txt
    std::string ResultsBackup;      // Results.bak
    std::string SavedSymFile;       // SavedSym.txt
    std::string SavedSymBackup;     // SavedSym.bak
    std::string GoodSymFile;        // GoodSym.txt
    std::string BadSymFile;         // BadSym.txt
    std::string UpSymFile;          // UpSym.txt
    std::string DownSymFile;        // DownSym.txt
    std::string ProgressFile;       // Progress.---
    std::string SettingsFile;       // Quillon.---
    std::string QuoteFile;          // Quote.txt
    std::string QuoteBackup;        // Quote.bak
    std::string AscQuoteFile;       // AscQuote.txt
    std::string AscQuoteBackup;     // AscQuote.bak
    std::string QuoteDateFile;      // QuoteDate.txt: the date Quote.txt's quotes are of
    std::string QuoteDateBackup;    // QuoteDate.bak: the date of Quote.bak
    std::string AboutFile;          // About.txt
    std::string TokenFile;          // Tradier.---

    // All names in `directory` (no trailing "/").
    static WorkingFileNames In(const std::string& directory);
};

// A rate from 0 to 3 (300 %) stands; anything else, NaN included, gives the
// default.
inline float SaneInterestRate(float rate) {
    return rate >= 0 && rate <= 3 ? rate : kDefaultInterestRate;
}

void SetDefaultServer(Settings& settings);
// Everything but SymbolFileName back to its default.
void SetDefaultSettings(Settings& settings);

// The exact text of the settings file, CR LF line ends: 26 lines, then, when
// the history settings are not all at their defaults, six more (IV rank min
// and max, IV percentile min and max, window weeks, history figures 0 or 1).
std::string SettingsFileText(const Settings& settings);

// Writes the settings file, replacing it atomically with owner-only
// permissions; returns false (and leaves the old file) on failure.
bool SaveSettings(const Settings& settings, const WorkingFileNames& files);

// Reads the settings file into `settings`; false when it is missing, empty or
// unreadable, or a number line holds no number (settings read before that
// line keep their new values). A file shorter than 26 lines is not a failure
// unless it is empty. Missing history lines give the defaults (filters
// unused, 52 weeks, figures off); they never fail the load.
bool LoadSettings(Settings& settings, const WorkingFileNames& files);
// The same from the file's text.
bool LoadSettingsText(Settings& settings, std::string_view text);

// The start-up step: run-time values, working-file names in the current
// directory, temporary files of killed saves removed (those under a minute
// old are spared), the About.txt rule, a default settings file when none
// exists or it is empty, then the settings are loaded.
void InitWorkingFiles(Settings& settings, RunTimeValues& runtime, WorkingFileNames& files);
// The same with `directory` (no trailing "/") as the working directory.
void InitWorkingFilesIn(const std::string& directory, Settings& settings, RunTimeValues& runtime,
                        WorkingFileNames& files);

}  // namespace quillon
