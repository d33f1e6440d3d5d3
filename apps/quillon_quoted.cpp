// quillon-quoted: the demo quote service, serving the synthetic market or
// stock quotes and option chains read from CSV files (sim/quote_server.h).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "apps/command_line.h"
#include "platform/clock.h"
#include "sim/file_market.h"
#include "sim/https_server.h"
#include "sim/quote_pages.h"
#include "sim/quote_server.h"
#include "sim/service_replies.h"

namespace {

using namespace quillon;

// Up to the --help and --version lines.
const char* kUsageStart =
    "Usage: quillon-quoted [OPTION]...\n"
    "\n"
    "Serves stock and option pages of the synthetic market for today's date,\n"
    "or of stock quotes and option chains exported as CSV (the formats\n"
    "quillon-import reads), one request per connection:\n"
    "GET /cgi-bin/getquote.dll?TICKER=SYM and GET /cgi-bin/options.dll?TICKER=SYM\n"
    "with a Basic authorisation header.\n"
    "\n"
    "A scan asks 127.0.0.1:80 (delayed quotes) and 127.0.0.2:80 (real-time\n"
    "quotes), the addresses this service listens on by default, unless its\n"
    "working directory holds a QuoteHosts.txt: line 1 the delayed-quote host,\n"
    "line 2 the real-time host, each HOST or HOST:PORT. quillon-scan's option\n"
    "--hosts HOST[:PORT][,HOST[:PORT]] writes that file. Ports below 1024 need\n"
    "root: as a normal user serve on a free port, --listen 127.0.0.1:8080,\n"
    "and scan with quillon-scan --hosts 127.0.0.1:8080.\n"
    "\n"
    "  --listen ADDR:PORT  IPv4 address and port to serve on (repeatable; default\n"
    "                      127.0.0.1:80 and 127.0.0.2:80); port 0 picks a free one\n"
    "  --user, --password  the accepted credentials (default guest, lantern4)\n"
    "  --seed N            the synthetic market (default 1)\n"
    "  --data DIR          serve the CSV files of DIR instead: each *.csv file whose\n"
    "                      header names a contract symbol (contractSymbol,\n"
    "                      optionSymbol, occSymbol), an expiration or a strike is\n"
    "                      an option chain; the one other *.csv file is the stock\n"
    "                      quotes\n"
    "  --stocks FILE       serve this stock-quote file ...\n"
    "  --chains FILE...    ... with these option-chain files (every argument up to\n"
    "                      the next option)\n"
    "  --date DATE         the date whose expiration calendar places the options\n"
    "                      (default: today, the date the scan uses)\n"
    "  --verbose           tell each skipped or left-out row with file and line\n"
    "  --fault KIND        misbehave for tests: refuse (connections refused),\n"
    "                      stall (no answer), reset (half a page, then a reset),\n"
    "                      drip (the page a few bytes at a time), zero (close\n"
    "                      without answering), huge (option pages of megabytes)\n"
    "  --fault-after N     serve N requests normally before the fault starts\n"
    "  --tls CERT KEY      serve the market over HTTPS in the shapes of the two\n"
    "                      market-data services instead (certificate and key in\n"
    "                      PEM files; scripts/make-test-ca makes a throw-away\n"
    "                      pair): the exchange's delayed quotes at\n"
    "                      /api/global/delayed_quotes/options/SYM.json and\n"
    "                      Tradier's /v1/markets/quotes, .../options/expirations\n"
    "                      and .../options/chains. Listens on the first --listen\n"
    "                      address (default 127.0.0.1:8443). Scan it with\n"
    "                      quillon-scan --source exchange (or tradier)\n"
    "                      --source-url https://127.0.0.1:8443 --ca-file CA\n"
    "  --token-file FILE   with --tls, the Tradier access token accepted: the\n"
    "                      first line of FILE (default test-token)\n"
    "  --max-connections N\n"
    "                      serve at most N connections at a time (default 512);\n"
    "                      when all are taken, the idle one heard from longest\n"
    "                      ago is closed to make room\n";
// After the --help and --version lines.
const char* kUsageEnd =
    "\n"
    "The CSV files are read once at start-up; the options kept are those the\n"
    "scan uses on the date (as quillon-import keeps them), and a summary of\n"
    "what was read, skipped and left out is printed on standard error.\n"
    "\n"
    "Prints \"listening on ADDR:PORT\" for every address, then serves until\n"
    "SIGINT or SIGTERM.\n"
    "\n"
    "Exit status:\n"
    "  0   stopped by SIGINT or SIGTERM\n"
    "  1   an address cannot be used (the message says why and what to run\n"
    "      instead), or the CSV files are refused\n"
    "  64  a bad argument\n";

std::string UsageText() {
    return kUsageStart + HelpAndVersionLines(22) + kUsageEnd;
}

using sim::Fault;

struct Config {
    sim::ServerConfig server;
    bool listenGiven = false;
    std::optional<std::pair<std::string, std::string>> tls;  // certificate, key
    std::string tradierToken = "test-token";
    std::uint64_t seed = 1;
    std::string dataDir;     // --data
    sim::MarketFiles files;  // --stocks and --chains
    std::optional<CivilDay> date;
    bool verbose = false;
};
volatile std::sig_atomic_t g_stop = 0;

extern "C" void OnStopSignal(int) {
    g_stop = 1;
}

// ---- Command line ----

std::optional<std::uint64_t> ParseCount(const std::string& text, std::uint64_t max) {
    if (text.empty() || text.size() > 19 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const std::uint64_t value = std::stoull(text);
    if (value > max) return std::nullopt;
    return value;
}

std::optional<sockaddr_in> ParseEndpoint(const std::string& text) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) return std::nullopt;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    const std::string host = text.substr(0, colon);
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) return std::nullopt;
    const auto port = ParseCount(text.substr(colon + 1), 65535);
    if (!port) return std::nullopt;
    address.sin_port = htons(static_cast<std::uint16_t>(*port));
    return address;
}

std::optional<Fault> ParseFault(std::string_view text) {
    const std::pair<std::string_view, Fault> kinds[] = {
        {"refuse", Fault::Refuse}, {"stall", Fault::Stall}, {"reset", Fault::Reset},
        {"drip", Fault::Drip},     {"zero", Fault::Zero},   {"huge", Fault::Huge}};
    for (const auto& [name, fault] : kinds)
        if (text == name) return fault;
    return std::nullopt;
}

// Stores a parsed value in `field`; false when it did not parse.
template <class T>
bool Store(const std::optional<T>& parsed, T& field) {
    if (parsed) field = *parsed;
    return parsed.has_value();
}

// Applies one option with its value; false when either is bad.
bool ApplyOption(const std::string& option, const std::string& value, Config& config) {
    if (option == "--user" || option == "--password") {
        (option == "--user" ? config.server.user : config.server.password) = value;
        return true;
    }
    if (option == "--seed") return Store(ParseCount(value, ~0ull), config.seed);
    if (option == "--fault") return Store(ParseFault(value), config.server.fault);
    if (option == "--fault-after") return Store(ParseCount(value, ~0ull), config.server.faultAfter);
    if (option == "--max-connections")
        return Store(ParseCount(value, sim::kMostConnections), config.server.maxConnections) &&
               config.server.maxConnections > 0;
    if (option == "--data" || option == "--stocks") {
        (option == "--data" ? config.dataDir : config.files.stocksFile) = value;
        return !value.empty();
    }
    if (option == "--date") {
        const std::optional<CivilDay> date = DateArgument(value);
        if (!date) return false;
        config.date = date;
        return true;
    }
    if (option == "--token-file") {
        std::ifstream file(value, std::ios::binary);
        std::string token;
        if (!std::getline(file, token)) return false;
        if (!token.empty() && token.back() == '\r') token.pop_back();
        config.tradierToken = token;
        return !token.empty();
    }
    if (option != "--listen") return false;
    config.listenGiven = true;
    const auto address = ParseEndpoint(value);
    if (address) config.server.listen.push_back(*address);
    return address.has_value();
}

// Fills `config` from the arguments: nothing to go on, or the exit status
// (0 after --help or --version; 64 after a bad argument, said).
std::optional<int> ParseArguments(CommandLine& line, Config& config) {
    // The problem is told; then the usage line and where to read more.
    const auto bad = [&line](const std::string& problem) {
        line.Say(problem);
        return line.Usage("");
    };
    while (line.Next()) {
        const std::string option(line.Arg());
        if (line.Is("--verbose")) {
            config.verbose = true;
        } else if (line.Is("--tls")) {
            const std::optional<std::string> cert = line.Value();
            const std::optional<std::string> key = cert ? line.Value() : std::nullopt;
            if (!key) return bad("bad argument --tls (it takes a certificate file and a key file)");
            config.tls = std::make_pair(*cert, *key);
        } else if (line.Is("--chains")) {
            // Every argument up to the next option names a chain file.
            const std::size_t before = config.files.chainFiles.size();
            while (line.Peek() && !line.Peek()->starts_with("--"))
                config.files.chainFiles.push_back(*line.Value());
            if (config.files.chainFiles.size() == before)
                return bad("bad argument --chains (no file)");
        } else {
            const std::optional<std::string> value = line.Value();
            if (!value || !ApplyOption(option, *value, config))
                return bad("bad argument " + option + " " + value.value_or("(no value)"));
        }
    }
    if (const std::optional<int> status = line.End()) return status;
    if (config.server.listen.empty()) {
        config.server.listen = config.tls
                                   ? std::vector<sockaddr_in>{*ParseEndpoint("127.0.0.1:8443")}
                                   : std::vector<sockaddr_in>{*ParseEndpoint("127.0.0.1:80"),
                                                              *ParseEndpoint("127.0.0.2:80")};
    }
    const bool named = !config.files.stocksFile.empty() || !config.files.chainFiles.empty();
    if (named && !config.dataDir.empty())
        return bad("--data and --stocks/--chains exclude each other");
    if (named && (config.files.stocksFile.empty() || config.files.chainFiles.empty()))
        return bad("--stocks and --chains go together");
    return std::nullopt;
}

// The market the service serves: the synthetic one, or the CSV files read
// now. Null, with the message printed, when the files are refused.
std::unique_ptr<sim::MarketSource> OpenMarket(const Config& config) {
    const bool fromFiles = !config.dataDir.empty() || !config.files.stocksFile.empty();
    if (!fromFiles) return std::make_unique<sim::SyntheticSource>(config.seed);
    std::string error;
    sim::MarketFiles files = config.files;
    if (!config.dataDir.empty() && !sim::FindMarketFiles(config.dataDir, files, error)) {
        std::fprintf(stderr, "quillon-quoted: %s\n", error.c_str());
        return nullptr;
    }
    CivilDay date;
    if (config.date) {
        date = *config.date;
    } else {
        const DateTime now = SystemClock().Now();
        date = {now.Year, now.Month, now.Day};
    }
    import::ImportSummary summary;
    auto market =
        sim::FileMarket::Load(files, date, summary, error, config.verbose ? stderr : nullptr);
    if (!market) {
        std::fprintf(stderr, "quillon-quoted: %s\n", error.c_str());
        return nullptr;
    }
    const std::string source = config.dataDir.empty() ? files.stocksFile : config.dataDir;
    std::fprintf(stderr, "%s", sim::ServedSummaryText(summary, source).c_str());
    return market;
}

// The market in the two services' shapes over HTTPS, until SIGINT or SIGTERM.
int ServeServices(const Config& config, sim::MarketSource& market) {
    sim::ServiceConfig services;
    services.marketDate = config.date ? *config.date : SystemClock().Now().Date();
    // The data of the market's day as of its close.
    services.eastern = DateTime{
        services.marketDate.Year, services.marketDate.Month, services.marketDate.Day, 16, 0, 0};
    services.tradierToken = config.tradierToken;
    sim::ServiceAnswers answers(market, services);
    sim::HttpsServerConfig https;
    https.certFile = config.tls->first;
    https.keyFile = config.tls->second;
    https.listen = config.server.listen.front();
    https.maxConnections =
        static_cast<int>(std::min<std::uint64_t>(config.server.maxConnections, 256));
    sim::HttpsServer server(
        https, [&answers](const sim::HttpsRequest& request) { return answers.Answer(request); });
    std::string error;
    if (!server.Open(error)) {
        std::fprintf(stderr, "quillon-quoted: %s\n", error.c_str());
        return kExitFailed;
    }
    sockaddr_in bound = https.listen;
    bound.sin_port = htons(server.Port());
    std::printf("listening on %s (HTTPS)\n", sim::AddressText(bound).c_str());
    std::fflush(stdout);
    server.Run(g_stop);
    server.Stop();
    return kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine line("quillon-quoted", argc, argv, UsageText());
    Config config;
    if (const std::optional<int> status = ParseArguments(line, config)) return *status;
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction stop {};
    stop.sa_handler = OnStopSignal;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);

    std::unique_ptr<sim::MarketSource> market = OpenMarket(config);
    if (!market) return kExitFailed;
    if (config.tls) return ServeServices(config, *market);
    sim::QuoteServer server(config.server, std::move(market));
    const bool opened = server.Open();
    if (opened) server.Run(g_stop);
    server.CloseAll();
    return opened ? kExitDone : kExitFailed;
}
