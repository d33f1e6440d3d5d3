// Any bytes as a received stock page.
//
// Receiving: the bytes go through the scan driver's receive handler in
// chunks whose sizes come from the first bytes; the page text it collects is
// every chunk up to its first zero byte, ASCII letters upper-cased.
//
// Parsing: the bytes, stripped of their tags, go through the stock page
// parser. It returns true exactly when it found a last sale above 0, leaves
// in PageText an end of the stripped page with the cursor inside it, keeps
// every text field within its length and every number finite, and caps the
// P/E at 100000.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/fuzz_context.h"
#include "market/page_scan.h"
#include "market/stock_page.h"
#include "scan/scan_driver.h"
#include "scan/scan_parts.h"
#include "scan/scan_view.h"

namespace {

using quillon::Context;
using quillon::fuzz::Check;
using quillon::fuzz::Services;

// A socket whose receive hands out the input in chunks: the sizes cycle
// through the first four bytes (1 to 9436, some above what one receive asks
// for). It records the upper-cased text each chunk should add.
class ChunkedSocket final : public quillon::QuoteSocket {
  public:
    explicit ChunkedSocket(std::string_view bytes) : bytes_(bytes) {}

    void SetServer(const std::string&, const std::string&) override {}
    void SConnect() override {}
    void SetText(const std::string&) override {}
    void Disconnect() override {}
    int SReceive(char* buffer, int max) override {
        if (offset_ == bytes_.size()) return 0;
        const std::size_t wanted = 1 + static_cast<unsigned char>(bytes_[chunks_ % 4]) * 37u;
        const std::size_t size =
            std::min({wanted, static_cast<std::size_t>(max), bytes_.size() - offset_});
        const std::string_view chunk = bytes_.substr(offset_, size);
        std::memcpy(buffer, chunk.data(), size);
        offset_ += size;
        ++chunks_;
        for (char c : chunk.substr(0, chunk.find('\0')))
            expected += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        return static_cast<int>(size);
    }

    std::string expected;

  private:
    std::string_view bytes_;
    std::size_t offset_ = 0;
    std::size_t chunks_ = 0;
};

void CheckReceive(Services& services, std::string_view bytes) {
    if (bytes.size() < 4) return;
    Context context(services.clock, services.messages, services.beeper);
    quillon::RecordingScanView view;
    ChunkedSocket socket(bytes);
    quillon::ScanDriver driver(context, view, socket);
    // The request goes out first: bytes before it belong to no reply.
    driver.SetScanStateForTest(quillon::SendRequest);
    driver.PB_GoClick();
    driver.ScanStep();
    driver.Sockets1DataAvailable();
    Check(context.quote.PageText == socket.expected);
}

void CheckParse(Services& services, std::string_view bytes) {
    Context context(services.clock, services.messages, services.beeper);
    const std::string stripped = quillon::StripTags(bytes);
    context.quote.PageText = stripped;
    const bool found = quillon::ParseStockPage(context);

    const quillon::QuoteState& quote = context.quote;
    const quillon::QuoteRecord& q = quote.Quote;
    Check(found == (q.LastSale > 0));
    Check(std::string_view(stripped).ends_with(quote.PageText));
    Check(quote.ScanPos >= 1 && quote.ScanPos <= static_cast<int>(quote.PageText.size()) + 1);
    Check(q.CompanyName.size() <= 36);
    for (const std::string* text :
         {&q.LastTick, &q.Exchange, &q.SaleTime, &q.BidAskSize, &q.ExDividendDate})
        Check(text->size() <= 10);
    for (float value :
         {q.LastSale, q.NetChange, q.PercentChange, q.Bid, q.Ask, q.OpenPrice, q.HighPrice,
          q.LowPrice, q.PreviousClose, q.High52Week, q.Low52Week, q.HistVolatility, q.Dividend,
          q.EarningsPerShare, q.PriceEarnings, q.YieldPercent})
        Check(std::isfinite(value));
    Check(q.Volume >= 0 && std::isfinite(q.SharesOutstanding));
    Check(q.PriceEarnings <= 100000);
    if (stripped.find("PLEASE TRY AGAIN") != std::string::npos)
        Check(!found && quote.PageText == stripped);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Services services;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CheckReceive(services, bytes);
    CheckParse(services, bytes);
    return 0;
}
