// quillon-quoted as a process on loopback, spoken to over raw sockets.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/base64.h"
#include "sim/quote_pages.h"
#include "sim/quote_service.h"
#include "tests/support/quoted_process.h"
#include "tests/support/temp_dir.h"

namespace quillon::sim {
namespace {

using testing::Quoted;

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

struct Reply {
    std::string bytes;
    int error = 0;  // errno of a failed connect or receive
    int chunks = 0;
    bool timedOut = false;
};

int Connect(int port, int& error) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
    error = errno;
    close(fd);
    return -1;
}

// Receives until the server closes, fails, or `limit` passes.
void Receive(int fd, Reply& reply, std::chrono::milliseconds limit) {
    const auto end = SteadyClock::now() + limit;
    char buffer[65536];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - SteadyClock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) == 0) {
            reply.timedOut = true;
            return;
        }
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            reply.error = n < 0 ? errno : 0;
            return;
        }
        reply.bytes.append(buffer, static_cast<std::size_t>(n));
        ++reply.chunks;
    }
}

Reply Fetch(int port, const std::string& request, std::chrono::milliseconds limit = 10s) {
    Reply reply;
    const int fd = Connect(port, reply.error);
    if (fd < 0) return reply;
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    Receive(fd, reply, limit);
    close(fd);
    return reply;
}

std::string Request(const std::string& path, const std::string& ticker,
                    const std::string& credentials = "guest:lantern4") {
    return "GET /cgi-bin/" + path + "?TICKER=" + ticker + "\r\nAuthorization: Basic " +
           EncodeBase64(credentials) + "\r\n\r\n";
}

std::string StockRequest(const std::string& ticker) {
    return Request("getquote.dll", ticker);
}
std::string OptionRequest(const std::string& ticker) {
    return Request("options.dll", ticker);
}

Market Today(std::uint64_t seed = 1) {
    const DateTime now = SystemClock().Now();
    return Market(seed, {now.Year, now.Month, now.Day, 0, 0, 0});
}

// A ticker whose stock lists options, and one whose stock lists none.
std::string Ticker(const Market& market, bool listsOptions) {
    for (const std::string& ticker : market.Universe())
        if (market.Stock(ticker)->ListsOptions == listsOptions) return ticker;
    return "";
}

TEST(Quoted, ServesTheMarketsPagesAndStopsOnSigterm) {
    Quoted service({"--seed", "7"});
    ASSERT_NE(service.Port(), 0);
    const Market market = Today(7);
    const std::string ticker = Ticker(market, true);
    const SimStock stock = *market.Stock(ticker);
    const Reply page = Fetch(service.Port(), StockRequest(ticker));
    EXPECT_EQ(page.bytes, StockPage(stock));
    EXPECT_EQ(page.error, 0);
    EXPECT_EQ(Fetch(service.Port(), OptionRequest(ticker)).bytes,
              OptionPage(stock, market.Options(stock)));
    EXPECT_EQ(service.Stop(), 0);
}

TEST(Quoted, AnswersEveryKindOfRequest) {
    // The credentials' Base64 text holds the backslash that stands for 63.
    Quoted service({"--user", "ann", "--password", "s?s:s"});
    const std::string slash =
        "GET /cgi-bin/getquote.dll?TICKER=ALDA\r\nAuthorization: Basic "
        "YW5uOnM/czpz\r\n\r\n";
    const Market market = Today();
    const std::string bare = Ticker(market, false);
    const struct {
        std::string request;
        std::string reply;
    } cases[] = {
        {Request("getquote.dll", "ZZZZZZ", "ann:s?s:s"), UnknownSymbolPage("ZZZZZZ")},
        {Request("options.dll", bare, "ann:s?s:s"), NoOptionsPage(bare)},
        {Request("getquote.dll", "ALDA", "guest:lantern4"), RefusalPage()},
        {"GET /cgi-bin/getquote.dll?TICKER=ALDA\r\n\r\n", RefusalPage()},
        {slash, RefusalPage()},
        {Request("quote.dll", "ALDA", "ann:s?s:s"), NotFoundPage()},
        {Request("getquote.dll", "AL;DA", "ann:s?s:s"), BadRequestPage()},
        {"POST / HTTP/1.0\r\n\r\n", BadRequestPage()},
        {"\x01\xff garbage\r\n\r\n", BadRequestPage()},
        {std::string(9000, 'G'), BadRequestPage()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request.substr(0, 60));
        EXPECT_EQ(Fetch(service.Port(), c.request).bytes, c.reply);
    }
}

// One slow client does not hold up the others.
TEST(Quoted, ServesOthersWhileAClientDawdles) {
    Quoted service({});
    int error = 0;
    const int slow = Connect(service.Port(), error);
    ASSERT_GE(slow, 0);
    send(slow, "GET /cgi-bin/getq", 17, MSG_NOSIGNAL);
    const Market market = Today();
    std::vector<int> clients;
    for (int i = 0; i < 20; ++i) {
        clients.push_back(Connect(service.Port(), error));
        send(clients.back(), StockRequest("ALDA").data(), StockRequest("ALDA").size(),
             MSG_NOSIGNAL);
    }
    for (int fd : clients) {
        Reply reply;
        Receive(fd, reply, 5s);
        EXPECT_EQ(reply.bytes, StockPage(*market.Stock("ALDA")));
        close(fd);
    }
    close(slow);
}

// Each fault after one normal answer (--fault-after 1).
TEST(Quoted, Faults) {
    const Market market = Today();
    const std::string ticker = Ticker(market, true);
    const SimStock stock = *market.Stock(ticker);
    const std::string stockPage = StockPage(stock);
    const std::string optionPage = OptionPage(stock, market.Options(stock));
    const struct {
        const char* kind;
        std::string request;
        std::function<void(const Reply&)> check;
    } cases[] = {
        {"refuse", StockRequest(ticker), [](const Reply& r) { EXPECT_EQ(r.error, ECONNREFUSED); }},
        {"stall", StockRequest(ticker),
         [](const Reply& r) { EXPECT_TRUE(r.timedOut && r.bytes.empty()); }},
        {"reset", OptionRequest(ticker),
         [&](const Reply& r) {
             EXPECT_EQ(r.error, ECONNRESET);
             EXPECT_TRUE(optionPage.starts_with(r.bytes));
             EXPECT_LT(r.bytes.size(), optionPage.size());
         }},
        {"drip", StockRequest(ticker),
         [&](const Reply& r) {
             EXPECT_EQ(r.bytes, stockPage);
             EXPECT_GT(r.chunks, 50);
         }},
        {"zero", StockRequest(ticker),
         [](const Reply& r) { EXPECT_TRUE(r.bytes.empty() && r.error == 0 && !r.timedOut); }},
        {"huge", OptionRequest(ticker),
         [&](const Reply& r) {
             // Megabytes of further months, then the page's own rows.
             EXPECT_GE(r.bytes.size(), 4u << 20);
             EXPECT_TRUE(
                 r.bytes.ends_with(optionPage.substr(optionPage.find("<tr>\n<td colspan"))));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        Quoted service({"--fault", c.kind, "--fault-after", "1"});
        const Reply first = Fetch(service.Port(), c.request);
        EXPECT_EQ(first.bytes, c.request == StockRequest(ticker) ? stockPage : optionPage);
        c.check(Fetch(service.Port(), c.request, c.kind == std::string("stall") ? 1500ms : 10s));
    }
}

// The request head read on its own: only a request line of one of the two
// paths with a symbol is a good request, an empty head included.
TEST(QuoteRequestParse, RequestLineAndCredentials) {
    const struct {
        std::string head;
        int status;
        std::string ticker;
        std::optional<std::string> credentials;
    } cases[] = {
        {"", 400, "", std::nullopt},
        {"\r\n\r\n", 400, "", std::nullopt},
        {"get /cgi-bin/options.dll?ticker=ibm HTTP/1.0\nAUTHORIZATION:  basic  Og== \n\n", 200,
         "IBM", "Og=="},
        {"GET /cgi-bin/getquote.dll?TICKER=\r\n\r\n", 400, "", std::nullopt},
        {"GET /other?TICKER=IBM\r\nAuthorization: Digest x\r\n\r\n", 404, "", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.head);
        const QuoteRequest request = ParseQuoteRequest(c.head);
        EXPECT_EQ(request.status, c.status);
        if (c.status == 200) {
            EXPECT_EQ(request.ticker, c.ticker);
        }
        EXPECT_EQ(request.credentials, c.credentials);
    }
}

// CPU seconds used by the reaped children of this process.
double ChildrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// While it refuses connections, from the start or after an answer, the
// service waits for a stop rather than polling in a busy loop.
TEST(Quoted, RefusingWaitsWithoutSpinning) {
    for (const char* after : {"0", "1"}) {
        SCOPED_TRACE(after);
        const double before = ChildrenCpuSeconds();
        {
            Quoted service({"--fault", "refuse", "--fault-after", after});
            ASSERT_NE(service.Port(), 0);
            if (after == std::string("1")) Fetch(service.Port(), StockRequest("ALDA"));
            EXPECT_EQ(Fetch(service.Port(), StockRequest("ALDA")).error, ECONNREFUSED);
            std::this_thread::sleep_for(1500ms);
            EXPECT_EQ(service.Stop(), 0);  // reaped: its CPU time now counts
        }
        // A busy loop would use most of the 1.5 s; waiting uses next to none.
        EXPECT_LT(ChildrenCpuSeconds() - before, 0.4);
    }
}

// CPU seconds a running process has used so far, from /proc/PID/stat.
double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    // The fields after the command's name: state is the 3rd, utime the 14th.
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i >= 14) ticks += std::stod(field);
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// True when the service has closed `fd` (end of file or reset) within `limit`.
bool ClosedByService(int fd, std::chrono::milliseconds limit) {
    Reply reply;
    Receive(fd, reply, limit);
    return !reply.timedOut && reply.bytes.empty();
}

// Clients that connect and send nothing take every place the service has:
// its own cap of connections, or every descriptor it may open. A client with
// a request is still answered at once, in the place of the silent client
// heard from longest ago; the silent ones go after a few seconds of silence;
// and the service never spins. With every descriptor taken by requests it
// answers slowly (stalled), a newcomer is closed at once rather than left
// waiting.
TEST(Quoted, SilentClientsMakeWayForRequests) {
    const struct {
        const char* what;
        std::vector<std::string> args;
        rlim_t fileLimit;  // 0: the test's own
        int clients;
        bool silent;    // the clients send nothing; else each a request
        bool answered;  // the newcomer's request is answered
    } cases[] = {
        {"connection cap", {"--max-connections", "8"}, 0, 20, true, true},
        {"descriptors", {}, 64, 100, true, true},
        {"descriptors, all stalled",
         {"--fault", "stall", "--fault-after", "1"},
         64,
         100,
         false,
         false},
    };
    const std::string page = StockPage(*Today().Stock("ALDA"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Quoted service(c.args, c.fileLimit);
        ASSERT_NE(service.Port(), 0);
        // A first request while descriptors are plenty: in the sanitizer
        // build the first check of the market's dynamic type needs a pipe.
        EXPECT_EQ(Fetch(service.Port(), StockRequest("ALDA")).bytes, page);
        std::vector<int> clients;
        for (int i = 0; i < c.clients; ++i) {
            int error = 0;
            clients.push_back(Connect(service.Port(), error));
            ASSERT_GE(clients.back(), 0) << std::strerror(error);
            if (!c.silent)
                send(clients.back(), StockRequest("ALDA").data(), StockRequest("ALDA").size(),
                     MSG_NOSIGNAL);
        }
        const auto lastConnected = SteadyClock::now();
        std::this_thread::sleep_for(300ms);  // the service is full now
        const double cpuBefore = CpuSeconds(service.Pid());

        const auto asked = SteadyClock::now();
        const Reply reply = Fetch(service.Port(), StockRequest("ALDA"), 5s);
        EXPECT_LT(SteadyClock::now() - asked, 2s);
        EXPECT_FALSE(reply.timedOut);
        EXPECT_EQ(reply.bytes, c.answered ? page : "");

        if (c.silent) {
            // The first client was closed for a later one; the last one is
            // closed once it has kept silent for a few seconds, long before
            // the 30 s a request may take.
            EXPECT_TRUE(ClosedByService(clients.front(), 50ms));
            EXPECT_FALSE(ClosedByService(clients.back(), 50ms));
            EXPECT_TRUE(ClosedByService(clients.back(), 10s));
            EXPECT_LT(SteadyClock::now() - lastConnected, 9s);
        } else {
            std::this_thread::sleep_for(3s);
        }
        // Full all along: a busy loop would use most of these seconds.
        EXPECT_LT(CpuSeconds(service.Pid()) - cpuBefore, 0.5);
        for (int fd : clients)
            close(fd);
    }
}

}  // namespace
}  // namespace quillon::sim

namespace quillon::sim {
namespace {

// A loopback port held by a listening socket of the test, 0 on failure.
struct TakenPort {
    TakenPort() {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            listen(fd, 1) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
    }
    ~TakenPort() { close(fd); }
    int fd = -1;
    int port = 0;
};

// Market files it cannot serve, a wrong combination of options, or an
// address it cannot listen on: the service does not start, and says why,
// naming the file and the line, or the address with the commands to run
// instead (a free port, and the scan told where it is).
TEST(QuotedData, RefusesMarketFilesItCannotServe) {
    const std::string kServiceAndScan =
        "--listen 127\\.0\\.0\\.1:(80[89][0-9])\\n"
        "and tell the scan where it is:  quillon-scan --hosts 127\\.0\\.0\\.1:\\1  "
        "\\(or a QuoteHosts\\.txt\\)\\n$";
    const TakenPort taken;
    ASSERT_NE(taken.port, 0);
    const std::string takenAddress = "127.0.0.1:" + std::to_string(taken.port);
    testing::TempDir dir;
    std::filesystem::create_directory(dir.File("bad"));
    dir.Write("stocks.csv", "symbol,last\r\nACME,47.3\r\n");
    dir.Write("chain.csv", "contractSymbol,last\r\nACME261218C00045000,2.6\r\n");
    dir.Write("bad/stocks.csv", "symbol,name\r\nACME,Acme\r\n");
    dir.Write("bad/chain.csv", "contractSymbol,last\r\n");
    struct Case {
        std::string args;
        int exitCode;
        std::string message;  // a part of what it says on standard error
        std::string advice;   // a pattern of another part, when not empty
    };
    const Case cases[] = {
        {"--data '" + dir.File("bad") + "'", 1,
         "bad/stocks.csv: no header row among the first 40 lines", ""},
        {"--data '" + dir.File("none") + "'", 1, "cannot read the directory", ""},
        {"--stocks '" + dir.File("stocks.csv") + "'", 64, "--stocks and --chains go together", ""},
        {"--data '" + dir.Path() + "' --stocks '" + dir.File("stocks.csv") + "' --chains '" +
             dir.File("chain.csv") + "'",
         64, "exclude each other", ""},
        {"--chains --data x", 64, "--chains (no file)", ""},
        {"--data '" + dir.Path() + "' --date 12/08/2026", 64, "bad argument --date", ""},
        // A free port of 8080 to 8099 is offered, the same to both programs.
        {"--listen " + takenAddress, 1,
         "cannot listen on " + takenAddress +
             ": Address already in use (another program listens there).\n"
             "Run it on a free port instead, e.g.  quillon-quoted --listen 127.0.0.1:",
         kServiceAndScan},
        // TEST-NET-1 is no address of this machine: loopback is offered.
        {"--listen 192.0.2.1:8080", 1,
         "cannot listen on 192.0.2.1:8080: Cannot assign requested address (not an address "
         "of this machine).\nRun it on an address of this machine instead, e.g.  "
         "quillon-quoted --listen 127.0.0.1:",
         kServiceAndScan},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const std::string command = "'" QUILLON_QUOTED_PATH "' --listen 127.0.0.1:0 " + c.args +
                                    " >/dev/null 2>'" + dir.File("err.log") + "'";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), c.exitCode);
        EXPECT_NE(dir.Read("err.log").find(c.message), std::string::npos) << dir.Read("err.log");
        EXPECT_TRUE(std::regex_search(dir.Read("err.log"), std::regex(c.advice)))
            << dir.Read("err.log");
    }
}

// The files of a directory are served, and the summary of what was read
// comes before the service listens.
TEST(QuotedData, ServesTheFilesOfADirectory) {
    testing::TempDir dir;
    dir.Write("stocks.csv", "symbol,name,last\r\nACME,Acme Robotics,47.3\r\n");
    dir.Write("chain.csv", "contractSymbol,last\r\nACME261218C00045000,2.6\r\n");
    Quoted service({"--data", dir.Path()});
    ASSERT_NE(service.Port(), 0);
    const std::string page = Fetch(service.Port(), StockRequest("ACME")).bytes;
    EXPECT_NE(page.find("Acme Robotics"), std::string::npos) << page;
    EXPECT_NE(Fetch(service.Port(), StockRequest("IBM")).bytes.find("Please try again"),
              std::string::npos);
    EXPECT_EQ(service.Stop(), 0);
}

}  // namespace
}  // namespace quillon::sim
