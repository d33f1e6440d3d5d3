#pragma once
// The demo quote service's server: it answers the scanner's two requests
// (stock page, option page) from a market source, one request per
// connection, in a single thread that polls every socket without blocking,
// and can misbehave on purpose in the ways a real service can.

#include <netinet/in.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/market_source.h"
#include "sim/quote_service.h"

namespace quillon::sim {

// How the server misbehaves for tests: connections refused, no answer, half
// a page then a reset, the page a few bytes at a time, closed without an
// answer, option pages of megabytes.
enum class Fault { None, Refuse, Stall, Reset, Drip, Zero, Huge };

inline constexpr std::uint64_t kMostConnections = 1u << 20;

struct ServerConfig {
    std::vector<sockaddr_in> listen;
    std::string user = "guest";
    std::string password = "lantern4";
    Fault fault = Fault::None;
    std::uint64_t faultAfter = 0;  // requests served normally before the fault
    std::uint64_t maxConnections = 512;
};

// "127.0.0.1:8080".
std::string AddressText(const sockaddr_in& address);

class QuoteServer {
  public:
    using SteadyClock = std::chrono::steady_clock;
    struct Connection;

    QuoteServer(const ServerConfig& config, std::unique_ptr<MarketSource> market);
    ~QuoteServer();
    QuoteServer(const QuoteServer&) = delete;
    QuoteServer& operator=(const QuoteServer&) = delete;

    // Listens on every address of the configuration, printing "listening on
    // ADDR:PORT" for each; false, with the reason and what to run instead
    // on stderr, when one cannot be used.
    bool Open();
    // Serves until `stop` is set.
    void Run(const volatile std::sig_atomic_t& stop);
    void CloseAll();
    // The addresses listened on, with the ports port 0 picked.
    const std::vector<sockaddr_in>& Bound() const { return bound_; }

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

    const ServerConfig& config_;
    QuoteService service_;
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

}  // namespace quillon::sim
