#pragma once
// A quote archive written from the synthetic market, as a server scan of it
// would have written it: for replay benchmarks, end-to-end tests and the demo.

#include <string>
#include <vector>

#include "sim/market_sim.h"

namespace quillon::sim {

// The tickers of an archive of `count` stocks: the market's own universe
// first; beyond it, tickers "S00000", "S00001", ... that borrow the stocks of
// the universe in turn. Sorted.
std::vector<std::string> ArchiveTickers(const Market& market, int count);

// Writes Quote.txt, AscQuote.txt (with its header), GoodSym.txt and
// BadSym.txt for `tickers` into `directory`, each stock as the archive
// writer records it on the market's date; also writes the tickers as the
// symbol file Symbols.sym. Returns false when a file cannot be written.
bool WriteArchive(const Market& market, const std::vector<std::string>& tickers,
                  const std::string& directory);

}  // namespace quillon::sim
