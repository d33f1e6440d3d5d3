// quillon-quoted: the demo quote service. It answers the scanner's two
// requests (stock page, option page) from the synthetic market, or from
// stock quotes and option chains read from CSV files, one request per
// connection, in a single thread that polls every socket without
// blocking. Test faults make it misbehave in the ways a real service can.
// Connections that send no request do not lock the others out: when there is
// no room for one more, the idle connection heard from longest ago makes way.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "tools/file_market.h"
#include "tools/quote_pages.h"
#include "tools/quote_service.h"
#include "tools/usage_error.h"

namespace {

using namespace quillon;
using SteadyClock = std::chrono::steady_clock;

const char* kUsage =
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
    "  --max-connections N\n"
    "                      serve at most N connections at a time (default 512);\n"
    "                      when all are taken, the idle one heard from longest\n"
    "                      ago is closed to make room\n"
    "  --help              show this text\n"
    "  --version           show the program's name and version\n"
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

enum class Fault { None, Refuse, Stall, Reset, Drip, Zero, Huge };

struct Config {
    std::vector<sockaddr_in> listen;
    std::string user = "guest";
    std::string password = "lantern4";
    std::uint64_t seed = 1;
    Fault fault = Fault::None;
    std::uint64_t faultAfter = 0;
    std::string dataDir;     // --data
    sim::MarketFiles files;  // --stocks and --chains
    std::optional<import::CivilDate> date;
    bool verbose = false;
    std::uint64_t maxConnections = 512;
};

constexpr std::uint64_t kMostConnections = 1u << 20;  // the largest --max-connections
constexpr auto kRequestTimeout = std::chrono::seconds(30);
// While room is short, a connection that has sent nothing for this long is
// closed; the server counts as short of room for the request timeout after
// a connection last had to make way or be refused.
constexpr auto kIdleTimeoutWhenCrowded = std::chrono::seconds(5);
constexpr auto kCrowdedSpell = kRequestTimeout;
// Accepting rests this long after a failure that does not consume the
// waiting connection (the system's descriptors or memory are short).
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
constexpr auto kWriteTimeout = std::chrono::seconds(60);
constexpr auto kDrainTimeout = std::chrono::seconds(2);
constexpr auto kDripDelay = std::chrono::milliseconds(5);
constexpr auto kPollLimit = std::chrono::milliseconds(200);

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
        (option == "--user" ? config.user : config.password) = value;
        return true;
    }
    if (option == "--seed") return Store(ParseCount(value, ~0ull), config.seed);
    if (option == "--fault") return Store(ParseFault(value), config.fault);
    if (option == "--fault-after") return Store(ParseCount(value, ~0ull), config.faultAfter);
    if (option == "--max-connections")
        return Store(ParseCount(value, kMostConnections), config.maxConnections) &&
               config.maxConnections > 0;
    if (option == "--data" || option == "--stocks") {
        (option == "--data" ? config.dataDir : config.files.stocksFile) = value;
        return !value.empty();
    }
    if (option == "--date") {
        // Only the YYYY-MM-DD form, so that no day and month are swapped.
        const auto date = import::ParseDate(value);
        if (!date || value.size() != 10 || value[4] != '-') return false;
        config.date = date;
        return true;
    }
    if (option != "--listen") return false;
    const auto address = ParseEndpoint(value);
    if (address) config.listen.push_back(*address);
    return address.has_value();
}

// Fills `config` from the arguments; false with a message for a bad one.
bool ParseArguments(int argc, char** argv, Config& config) {
    for (int i = 1; i < argc; i += 2) {
        if (std::strcmp(argv[i], "--verbose") == 0) {
            config.verbose = true;
            --i;
            continue;
        }
        if (std::strcmp(argv[i], "--chains") == 0) {
            // Every argument up to the next option names a chain file.
            int next = i + 1;
            for (; next < argc && !std::string_view(argv[next]).starts_with("--"); ++next)
                config.files.chainFiles.push_back(argv[next]);
            if (next == i + 1) {
                std::fprintf(stderr, "quillon-quoted: bad argument --chains (no file)\n");
                return false;
            }
            i = next - 2;
            continue;
        }
        if (i + 1 == argc || !ApplyOption(argv[i], argv[i + 1], config)) {
            std::fprintf(stderr, "quillon-quoted: bad argument %s %s\n", argv[i],
                         i + 1 < argc ? argv[i + 1] : "(no value)");
            return false;
        }
    }
    if (config.listen.empty())
        config.listen = {*ParseEndpoint("127.0.0.1:80"), *ParseEndpoint("127.0.0.2:80")};
    const bool named = !config.files.stocksFile.empty() || !config.files.chainFiles.empty();
    const char* problem = nullptr;
    if (named && !config.dataDir.empty()) {
        problem = "--data and --stocks/--chains exclude each other";
    } else if (named && (config.files.stocksFile.empty() || config.files.chainFiles.empty())) {
        problem = "--stocks and --chains go together";
    }
    if (problem != nullptr) {
        std::fprintf(stderr, "quillon-quoted: %s\n", problem);
        return false;
    }
    return true;
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
    import::CivilDate date;
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

// ---- Sockets ----

void SetNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

std::string AddressText(const sockaddr_in& address) {
    char host[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &address.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(address.sin_port));
}

// A socket bound to `address`, listening unless `listening` is false: a
// bound socket that does not listen keeps the port while connections to it
// are refused. -1 on failure, with errno telling why.
int OpenEndpoint(const sockaddr_in& address, bool listening) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        (listening && listen(fd, 128) != 0)) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    SetNonBlocking(fd);
    return fd;
}

// The lowest port a process without root may listen on.
int LowestUnprivilegedPort() {
    int port = 1024;
    if (std::FILE* file = std::fopen("/proc/sys/net/ipv4/ip_unprivileged_port_start", "r")) {
        if (std::fscanf(file, "%d", &port) != 1) port = 1024;
        std::fclose(file);
    }
    return port;
}

// A port near 8080 that `host` can listen on now; 8080 when none of them is
// free.
std::uint16_t FreePortNear8080(in_addr host) {
    for (std::uint16_t port = 8080; port < 8100; ++port) {
        sockaddr_in probe{};
        probe.sin_family = AF_INET;
        probe.sin_addr = host;
        probe.sin_port = htons(port);
        const int fd = OpenEndpoint(probe, true);
        if (fd >= 0) {
            close(fd);
            return port;
        }
    }
    return 8080;
}

// Why `wanted` cannot be listened on (errno `error`). For the causes a user
// meets (a port that needs root, a port taken, an address that is not this
// machine's) it goes on with the commands that get a scan going: the service
// on a free port of this machine, and the scan told where it is, since the
// scan asks port 80 unless told otherwise.
std::string ListenFailureText(const sockaddr_in& wanted, int error) {
    const std::uint16_t port = ntohs(wanted.sin_port);
    std::string text =
        "quillon-quoted: cannot listen on " + AddressText(wanted) + ": " + std::strerror(error);
    sockaddr_in suggested = wanted;
    const char* instead = "a free port";
    if (error == EACCES) {
        const int lowest = LowestUnprivilegedPort();
        if (port < lowest) text += " (ports below " + std::to_string(lowest) + " need root)";
    } else if (error == EADDRINUSE) {
        text += " (another program listens there)";
    } else if (error == EADDRNOTAVAIL) {
        text += " (not an address of this machine)";
        instead = "an address of this machine";
        suggested.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    } else {
        return text + "\n";
    }
    suggested.sin_port = htons(FreePortNear8080(suggested.sin_addr));
    // A service on every address is reached by the scan through loopback.
    sockaddr_in scanned = suggested;
    if (scanned.sin_addr.s_addr == htonl(INADDR_ANY))
        scanned.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return text + ".\nRun it on " + instead + " instead, e.g.  quillon-quoted --listen " +
           AddressText(suggested) + "\nand tell the scan where it is:  quillon-scan --hosts " +
           AddressText(scanned) + "  (or a QuoteHosts.txt)\n";
}

struct Connection {
    enum class Phase { Reading, Writing, Stalled, Draining, Closed };
    int fd = -1;
    Phase phase = Phase::Reading;
    Fault fault = Fault::None;  // the fault this answer carries
    std::string in;
    std::string out;
    std::size_t sent = 0;
    SteadyClock::time_point deadline;   // the connection is given up then
    SteadyClock::time_point nextPiece;  // drip: when the next piece may go
    SteadyClock::time_point heard;      // accepted, or the last bytes of its request came
    // Accepted since the last poll, so not read yet: it may hold a request
    // already and is not taken for an idle connection.
    bool fresh = true;
};

class Server {
  public:
    Server(const Config& config, std::unique_ptr<sim::MarketSource> market)
        : config_(config), service_(std::move(market), config.user, config.password) {}
    bool Open();
    void Run();
    void CloseAll();

  private:
    void Accept(int listener);
    bool AcceptWithReserve(int listener);
    void AddConnection(int fd);
    bool CloseOldestIdle();
    bool HasIdle() const;
    bool Crowded(SteadyClock::time_point now) const;
    void PauseAccepting();
    void OnReadable(Connection& c);
    void OnWritable(Connection& c);
    void Respond(Connection& c, std::string_view head);
    void FinishReply(Connection& c);
    void Close(Connection& c);
    void StopListening();
    short Events(const Connection& c, SteadyClock::time_point now) const;
    int PollTimeout(SteadyClock::time_point now) const;

    const Config& config_;
    sim::QuoteService service_;
    std::vector<sockaddr_in> bound_;  // the addresses with their actual ports
    std::vector<int> listeners_;
    bool listening_ = true;
    std::vector<Connection> connections_;
    std::uint64_t requests_ = 0;
    // A descriptor held in reserve (of /dev/null): when the descriptors are
    // used up it is given back for a moment so that a waiting connection can
    // be taken off the listening socket's queue.
    int reserve_ = -1;
    SteadyClock::time_point crowdedUntil_;       // short of room until then
    SteadyClock::time_point acceptPausedUntil_;  // no accepting until then
};

int OpenReserve() {
    return open("/dev/null", O_RDONLY | O_CLOEXEC);
}

// An idle connection is one that has sent no complete request yet.
bool IsIdle(const Connection& c) {
    return c.phase == Connection::Phase::Reading && !c.fresh;
}

bool Server::Open() {
    listening_ = !(config_.fault == Fault::Refuse && config_.faultAfter == 0);
    for (const sockaddr_in& wanted : config_.listen) {
        const int fd = OpenEndpoint(wanted, listening_);
        sockaddr_in actual{};
        socklen_t length = sizeof actual;
        if (fd < 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&actual), &length) != 0) {
            std::fputs(ListenFailureText(wanted, errno).c_str(), stderr);
            if (fd >= 0) close(fd);
            return false;
        }
        listeners_.push_back(fd);
        bound_.push_back(actual);
        std::printf("listening on %s\n", AddressText(actual).c_str());
    }
    std::fflush(stdout);
    reserve_ = OpenReserve();
    return true;
}

// The refuse fault: the listening sockets are replaced by bound sockets that
// do not listen, so the ports stay ours but every connection is refused.
void Server::StopListening() {
    listening_ = false;
    for (std::size_t i = 0; i < listeners_.size(); ++i) {
        close(listeners_[i]);
        listeners_[i] = OpenEndpoint(bound_[i], false);
    }
}

void Server::AddConnection(int fd) {
    SetNonBlocking(fd);
    Connection c;
    c.fd = fd;
    c.heard = SteadyClock::now();
    c.deadline = c.heard + kRequestTimeout;
    connections_.push_back(std::move(c));
}

bool Server::HasIdle() const {
    return std::any_of(connections_.begin(), connections_.end(), IsIdle);
}

// Closes the idle connection heard from longest ago, making room for
// another; false when no connection is idle.
bool Server::CloseOldestIdle() {
    auto oldest = connections_.end();
    for (auto c = connections_.begin(); c != connections_.end(); ++c) {
        if (IsIdle(*c) && (oldest == connections_.end() || c->heard < oldest->heard)) oldest = c;
    }
    if (oldest == connections_.end()) return false;
    Close(*oldest);
    connections_.erase(oldest);
    crowdedUntil_ = SteadyClock::now() + kCrowdedSpell;
    return true;
}

bool Server::Crowded(SteadyClock::time_point now) const {
    return connections_.size() >= config_.maxConnections || now < crowdedUntil_;
}

void Server::PauseAccepting() {
    acceptPausedUntil_ = SteadyClock::now() + kAcceptPause;
}

// Takes the connections waiting on `listener`. With no room for one more (the
// cap is reached) the idle connection heard from longest ago makes way;
// without an idle one the others wait in the queue.
void Server::Accept(int listener) {
    if (reserve_ < 0) reserve_ = OpenReserve();
    for (;;) {
        if (connections_.size() >= config_.maxConnections && !CloseOldestIdle()) {
            crowdedUntil_ = SteadyClock::now() + kCrowdedSpell;
            return;
        }
        const int fd = accept(listener, nullptr, nullptr);
        if (fd >= 0) {
            AddConnection(fd);
            continue;
        }
        switch (errno) {
            case EAGAIN:
#if EWOULDBLOCK != EAGAIN
            case EWOULDBLOCK:
#endif
                return;  // no more waiting
            case EMFILE:
            case ENFILE:
                if (!AcceptWithReserve(listener)) return;
                break;
            // A signal came, or the waiting connection failed before it was
            // taken: the next one may do.
            case EINTR:
            case ECONNABORTED:
            case EPROTO:
            case ENETDOWN:
            case ENETUNREACH:
            case EHOSTDOWN:
            case EHOSTUNREACH:
            case ENONET:
            case ENOPROTOOPT:
            case EOPNOTSUPP:
                break;
            default:
                // Memory is short, or the listening socket failed: trying
                // again at once would only fail again.
                PauseAccepting();
                return;
        }
    }
}

// The descriptors are used up while connections wait. The reserve descriptor
// is closed to take the first waiting connection, which then replaces the
// idle connection heard from longest ago, or is closed at once when none is
// idle; then the reserve is taken again. So the queue drains and the
// listening socket does not stay readable for ever, which would turn the
// poll into a busy loop. Connections accepted just now have not been read:
// they are looked at in the next round before any waiting one is refused.
// False when accepting stops for this round.
bool Server::AcceptWithReserve(int listener) {
    crowdedUntil_ = SteadyClock::now() + kCrowdedSpell;
    if (!HasIdle() && std::any_of(connections_.begin(), connections_.end(),
                                  [](const Connection& c) { return c.fresh; }))
        return false;
    if (reserve_ < 0) {
        // Without a reserve (the system's descriptors were short too), an
        // idle connection's descriptor serves the next accept.
        if (CloseOldestIdle()) return true;
        PauseAccepting();
        return false;
    }
    close(reserve_);
    const int fd = accept(listener, nullptr, nullptr);
    const int error = errno;
    if (fd >= 0) {
        if (CloseOldestIdle()) {
            AddConnection(fd);
        } else {
            close(fd);
        }
    }
    reserve_ = OpenReserve();
    if (fd >= 0) return true;
    // Still short (the system's descriptors, taken by another process), or
    // nothing waits any more.
    if (error != EAGAIN && error != EWOULDBLOCK) PauseAccepting();
    return false;
}

void Server::Close(Connection& c) {
    if (c.fd >= 0) close(c.fd);
    c.fd = -1;
    c.phase = Connection::Phase::Closed;
}

void Server::OnReadable(Connection& c) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
        if (n <= 0) return Close(c);  // the client closed, or the connection failed
        if (c.phase != Connection::Phase::Reading) continue;  // stalled or draining: discard
        c.in.append(buffer, static_cast<std::size_t>(n));
        c.heard = SteadyClock::now();
        if (const std::size_t end = sim::RequestHeadEnd(c.in);
            end > 0 && end <= sim::kMaxRequestHead) {
            return Respond(c, std::string_view(c.in).substr(0, end));
        }
        if (c.in.size() > sim::kMaxRequestHead) {
            c.out = sim::BadRequestPage();
            c.phase = Connection::Phase::Writing;
            c.deadline = SteadyClock::now() + kWriteTimeout;
            return;
        }
    }
}

void Server::Respond(Connection& c, std::string_view head) {
    const bool faulty = config_.fault != Fault::None && requests_ >= config_.faultAfter;
    ++requests_;
    if (config_.fault == Fault::Refuse && listening_ && requests_ >= config_.faultAfter)
        StopListening();
    c.fault = faulty ? config_.fault : Fault::None;
    c.out = service_.Answer(head, c.fault == Fault::Huge);
    c.in.clear();
    c.phase = Connection::Phase::Writing;
    c.deadline = SteadyClock::now() + kWriteTimeout;
    switch (c.fault) {
        case Fault::Stall:
            c.phase = Connection::Phase::Stalled;
            break;
        case Fault::Zero:
            FinishReply(c);
            break;
        case Fault::Reset:
            c.out.resize(c.out.size() / 2);
            break;
        case Fault::Drip: {
            // Every piece goes out as a segment of its own.
            const int on = 1;
            setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            c.nextPiece = SteadyClock::now();
            break;
        }
        default:
            break;
    }
}

void Server::OnWritable(Connection& c) {
    const auto now = SteadyClock::now();
    if (c.fault == Fault::Drip && now < c.nextPiece) return;
    while (c.sent < c.out.size()) {
        std::size_t length = c.out.size() - c.sent;
        // Drip: about 200 pieces a page, at least 5 bytes each.
        if (c.fault == Fault::Drip)
            length = std::min(length, std::max<std::size_t>(5, c.out.size() / 200));
        const ssize_t n = send(c.fd, c.out.data() + c.sent, length, MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
        if (n < 0) return Close(c);
        c.sent += static_cast<std::size_t>(n);
        c.deadline = now + kWriteTimeout;
        if (c.fault == Fault::Drip) {
            c.nextPiece = now + kDripDelay;
            if (c.sent < c.out.size()) return;
        }
    }
    FinishReply(c);
}

// After the answer: the reset fault aborts the connection; otherwise the
// sending side is shut and what the client still sends is read and dropped
// until it closes, so closing never turns into a reset that could cost the
// client the end of its page.
void Server::FinishReply(Connection& c) {
    if (c.fault == Fault::Reset) {
        const linger abort{1, 0};
        setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        return Close(c);
    }
    shutdown(c.fd, SHUT_WR);
    c.phase = Connection::Phase::Draining;
    c.deadline = SteadyClock::now() + kDrainTimeout;
}

short Server::Events(const Connection& c, SteadyClock::time_point now) const {
    if (c.phase != Connection::Phase::Writing) return POLLIN;
    if (c.fault == Fault::Drip && now < c.nextPiece) return 0;
    return POLLOUT;
}

int Server::PollTimeout(SteadyClock::time_point now) const {
    auto wake = now + kPollLimit;
    if (acceptPausedUntil_ > now) wake = std::min(wake, acceptPausedUntil_);
    const bool crowded = Crowded(now);
    for (const Connection& c : connections_) {
        if (c.phase != Connection::Phase::Stalled) wake = std::min(wake, c.deadline);
        if (c.phase == Connection::Phase::Writing && c.fault == Fault::Drip)
            wake = std::min(wake, c.nextPiece);
        if (crowded && c.phase == Connection::Phase::Reading)
            wake = std::min(wake, c.heard + kIdleTimeoutWhenCrowded);
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
    return static_cast<int>(std::max<long long>(0, ms));
}

void Server::Run() {
    std::vector<pollfd> fds;
    while (!g_stop) {
        const auto now = SteadyClock::now();
        fds.clear();
        for (const Connection& c : connections_)
            fds.push_back({c.fd, Events(c, now), 0});
        // A socket that is not accepting stays out of the poll (a negative
        // descriptor is skipped): a bound socket that does not listen reports
        // POLLHUP at once, whatever is asked, and would turn the wait into a
        // busy loop while connections are refused; so would a full server
        // that has no idle connection to close.
        const bool accepting = listening_ && now >= acceptPausedUntil_ &&
                               (connections_.size() < config_.maxConnections || HasIdle());
        for (int fd : listeners_)
            fds.push_back({accepting ? fd : -1, POLLIN, 0});
        if (poll(fds.data(), fds.size(), PollTimeout(now)) < 0 && errno != EINTR) {
            std::perror("quillon-quoted: poll");
            return;
        }
        const std::size_t count = connections_.size();
        const auto polled = SteadyClock::now();
        const bool crowded = Crowded(polled);
        for (std::size_t i = 0; i < count; ++i) {
            Connection& c = connections_[i];
            c.fresh = false;
            const short revents = fds[i].revents;
            if (revents & (POLLIN | POLLHUP | POLLERR)) OnReadable(c);
            // A dripping answer is written whenever its next piece is due.
            if (c.phase == Connection::Phase::Writing &&
                ((revents & POLLOUT) || c.fault == Fault::Drip))
                OnWritable(c);
            const auto after = SteadyClock::now();
            // While room is short, a client that keeps silent gives up its place.
            const bool silent = crowded && c.phase == Connection::Phase::Reading &&
                                after - c.heard >= kIdleTimeoutWhenCrowded;
            if (c.phase != Connection::Phase::Stalled && c.phase != Connection::Phase::Closed &&
                (after >= c.deadline || silent))
                Close(c);
        }
        std::erase_if(connections_,
                      [](const Connection& c) { return c.phase == Connection::Phase::Closed; });
        for (std::size_t i = 0; i < listeners_.size(); ++i)
            if (fds[count + i].revents & POLLIN) Accept(listeners_[i]);
    }
}

void Server::CloseAll() {
    for (Connection& c : connections_)
        Close(c);
    if (reserve_ >= 0) close(reserve_);
    for (int fd : listeners_)
        if (fd >= 0) close(fd);
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("quillon-quoted " QUILLON_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    Config config;
    if (!ParseArguments(argc, argv, config)) {
        // The problem is told; then the usage line and where to read more.
        PrintUsageError("quillon-quoted", "", kUsage);
        return 64;
    }
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction stop {};
    stop.sa_handler = OnStopSignal;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);

    std::unique_ptr<sim::MarketSource> market = OpenMarket(config);
    if (!market) return 1;
    Server server(config, std::move(market));
    const bool opened = server.Open();
    if (opened) server.Run();
    server.CloseAll();
    return opened ? 0 : 1;
}
