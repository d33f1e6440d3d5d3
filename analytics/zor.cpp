#include "analytics/zor.h"

#include "analytics/pricing.h"

namespace quillon {

void ComputeZOR(const QuoteRecord& quote, OptionChain& chain, const ZorInputs& inputs) {
    const ExpirationCalendar& calendar = inputs.Calendar;
    const StrikeTable& strikes = inputs.Strikes;
    // "Last price" weighs the last price by volume; anything else is
    // "Ask price", weighing the ask by open interest.
    const bool fromLast = inputs.DeriveZorFrom == 0;

    PricingInputs in;
    in.StockPrice = quote.LastSale;
    in.DividendYield = static_cast<float>(static_cast<double>(quote.YieldPercent) * 0.01);
    in.InterestRate = inputs.InterestRate;

    ForEachNearMoneyOption([&](const OptionEntry& e) {
        const int type = e.Type;
        const int strike = e.Strike;
        const int month = e.Month;
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
        const float price = fromLast ? chain.OptLast[type][strike][month] : (ask > 0 ? ask : -1.0f);
        const float weight = fromLast ? volume : openInterest;

        const float z = ImpliedVolatility(in, type == 1, price);
        chain.OptZOR[type][strike][month] = z;
        if (!(weight > 0 && z > 0)) return;

        chain.TotalZOR[type] = static_cast<float>(static_cast<double>(chain.TotalZOR[type]) +
                                                  static_cast<double>(z) * weight);
        if (volume > 0) chain.TotalVolume[type] += volume;
        if (openInterest > 0) chain.TotalOpenInterest[type] += openInterest;
    });
}

}  // namespace quillon
