// Any bytes as page text, scanned by a sequence of the cursor routines that
// the bytes themselves choose: nothing reads outside the text, the cursor
// only moves forward (a cut sets it back to 1 of a shorter text) and never
// past the position just after the end, numbers stay finite and within the
// range of two 32-bit integers, and tokens hold no control characters.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "market/page_scan.h"

namespace {

using quillon::QuoteState;

void Check(bool condition) {
    if (!condition) std::abort();
}

// One routine on the quote; `choice` picks it and its length argument.
void Step(QuoteState& quote, unsigned choice) {
    switch (choice % 7) {
        case 0: {
            const float value = quillon::ReadNumber(quote);
            Check(std::isfinite(value) && std::fabs(value) <= 8.6e9f);
            break;
        }
        case 1:
            quillon::ReadInteger(quote);
            break;
        case 2: {
            const int maxLen = static_cast<int>(choice / 7 % 40) - 2;
            const std::string token = quillon::ReadToken(quote, maxLen);
            Check(static_cast<int>(token.size()) <= (maxLen < 0 ? 0 : maxLen));
            for (char c : token)
                Check(static_cast<unsigned char>(c) >= ' ');
            break;
        }
        case 3:
            quillon::NextField(quote);
            break;
        case 4:
            quillon::NextValue(quote);
            break;
        case 5:
            quillon::FindKeyword(quote, choice & 8 ? " (." : "LAST SALE");
            break;
        default:
            quillon::CutAtCursor(quote);
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    QuoteState quote;
    quote.PageText = std::string(bytes);
    quote.ScanPos = 1;

    std::size_t cutOff = 0;  // characters of the input the cuts have dropped
    for (std::size_t step = 0; step < 2 * size + 8; ++step) {
        const auto counter = static_cast<unsigned>(step);
        const unsigned choice = size == 0 ? counter : data[step % size] + counter;
        const int before = quote.ScanPos;
        const std::size_t lengthBefore = quote.PageText.size();
        Step(quote, choice);
        if (quote.PageText.size() != lengthBefore) {
            // A cut drops exactly the text before the cursor.
            Check(quote.ScanPos == 1);
            cutOff += static_cast<std::size_t>(before) - 1;
            Check(quote.PageText == bytes.substr(cutOff));
        } else {
            Check(quote.ScanPos >= before || (choice % 7 == 5));
        }
        Check(quote.ScanPos >= 1 && quote.ScanPos <= static_cast<int>(quote.PageText.size()) + 1);
    }
    return 0;
}
