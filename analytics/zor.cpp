#include "analytics/zor.h"

#include "analytics/pricing.h"

namespace quillon {

void ComputeZOR(Context& context) {
    const QuoteRecord& quote = context.quote.Quote;
    OptionChain& chain = context.quote.Chain;
    const ExpirationCalendar& calendar = context.calendar;
    const StrikeTable& strikes = context.strikes;
    // "Last price" weighs the last price by volume; anything else is
    // "Ask price", weighing the ask by open interest.
    const bool fromLast = context.settings.Filters.DeriveZorFrom == 0;

    PricingInputs in;
    in.StockPrice = quote.LastSale;
    in.DividendYield = static_cast<float>(static_cast<double>(quote.YieldPercent) * 0.01);
    in.InterestRate = context.settings.InterestRate;

    for (int type = 0; type < kOptionTypes; ++type) {
        for (int strike = 1; strike <= 3; ++strike) {
            for (int month = 0; month <= 1; ++month) {
                in.StrikePrice = strikes.StrikePrices[strike];
                in.DaysToGo = calendar.DaysToExpiration[month];

                std::string& symbol = chain.OptSymbol[type][strike][month];
                if (symbol.empty()) {
                    symbol = quote.OptionRoot + calendar.MonthLetters[type][month] +
                             strikes.StrikeLetters[strike];
                }

                const float volume = chain.OptVolume[type][strike][month];
                const float openInterest = chain.OptOpenInterest[type][strike][month];
                const float ask = chain.OptAsk[type][strike][month];
                const float price =
                    fromLast ? chain.OptLast[type][strike][month] : (ask > 0 ? ask : -1.0f);
                const float weight = fromLast ? volume : openInterest;

                const float z = ImpliedVolatility(in, type == 1, price);
                chain.OptZOR[type][strike][month] = z;
                if (!(weight > 0 && z > 0)) continue;

                chain.TotalZOR[type] = static_cast<float>(
                    static_cast<double>(chain.TotalZOR[type]) + static_cast<double>(z) * weight);
                if (volume > 0) chain.TotalVolume[type] += volume;
                if (openInterest > 0) chain.TotalOpenInterest[type] += openInterest;
            }
        }
    }
}

}  // namespace quillon
