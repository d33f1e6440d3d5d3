#include "sim/market_source.h"

#include "platform/clock.h"

namespace quillon::sim {

const Market& SyntheticSource::Today() {
    const DateTime now = SystemClock().Now();
    const DateTime today{now.Year, now.Month, now.Day, 0, 0, 0};
    const bool stale = !market_ || market_->Today().Year != today.Year ||
                       market_->Today().Month != today.Month || market_->Today().Day != today.Day;
    if (stale) market_.emplace(seed_, today);
    return *market_;
}

std::optional<SimStock> SyntheticSource::Stock(std::string_view ticker) {
    return Today().Stock(ticker);
}

std::vector<SimOption> SyntheticSource::Options(const SimStock& stock) {
    return Today().Options(stock);
}

}  // namespace quillon::sim
