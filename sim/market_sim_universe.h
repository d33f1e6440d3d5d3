#pragma once
// The listed companies of the synthetic market: ticker and company name,
// sorted by ticker. The names are invented.

#include <span>

namespace quillon::sim {

struct Listing {
    const char* Ticker;
    const char* CompanyName;
};

std::span<const Listing> Listings();

}  // namespace quillon::sim
