#pragma once
// ChainIv30.txt: the IV30 of each stock of an imported quote archive, taken
// from the whole option chain the import read (the two listed strikes
// nearest the money in each month), kept beside Quote.txt because the
// archive holds only the strikes around the last sale that the scan reads.
// A local scan of the archive records these figures instead of the ones its
// own options would give, so a history backfilled from the same files and
// one continued by daily scans hold one IV30 per stock and day.
//
// One line a stock, CR LF, after a header line; a figure that is not there
// is an empty field:
//   Symbol,Date,Last,IV30,IV30 Calls,IV30 Puts,Days Near,Days Next
//   ACME,2025-10-14,50.5,40.012345,39.871234,40.153456,3,38

#include <string>
#include <string_view>
#include <unordered_map>

#include "analytics/iv_history.h"

namespace quillon {

inline constexpr const char* kChainIv30File = "ChainIv30.txt";

struct ChainIv30Entry {
    int Day = 0;     // the quotes' date, YYYYMMDD
    float Last = 0;  // the last sale the figure was taken at
    Iv30Result Iv30;
};

// By symbol.
using ChainIv30Table = std::unordered_map<std::string, ChainIv30Entry>;

// The header line, CR LF included.
std::string ChainIv30Header();
// One stock's line, CR LF included.
std::string ChainIv30Line(const std::string& symbol, const ChainIv30Entry& entry);

// The lines of a ChainIv30.txt that read whole; anything else (the header,
// damaged lines, a figure out of range) is passed over. A symbol given twice
// keeps its first line.
ChainIv30Table ReadChainIv30(std::string_view text);

// ChainIv30.txt in `directory`, read; empty when there is none or it cannot
// be read (the scan then takes IV30 from the archive's options).
ChainIv30Table LoadChainIv30(const std::string& directory);

// The stock's figure when the table holds one of day `day` taken at last sale
// `last` (an entry of another archive, or of a quote since changed, is not
// used); null otherwise. Blanks after the symbol do not count.
const Iv30Result* ChainIv30Of(const ChainIv30Table& table, std::string_view symbol, int day,
                              float last);

}  // namespace quillon
