#include "scan/quote_requests.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using testing::TempDir;

struct HostsCase {
    std::string text;
    QuoteHost delayed;
    QuoteHost realTime;
};

TEST(QuoteHosts, HostAndPortPerLine) {
    const QuoteHost delayed{"127.0.0.1", "80"};
    const QuoteHost realTime{"127.0.0.2", "80"};
    const HostsCase cases[] = {
        {"", delayed, realTime},
        {"10.0.0.1\n", {"10.0.0.1", "80"}, realTime},
        {"10.0.0.1:81\r\nquotes.example:8080\r\n", {"10.0.0.1", "81"}, {"quotes.example", "8080"}},
        // Blanks around the host, the colon and the port do not count.
        {"127.0.0.1 : 18141\r\n", {"127.0.0.1", "18141"}, realTime},
        {" \thost\t:\t81 \r\n  other :82", {"host", "81"}, {"other", "82"}},
        {"  host  \n", {"host", "80"}, realTime},
        // A blank line keeps the built-in host; so do lines after the second.
        {" \t\r\n10.0.0.2\nthird:3\n", delayed, {"10.0.0.2", "80"}},
        // Split at the last colon; what is left of either side is taken as it is.
        {"a:b:c\n", {"a:b", "c"}, realTime},
        {"host :\n : 90\n", {"host", ""}, {"", "90"}},
    };
    for (const HostsCase& c : cases) {
        SCOPED_TRACE(c.text);
        const QuoteHosts hosts = ParseQuoteHosts(c.text);
        EXPECT_EQ(hosts.Delayed.Host, c.delayed.Host);
        EXPECT_EQ(hosts.Delayed.Port, c.delayed.Port);
        EXPECT_EQ(hosts.RealTime.Host, c.realTime.Host);
        EXPECT_EQ(hosts.RealTime.Port, c.realTime.Port);
    }
}

TEST(QuoteHosts, ReadFromTheWorkingDirectory) {
    TempDir dir;
    EXPECT_EQ(ReadQuoteHosts(dir.Path()).Delayed.Host, "127.0.0.1");  // no file
    dir.Write("QuoteHosts.txt", "127.0.0.1 : 18141\r\n127.0.0.1: 18142\r\n");
    const QuoteHosts hosts = ReadQuoteHosts(dir.Path());
    EXPECT_EQ(hosts.Delayed.Port, "18141");
    EXPECT_EQ(hosts.RealTime.Host, "127.0.0.1");
    EXPECT_EQ(hosts.RealTime.Port, "18142");
    // Only the start of an oversized file is read.
    dir.Write("QuoteHosts.txt", "h:1\n" + std::string(1 << 20, 'x'));
    EXPECT_LT(ReadQuoteHosts(dir.Path()).RealTime.Host.size(), kMaxQuoteHostsBytes);
}

}  // namespace
}  // namespace quillon
