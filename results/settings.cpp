#include "results/settings.h"

#include <array>
#include <cfloat>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <optional>
#include <vector>

#include "platform/base64.h"
#include "platform/files.h"
#include "platform/number_format.h"
#include "results/archive_date.h"

namespace quillon {

namespace {

// The lines every settings file has; the history lines follow them.
constexpr std::size_t kSettingsLineCount = 26;
// The history filters, the window, the figures switch and the fetched source.
constexpr std::size_t kHistoryLineCount = kHistoryFilterCount + 3;
constexpr std::size_t kReadLineCount = kSettingsLineCount + kHistoryLineCount;
// Bytes kept of one settings line; the rest of a longer line is skipped, so a
// damaged file cannot make memory grow without bound.
constexpr std::size_t kMaxSettingsLineLength = 64 * 1024;
constexpr const char* kLineEnd = "\r\n";
// A save's temporary file older than this was left by a save that was killed;
// a save itself takes milliseconds.
constexpr std::chrono::seconds kLeftoverAge{60};

// Line numbers (0-based) of the settings file.
enum SettingsLine : std::size_t {
    kCredentialsLine = 0,
    kQuoteServerLine = 1,
    kInterestRateLine = 2,
    kFirstFilterLine = 3,
    kDeriveZorFromLine = kFirstFilterLine + kFilterCount,
    kSymbolFileLine,
    kLocalFileLine,
    kFirstHistoryFilterLine,
    kWindowWeeksLine = kFirstHistoryFilterLine + kHistoryFilterCount,
    kShowFiguresLine,
    kFetchSourceLine
};
static_assert(kLocalFileLine + 1 == kSettingsLineCount);
static_assert(kFetchSourceLine + 1 == kReadLineCount);

// ---- writing ----------------------------------------------------------------

// The fourth character of the Base64 credential text, then the text itself.
std::string CredentialsLine(const Settings& settings) {
    const std::string encoded = EncodeBase64(settings.UserName + ":" + settings.Password);
    return encoded.substr(3, 1) + encoded;  // at least "Og==": the colon is always there
}

// The rate in per cent, computed in double from the stored float.
std::string InterestRateLine(float rate) {
    return FormatPicture(static_cast<double>(rate) * 100.0, "0.####");
}

// ---- reading ----------------------------------------------------------------

// The lines of a settings file as read: at most 32, each without its line end
// (LF or CR LF) and cut to kMaxSettingsLineLength bytes. `readFailed` says the
// file could not be read past the lines held.
struct SettingsLines {
    std::vector<std::string> lines;
    bool readFailed = false;
};

// Appends a line taken from `bytes` (without its LF), dropping a final CR.
void AddLine(SettingsLines& out, std::string_view bytes) {
    if (!bytes.empty() && bytes.back() == '\r') bytes.remove_suffix(1);
    out.lines.emplace_back(bytes.substr(0, kMaxSettingsLineLength));
}

SettingsLines SplitSettingsLines(std::string_view text) {
    SettingsLines out;
    while (!text.empty() && out.lines.size() < kReadLineCount) {
        const std::size_t end = text.find('\n');
        AddLine(out, text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return out;
}

// Reads the first 32 lines of a file, keeping at most kMaxSettingsLineLength
// bytes of each; nothing when the file cannot be opened.
std::optional<SettingsLines> ReadSettingsLines(const std::string& name) {
    std::FILE* file = std::fopen(name.c_str(), "rb");
    if (file == nullptr) return std::nullopt;
    SettingsLines out;
    std::string line;
    bool inLine = false;  // bytes of an unfinished line have been read
    int c;
    while (out.lines.size() < kReadLineCount && (c = std::getc(file)) != EOF) {
        if (c == '\n') {
            AddLine(out, line);
            line.clear();
            inLine = false;
            continue;
        }
        inLine = true;
        // One byte beyond the cap is kept so that a line of exactly the cap
        // followed by CR LF loses its CR, as in SplitSettingsLines; AddLine
        // then cuts the line to the cap.
        if (line.size() <= kMaxSettingsLineLength) line.push_back(static_cast<char>(c));
    }
    if (inLine && out.lines.size() < kReadLineCount) AddLine(out, line);
    out.readFailed = std::ferror(file) != 0;
    std::fclose(file);
    return out;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsControl(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

// The token of a number line: leading blanks skipped, ended by the first
// blank or control character; the rest of the line does not count.
std::string_view NumberToken(std::string_view line) {
    std::size_t start = 0;
    while (start < line.size() && IsBlank(line[start]))
        ++start;
    std::size_t end = start;
    while (end < line.size() && !IsBlank(line[end]) && !IsControl(line[end]))
        ++end;
    return line.substr(start, end - start);
}

// A decimal 32-bit integer with an optional sign.
std::optional<int> ParseIntegerToken(std::string_view token) {
    if (!token.empty() && token.front() == '+') {
        token.remove_prefix(1);
        if (!token.empty() && token.front() == '-') return std::nullopt;  // "+-5"
    }
    int value = 0;
    const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
    if (error != std::errc() || end != token.data() + token.size()) return std::nullopt;
    return value;
}

// A per-cent figure as the stored fraction, kept within the range of a float.
float RateFromPercent(double percent) {
    double rate = percent * 0.01;
    if (rate > FLT_MAX) rate = FLT_MAX;
    if (rate < -FLT_MAX) rate = -FLT_MAX;
    return static_cast<float>(rate);
}

// Splits the decoded credentials at the first ":"; without one the whole text
// is the user name and the password is empty.
void LoadCredentials(Settings& settings, std::string_view line) {
    if (!line.empty()) line.remove_prefix(1);  // the copied fourth character
    const std::string decoded = DecodeBase64(line);
    const std::size_t colon = decoded.find(':');
    settings.UserName = decoded.substr(0, colon);
    settings.Password = colon == std::string::npos ? std::string() : decoded.substr(colon + 1);
}

// Reads the settings line by line into `settings`. A missing line counts as
// an empty text or the number 0. A number line that holds no number (an empty
// one included) stops the reading: the settings before it keep their new
// values, it and those after it keep their old ones.
class SettingsLoader {
  public:
    SettingsLoader(Settings& settings, const SettingsLines& lines)
        : settings_(settings), lines_(lines) {}

    bool Load() {
        // An empty file holds no settings at all (a save that never got to
        // write): it is a failed load, not a file of blank lines.
        if (lines_.lines.empty() || !Present(kCredentialsLine)) return false;
        LoadCredentials(settings_, Text(kCredentialsLine));
        if (!Integer(kQuoteServerLine, settings_.QuoteServer)) return false;
        double percent = 0;
        if (!Number(kInterestRateLine, percent)) return false;
        settings_.InterestRate = RateFromPercent(percent);
        for (std::size_t i = 0; i < kFilterCount; ++i) {
            if (!Present(kFirstFilterLine + i)) return false;
            settings_.Filters.Values[i] = FilterText(Text(kFirstFilterLine + i));
        }
        if (!Integer(kDeriveZorFromLine, settings_.Filters.DeriveZorFrom)) return false;
        if (!Present(kSymbolFileLine)) return false;
        settings_.SymbolFileName = Text(kSymbolFileLine);
        if (!Integer(kLocalFileLine, settings_.QuotesFromLocalFile)) return false;
        LoadHistory();
        return true;
    }

  private:
    // The lines after the 26: a missing or unreadable one gives its default,
    // a window other than 13 or 26 weeks gives 52, and any figures number
    // other than 0 turns the figures on.
    void LoadHistory() {
        HistorySettings& h = settings_.History;
        for (std::size_t i = 0; i < kHistoryFilterCount; ++i)
            h.*kHistoryFilters[i].Value = FilterText(Text(kFirstHistoryFilterLine + i));
        int weeks = 52;
        if (!Integer(kWindowWeeksLine, weeks)) weeks = 52;
        h.WindowWeeks = SaneWindowWeeks(weeks);
        int figures = 0;
        if (!Integer(kShowFiguresLine, figures)) figures = 0;
        h.ShowFigures = figures != 0;
        int source = 0;
        if (!Integer(kFetchSourceLine, source)) source = 0;
        settings_.FetchSource = source;
        if (!settings_.Fetched()) settings_.FetchSource = 0;
    }

    // A line is missing when the file ended before it; it is absent (and the
    // reading fails) when the file could not be read that far.
    bool Missing(std::size_t line) const { return line >= lines_.lines.size(); }
    bool Present(std::size_t line) const { return !Missing(line) || !lines_.readFailed; }
    std::string Text(std::size_t line) const {
        return Missing(line) ? std::string() : lines_.lines[line];
    }

    // A filter line is kept as text; an empty line is an empty value.
    static FilterValue FilterText(std::string text) {
        return text.empty() ? FilterValue() : FilterValue::Text(std::move(text));
    }

    // A number line: `parse` reads its number token into `target`, a missing
    // line reads as 0, and a line that holds no number fails and leaves
    // `target` as it was.
    template <typename T>
    bool NumberLine(std::size_t line, T& target,
                    std::optional<T> (*parse)(std::string_view)) const {
        if (!Present(line)) return false;
        if (Missing(line)) {
            target = 0;
            return true;
        }
        const std::optional<T> value = parse(NumberToken(lines_.lines[line]));
        if (!value) return false;
        target = *value;
        return true;
    }

    bool Integer(std::size_t line, int& target) const {
        return NumberLine(line, target, ParseIntegerToken);
    }
    bool Number(std::size_t line, double& target) const {
        return NumberLine(line, target, ParseDecimalNumber);
    }

    Settings& settings_;
    const SettingsLines& lines_;
};

void SetRunTimeValues(RunTimeValues& runtime) {
    runtime.TickerText = kDefaultTickerText;
    runtime.SymbolsLoaded = false;
    runtime.RestartPending = false;
}

}  // namespace

WorkingFileNames WorkingFileNames::In(const std::string& directory) {
    const std::string prefix =
        !directory.empty() && directory.back() == '/' ? directory : directory + "/";
    WorkingFileNames names;
    names.WorkingDirectory = directory;
    names.DefaultSymbolFile = prefix + "Symbols.sym";
    names.TempFile = prefix + "QUIL---.tmp";
    names.ResultsFile = prefix + "Results.txt";
    names.ResultsBackup = prefix + "Results.bak";
    names.SavedSymFile = prefix + "SavedSym.txt";
    names.SavedSymBackup = prefix + "SavedSym.bak";
    names.GoodSymFile = prefix + "GoodSym.txt";
    names.BadSymFile = prefix + "BadSym.txt";
    names.UpSymFile = prefix + "UpSym.txt";
    names.DownSymFile = prefix + "DownSym.txt";
    names.ProgressFile = prefix + "Progress.---";
    names.SettingsFile = prefix + "Quillon.---";
    names.QuoteFile = prefix + "Quote.txt";
    names.QuoteBackup = prefix + "Quote.bak";
    names.AscQuoteFile = prefix + "AscQuote.txt";
    names.AscQuoteBackup = prefix + "AscQuote.bak";
    names.QuoteDateFile = prefix + kArchiveDateFile;
    names.QuoteDateBackup = prefix + "QuoteDate.bak";
    names.AboutFile = prefix + "About.txt";
    names.TokenFile = prefix + kTokenFile;
    return names;
}

void SetDefaultServer(Settings& settings) {
    settings.QuoteServer = 0;
    settings.UserName = kDefaultUserName;
    settings.Password = kDefaultPassword;
}

namespace {
constexpr std::array<const char*, kQuoteSources> kSourceNames{"server", "local", "exchange",
                                                              "tradier"};
constexpr std::array<const char*, kQuoteSources> kSourceTitles{
    "the quote server", "the local quote archive", "the exchange's delayed quotes", "Tradier"};
}  // namespace

const char* QuoteSourceName(QuoteSource source) {
    return kSourceNames[static_cast<std::size_t>(source)];
}

const char* QuoteSourceTitle(QuoteSource source) {
    return kSourceTitles[static_cast<std::size_t>(source)];
}

std::optional<QuoteSource> QuoteSourceNamed(std::string_view name) {
    for (std::size_t i = 0; i < kSourceNames.size(); ++i) {
        if (name == kSourceNames[i]) return static_cast<QuoteSource>(i);
    }
    return std::nullopt;
}

void SetDefaultSettings(Settings& settings) {
    settings.QuotesFromLocalFile = 0;
    settings.FetchSource = 0;
    SetDefaultServer(settings);
    settings.InterestRate = kDefaultInterestRate;
    SetDefaultFilters(settings.Filters);
    settings.History = HistorySettings();
}

std::string SettingsFileText(const Settings& settings) {
    std::string text;
    auto line = [&text](const std::string& content) { text += content + kLineEnd; };
    line(CredentialsLine(settings));
    line(std::to_string(settings.QuoteServer));
    line(InterestRateLine(settings.InterestRate));
    for (const FilterValue& value : settings.Filters.Values)
        line(value.ToText());
    line(std::to_string(settings.Filters.DeriveZorFrom));
    line(settings.SymbolFileName);
    line(std::to_string(settings.QuotesFromLocalFile));
    const HistorySettings& h = settings.History;
    if (h.IsDefault() && !settings.Fetched()) return text;
    for (const HistoryFilter& filter : kHistoryFilters)
        line(HistoryFilterText(h.*filter.Value));
    line(std::to_string(SaneWindowWeeks(h.WindowWeeks)));
    line(h.ShowFigures ? "1" : "0");
    if (settings.Fetched()) line(std::to_string(settings.FetchSource));
    return text;
}

bool SaveSettings(const Settings& settings, const WorkingFileNames& files) {
    // Written whole to a temporary file and renamed over the old one, so that
    // a failed save leaves the previous settings file intact; owner-only since
    // the file holds the quote-server password.
    return ReplaceFileAtomically(files.SettingsFile, SettingsFileText(settings), true);
}

bool LoadSettingsText(Settings& settings, std::string_view text) {
    return SettingsLoader(settings, SplitSettingsLines(text)).Load();
}

bool LoadSettings(Settings& settings, const WorkingFileNames& files) {
    const std::optional<SettingsLines> lines = ReadSettingsLines(files.SettingsFile);
    if (!lines) return false;
    return SettingsLoader(settings, *lines).Load();
}

void InitWorkingFilesIn(const std::string& directory, Settings& settings, RunTimeValues& runtime,
                        WorkingFileNames& files) {
    SetRunTimeValues(runtime);
    files = WorkingFileNames::In(directory);
    settings.SymbolFileName = files.DefaultSymbolFile;  // until the stored one is loaded
    runtime.ProgramVersion = kProgramVersion;
    // Temporary files of saves that were killed hold the password; those of a
    // save that another running program may be doing now are spared.
    RemoveLeftoverTemporaries(files.SettingsFile, kLeftoverAge);
    // About.txt asks for a fresh start: the settings go back to their defaults.
    if (FileExists(files.AboutFile)) {
        DeleteFileQuietly(files.AboutFile);
        DeleteFileQuietly(files.SettingsFile);
    }
    // An empty settings file holds nothing to load: it is treated as missing.
    if (QueryFileSize(files.SettingsFile) <= 0) {
        SetDefaultSettings(settings);
        SaveSettings(settings, files);
    }
    LoadSettings(settings, files);  // a failed load keeps what was read so far
}

void InitWorkingFiles(Settings& settings, RunTimeValues& runtime, WorkingFileNames& files) {
    InitWorkingFilesIn(CurrentDirectory(), settings, runtime, files);
}

}  // namespace quillon
