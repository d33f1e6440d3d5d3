#pragma once
// Where the demo quote service takes its stocks and option rows from: the
// synthetic market of today's date, or a market read from CSV files. Both
// hand the service the same rows, so the pages it serves have one shape.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "sim/market_sim.h"

namespace quillon::sim {

class MarketSource {
  public:
    virtual ~MarketSource() = default;

    // The stock's quote; nothing for a ticker the source does not know.
    virtual std::optional<SimStock> Stock(std::string_view ticker) = 0;

    // The stock's option rows; empty when it lists none.
    virtual std::vector<SimOption> Options(const SimStock& stock) = 0;
};

// The synthetic market of the system date, built again when the date
// changes, so a service left running serves each day's market.
class SyntheticSource : public MarketSource {
  public:
    explicit SyntheticSource(std::uint64_t seed) : seed_(seed) {}

    std::optional<SimStock> Stock(std::string_view ticker) override;
    std::vector<SimOption> Options(const SimStock& stock) override;

  private:
    const Market& Today();

    std::uint64_t seed_;
    std::optional<Market> market_;
};

}  // namespace quillon::sim
