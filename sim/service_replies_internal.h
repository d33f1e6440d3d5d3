#pragma once
// What the services' replies and the answers to their requests share.

#include <vector>

#include "platform/civil_day.h"
#include "sim/market_sim.h"

namespace quillon::sim {

// The expiration dates of a stock's options, ascending and each once, as
// its contract symbols give them on the market's date.
std::vector<CivilDay> ListedExpirations(const SimStock& stock,
                                        const std::vector<SimOption>& options,
                                        const CivilDay& marketDate);

}  // namespace quillon::sim
