// quillon-scan: the headless runner. It does the program's start-up in the
// current directory, opens a scan as the scan window would, presses Go, and
// steps the scan until the pass is done.

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "analytics/filters.h"
#include "apps/command_line.h"
#include "fetch/chain_fetcher.h"
#include "platform/clock.h"
#include "platform/workdir.h"
#include "results/archive_date.h"
#include "results/shell_rules.h"
#include "results/token_store.h"
#include "scan/context.h"
#include "scan/quote_requests.h"
#include "scan/scan_command.h"
#ifdef QUILLON_TEST_FAULTS
#include "tests/support/history_faults.h"
#endif

namespace {

using namespace quillon;

// Up to the --help and --version lines.
const char* kUsageStart =
    "Usage: quillon-scan [OPTION]...\n"
    "\n"
    "Runs one scan pass over the symbol file in the working directory (the\n"
    "current directory unless told otherwise) exactly as the desktop\n"
    "program's scan window does: start-up (settings file, working-file\n"
    "names), then Go, until the pass is done. Quotes come from the quote\n"
    "server or from the local quote archive Quote.txt, as the settings file\n"
    "says (or --local and --server). A new working directory that holds a\n"
    "Quote.txt but no settings file yet is scanned from Quote.txt. Alarm and\n"
    "Repeat are off.\n"
    "\n"
    "The options that set up the scan save their setting in the settings\n"
    "file Quillon.--- (the quote hosts in QuoteHosts.txt) as the desktop\n"
    "program's menus and dialogs do: the next run and the desktop program\n"
    "keep them.\n"
    "\n"
    "A local scan runs as of the date recorded in QuoteDate.txt beside\n"
    "Quote.txt (quillon-import writes it), or as of today without one;\n"
    "--date overrides both.\n"
    "\n"
    "  --workdir DIR           work in DIR, created when missing, instead of\n"
    "                          the current directory\n"
    "  --user-workdir          work in the desktop program's per-user\n"
    "                          directory, $XDG_DATA_HOME/quillon\n"
    "                          (~/.local/share/quillon by default)\n"
    "  --source SOURCE         where the quotes come from, saved as the choice:\n"
    "                          server  the quote server\n"
    "                          local   the local quote archive Quote.txt\n"
    "                          exchange  the exchange's delayed quotes (no\n"
    "                                  key; about 15 minutes delayed; for\n"
    "                                  personal, non-commercial use)\n"
    "                          tradier  Tradier's market data (an account's\n"
    "                                  access token; 120 requests a minute)\n"
    "                          Whole chains are fetched over HTTPS; a pass\n"
    "                          writes Quote.txt as a server pass does\n"
    "  --local, --server       the same as --source local, --source server\n"
    "  --token-file FILE       Tradier's access token: the first line of FILE,\n"
    "                          or of standard input when FILE is -; without it\n"
    "                          the environment variable QUILLON_TRADIER_TOKEN\n"
    "                          gives it. It is kept in Tradier.--- (readable\n"
    "                          by you alone); a token on the command line is\n"
    "                          refused\n"
    "  --ca-file FILE          trust the certificate authority of FILE (PEM)\n"
    "                          besides the system's, for a mirror or a test\n"
    "                          server; certificates are always verified\n"
    "  --connections N         requests in flight at most (1 to 16, default 4)\n"
    "  --source-url URL        the service's base address instead of its own\n"
    "                          (https://HOST[:PORT]), a mirror or a test server\n"
    "  --rate N                requests started a second at most (default: the\n"
    "                          exchange 5, Tradier 2, which is its 120 a\n"
    "                          minute); more for a mirror or a test server\n"
    "  --hosts HOST[:PORT][,HOST[:PORT]]\n"
    "                          the delayed-quote host, then the real-time-quote\n"
    "                          host (one named serves both; the port is 80\n"
    "                          unless given), written to QuoteHosts.txt\n"
    "  --symbol-file FILE      scan the symbols of FILE (a relative name is\n"
    "                          taken from the current directory)\n"
    "  --template N|NAME       apply a filter template, by its number or its\n"
    "                          name in any case (see below), as the filter\n"
    "                          dialog's Use Template does\n"
    "  --user NAME             the user name of the quote-server account\n"
    "  --password-file FILE    the quote-server password: the first line of\n"
    "                          FILE, or of standard input when FILE is -;\n"
    "                          without it the environment variable\n"
    "                          QUILLON_PASSWORD gives it. A password on the\n"
    "                          command line is refused: other users can read\n"
    "                          it there\n"
    "  --date YYYY-MM-DD       scan as of this date: the option months, the\n"
    "                          days to expiration and the report's date come\n"
    "                          from it (the time of day stays the clock's); a\n"
    "                          server pass records it in QuoteDate.txt beside\n"
    "                          the Quote.txt it writes\n"
    "  --realtime              step on the 55 ms clock like the desktop\n"
    "                          program; by default work is stepped back to\n"
    "                          back, and only the waits for the network keep\n"
    "                          their real length\n"
    "  --give-up-after MINUTES\n"
    "                          end the run when no symbol has been finished\n"
    "                          for this many minutes (default 30, fractions\n"
    "                          allowed; 0 waits for ever); the resume point is\n"
    "                          kept, so the next run continues the pass\n"
    "  --wait                  when another scan works in the directory, wait\n"
    "                          for it to end instead of stopping at once\n";
// After the --help and --version lines.
const char* kUsageMiddle =
    "\n"
    "Figures of each source: the quote server and the local archive give every\n"
    "figure the filters test. The exchange's delayed quotes give no P/E, market\n"
    "cap, volatility of the quote, dividend yield or 52-week range; Tradier has\n"
    "the 52-week range but none of the others. A scan of a service with a\n"
    "filter on a figure it lacks is refused before it starts.\n"
    "\n"
    "Filter templates:\n";
// After the list of the templates.
const char* kUsageEnd =
    "\n"
    "Exit status:\n"
    "  0   the pass is done\n"
    "  2   the scan cannot start: the symbol file is missing, empty or\n"
    "      unreadable, the working directory cannot be made, entered or\n"
    "      locked, Tradier has no access token, or a filter tests a figure\n"
    "      the source does not give\n"
    "  3   no connection to the quote server was made within the first\n"
    "      time-out (60 seconds) of the run, or the market-data service gave\n"
    "      no answer (or a certificate that is not trusted) before any symbol\n"
    "  4   the quote server refused the user name or password, or Tradier the\n"
    "      access token; nothing of the refused symbol was written\n"
    "  5   gave up: no symbol was finished for --give-up-after minutes\n"
    "  6   a working file could not be written (a full disk, or a directory\n"
    "      that may not be written); the message says what the next run does:\n"
    "      the symbol being written is left out whole and done again, or the\n"
    "      symbols after the last resume point written are, or, when only the\n"
    "      end of the pass could not be written, the pass is ended\n"
    "  7   another scan works in the directory (the desktop program's scan\n"
    "      window or another quillon-scan; it is named): one scan at a time\n"
    "      works in a directory, and nothing was touched\n"
    "  64  a bad argument: an unknown option or template, a host or port that\n"
    "      is not one, a file that cannot be read, a password on the command\n"
    "      line, or a date that is not a real YYYY-MM-DD; nothing was saved\n"
    "In every case but 0 the resume point is kept and the next run\n"
    "continues where this one stopped.\n";

// The --help text.
std::string UsageText() {
    return kUsageStart + HelpAndVersionLines(26) + kUsageMiddle + FilterTemplateList() + kUsageEnd;
}

// The minutes of --give-up-after (fractions allowed), or nothing when the
// text is not a number from 0 to a year.
std::optional<double> ParseMinutes(const char* text) {
    char* end = nullptr;
    errno = 0;
    double minutes = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !(minutes >= 0 && minutes <= 525600)) {
        return std::nullopt;
    }
    return minutes;
}

// Longest user name or password taken: the settings file keeps the two in one
// line of limited length.
constexpr std::size_t kMaxCredentialBytes = 4096;

// The first line of `file` without its line end (LF or CR LF); nothing, with
// `error` set, when it cannot be read or is too long.
std::optional<std::string> ReadFirstLine(std::FILE* file, const char* what, std::string& error) {
    std::string line;
    int c;
    while ((c = std::getc(file)) != EOF && c != '\n') {
        if (line.size() == kMaxCredentialBytes) {
            error = std::string(what) + " is longer than 4096 bytes";
            return std::nullopt;
        }
        line.push_back(static_cast<char>(c));
    }
    if (std::ferror(file) != 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// The secret of --password-file or --token-file (`what`: "the password"):
// the first line of the file, or of standard input for "-". A terminal is
// asked (`prompt`) without echoing what is typed.
std::optional<std::string> ReadSecret(const std::string& name, const char* what, const char* prompt,
                                      std::string& error) {
    if (name != "-") {
        std::FILE* file = std::fopen(name.c_str(), "rb");
        if (file == nullptr) {
            error = "cannot read " + name + ": " + std::strerror(errno);
            return std::nullopt;
        }
        std::optional<std::string> line = ReadFirstLine(file, what, error);
        std::fclose(file);
        if (!line) error = "cannot read " + name + ": " + error;
        return line;
    }
    termios saved{};
    const bool terminal = isatty(STDIN_FILENO) != 0 && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        std::fputs(prompt, stderr);
    }
    std::optional<std::string> line = ReadFirstLine(stdin, what, error);
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    if (!line) error = "cannot read the standard input: " + error;
    return line;
}

// The full name of a symbol file named on the command line, as the file
// chooser gives it: a relative name is taken from the current directory.
// Nothing, with `error` set, when it is no file that can be read or cannot
// be kept in the settings file (one line).
std::optional<std::string> SymbolFileChoice(const std::string& name, std::string& error) {
    if (name.empty() || name.find_first_of("\r\n") != std::string::npos) {
        error = "'" + name + "' cannot be kept in the settings file";
        return std::nullopt;
    }
    std::error_code ignored;
    const std::string full = std::filesystem::absolute(name, ignored).lexically_normal().string();
    const int fd = ::open(full.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot read " + full + ": " + std::strerror(errno);
        return std::nullopt;
    }
    struct stat status {};
    const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    ::close(fd);
    if (!regular) {
        error = full + " is not a file";
        return std::nullopt;
    }
    return full;
}

// "1 symbol" or "3 symbols".

#ifdef QUILLON_TEST_FAULTS
// Fault points of the test build, for the tests that kill a scan in the
// middle of writing or make its writes fail: the Nth write of the pass output
// (counted from 1) kills the process, or fails as on a full disk. With
// QUILLON_TEST_COMMIT_EACH every symbol's resume point is committed at once,
// so that kills land between commits as they do in a slow server pass.
void InstallTestFaults(PassOutputFiles& outputs) {
    testing::InstallHistoryFaults();
    outputs.SyncData = [](const std::string&, int fd) {
        testing::CountSync();
        return ::fdatasync(fd);
    };
    if (std::getenv("QUILLON_TEST_COMMIT_EACH") != nullptr) outputs.CommitInterval = {};
    const char* kill = std::getenv("QUILLON_TEST_KILL_AT_WRITE");
    const char* fail = std::getenv("QUILLON_TEST_FAIL_AT_WRITE");
    if (kill == nullptr && fail == nullptr) return;
    const long killAt = kill != nullptr ? std::atol(kill) : 0;
    const long failAt = fail != nullptr ? std::atol(fail) : 0;
    // The errno value of the failing writes: a full disk unless told.
    const char* with = std::getenv("QUILLON_TEST_FAIL_ERRNO");
    const int error = with != nullptr ? std::atoi(with) : ENOSPC;
    outputs.BeforeWrite = [killAt, failAt, error, count = 0L](const std::string&) mutable {
        ++count;
        if (count == killAt) std::raise(SIGKILL);
        return count >= failAt && failAt > 0 ? error : 0;
    };
}
#endif

using fetch::FetchChoices;

constexpr int kMostConnections = 16;

// The files the password and the token are read from.
struct SecretFiles {
    std::optional<std::string> passwordFile;
    std::optional<std::string> tokenFile;
};

// Takes the value of the current option into `options`: the exit status of
// a bad one (said), or nothing. Every setup value is checked here, before
// anything is written.
std::optional<int> TakeValue(CommandLine& line, ScanCommand& options, FetchChoices& fetch,
                             SecretFiles& secrets) {
    const std::optional<std::string> given = line.Value();
    if (!given) return line.MissingValue();
    const std::string& value = *given;
    std::string error;
    if (line.Is("--give-up-after")) {
        std::optional<double> minutes = ParseMinutes(value.c_str());
        if (!minutes) return line.Usage("--give-up-after takes minutes, not '" + value + "'");
        options.giveUpMinutes = *minutes;
    } else if (line.Is("--date")) {
        // Exactly YYYY-MM-DD, so that no day and month are swapped.
        const std::optional<CivilDay> day = DateArgument(value);
        options.date =
            day ? std::optional<DateTime>(DateTime{day->Year, day->Month, day->Day}) : std::nullopt;
        if (!options.date)
            return line.Usage("--date takes a date as YYYY-MM-DD, not '" + value + "'");
    } else if (line.Is("--hosts")) {
        options.hosts = ParseHostList(value, error);
        if (!options.hosts) return line.Usage("--hosts " + error);
    } else if (line.Is("--symbol-file")) {
        options.symbolFile = SymbolFileChoice(value, error);
        if (!options.symbolFile) return line.Usage("--symbol-file: " + error);
    } else if (line.Is("--template")) {
        options.filterTemplate = FindFilterTemplate(value);
        if (!options.filterTemplate) return line.Usage(NoSuchTemplateText(value));
    } else if (line.Is("--user")) {
        // The settings file keeps "name:password": a colon would end the
        // name there when it is read back.
        if (value.find(':') != std::string::npos || value.size() > kMaxCredentialBytes)
            return line.Usage("--user takes a name without a colon, of at most 4096 bytes");
        options.userName = value;
    } else if (line.Is("--source")) {
        const std::optional<QuoteSource> source = QuoteSourceNamed(value);
        if (!source) {
            return line.Usage("--source takes server, local, exchange or tradier, not '" + value +
                              "'");
        }
        if (options.source && *options.source != *source)
            return line.Usage("--source names one source");
        options.source = source;
    } else if (line.Is("--ca-file")) {
        std::FILE* file = std::fopen(value.c_str(), "rb");
        if (file == nullptr)
            return line.Usage("--ca-file: cannot read " + value + ": " + std::strerror(errno));
        std::fclose(file);
        fetch.caFile = std::filesystem::absolute(value).string();
    } else if (line.Is("--connections")) {
        int count = 0;
        const auto [end, failed] =
            std::from_chars(value.data(), value.data() + value.size(), count);
        if (failed != std::errc() || end != value.data() + value.size() || count < 1 ||
            count > kMostConnections)
            return line.Usage("--connections takes a number from 1 to 16, not '" + value + "'");
        fetch.connections = count;
    } else if (line.Is("--source-url")) {
        std::string url = value;
        if (!fetch::CheckBaseUrl(url, error)) return line.Usage("--source-url: " + error);
        fetch.sourceUrl = fetch::TrimBaseUrl(url);
    } else if (line.Is("--rate")) {
        char* end = nullptr;
        const double rate = std::strtod(value.c_str(), &end);
        if (value.empty() || *end != '\0' || !(rate > 0 && rate <= 10000))
            return line.Usage("--rate takes requests a second, more than 0, not '" + value + "'");
        fetch.rate = rate;
    } else if (line.Is("--token-file")) {
        secrets.tokenFile = value;
    } else {
        secrets.passwordFile = value;
    }
    return std::nullopt;
}

// The password of --password-file, or else of the environment: the exit
// status of one that cannot be read (said), or nothing.
std::optional<int> TakePassword(const CommandLine& line, const SecretFiles& secrets,
                                ScanCommand& options) {
    if (secrets.tokenFile || std::getenv(kScanTokenVariable) != nullptr) {
        std::string error;
        std::optional<std::string> token;
        if (secrets.tokenFile) {
            token = ReadSecret(*secrets.tokenFile, "the token", "Tradier access token: ", error);
            if (!token) return line.Usage("--token-file: " + error);
        } else if (*std::getenv(kScanTokenVariable) != '\0') {
            token = std::getenv(kScanTokenVariable);
        }
        // The token itself is never repeated.
        if (token && !TokenCanBeKept(*token)) {
            return line.Usage(std::string(secrets.tokenFile ? "--token-file" : kScanTokenVariable) +
                              ": the token must be one word of printable characters, of at "
                              "most 4096 bytes");
        }
        options.token = token;
    }
    const std::optional<std::string>& file = secrets.passwordFile;
    if (file) {
        std::string error;
        options.password = ReadSecret(*file, "the password", "Quote-server password: ", error);
        if (!options.password) return line.Usage("--password-file: " + error);
    } else if (const char* fromEnvironment = std::getenv(kScanPasswordVariable);
               fromEnvironment != nullptr && *fromEnvironment != '\0') {
        if (std::strlen(fromEnvironment) > kMaxCredentialBytes)
            return line.Usage(std::string(kScanPasswordVariable) +
                              ": the password is longer than 4096 bytes");
        options.password = fromEnvironment;
    }
    return std::nullopt;
}

// Reads the arguments into `options`: nothing to go on, otherwise the exit
// status (the message said).
std::optional<int> ParseArguments(CommandLine& line, ScanCommand& options, FetchChoices& fetch) {
    SecretFiles secrets;
    while (line.Next()) {
        const std::string_view arg = line.Arg();
        if (arg == "--token" || arg.starts_with("--token=")) {
            return line.Usage(std::string("a token on the command line is refused: other users "
                                          "can read a program's command line (ps, /proc). Give "
                                          "it with --token-file FILE, with --token-file - on "
                                          "standard input, or in the environment variable ") +
                              kScanTokenVariable + ".");
        }
        if (arg == "--password" || arg.starts_with("--password=")) {
            // The password itself is never repeated.
            return line.Usage(std::string("a password on the command line is refused: other "
                                          "users can read a program's command line (ps, "
                                          "/proc). Give it with --password-file FILE, with "
                                          "--password-file - on standard input, or in the "
                                          "environment variable ") +
                              kScanPasswordVariable + ".");
        }
        if (line.Is("--wait") || line.Is("--realtime")) {
            (line.Is("--wait") ? options.wait : options.realtime) = true;
        } else if (line.Is("--local") || line.Is("--server")) {
            const QuoteSource wanted =
                line.Is("--local") ? QuoteSource::Local : QuoteSource::Server;
            if (options.source && *options.source != wanted) {
                const bool both =
                    *options.source == QuoteSource::Local || *options.source == QuoteSource::Server;
                return line.Usage(both ? "--local and --server exclude each other"
                                       : "--local, --server and --source name one source");
            }
            options.source = wanted;
        } else if (line.Is("--give-up-after") || line.Is("--date") || line.Is("--hosts") ||
                   line.Is("--symbol-file") || line.Is("--template") || line.Is("--user") ||
                   line.Is("--password-file") || line.Is("--source") || line.Is("--ca-file") ||
                   line.Is("--connections") || line.Is("--source-url") || line.Is("--rate") ||
                   line.Is("--token-file")) {
            if (const std::optional<int> status = TakeValue(line, options, fetch, secrets))
                return status;
        } else {
            return line.Usage("unknown argument '" + std::string(arg) + "'");
        }
    }
    if (const std::optional<int> status = line.End()) return status;
    return TakePassword(line, secrets, options);
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine line("quillon-scan", argc, argv, UsageText());
    line.TakeWorkdir();
    ScanCommand options;
    FetchChoices fetch;
    if (const std::optional<int> status = ParseArguments(line, options, fetch)) return *status;
    if (!line.Workdir().empty()) {
        const std::string error = EnterWorkingDirectory(line.Workdir());
        if (!error.empty()) return line.Fail(error, kExitCannotStart);
    }

    HeadlessRun run;
    run.Realtime = options.realtime;
    run.GiveUpMinutes = options.giveUpMinutes;
    run.MakeChainSource = [&fetch](const Context& context, std::string& error) {
        return fetch::ChainSourceFor(context, fetch, error);
    };
#ifdef QUILLON_TEST_FAULTS
    run.BeforeStart = [](Context& scan) { InstallTestFaults(scan.outputs); };
#endif
    return RunScanCommand(options, run);
}
