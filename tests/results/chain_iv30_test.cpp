// ChainIv30.txt: written and read back to the byte, damaged lines passed
// over, and a figure used only for its own day and last sale.
#include "results/chain_iv30.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(ChainIv30, LinesReadBackAndOnlyForTheirDayAndLastSale) {
    ChainIv30Entry acme;
    acme.Day = 20251014;
    acme.Last = 50.5f;
    acme.Iv30 = {40.0123456, 39.5, std::nullopt, 3, 38};
    const std::string line = ChainIv30Line("ACME", acme);
    EXPECT_EQ(line, "ACME,2025-10-14,50.5,40.012346,39.500000,,3,38\r\n");
    const std::string text = ChainIv30Header() + line +
                             "ACME,2025-10-14,51,20,,,3,38\r\n"  // a second line: the first counts
                             "BAD1,2025-13-14,50,20,,,3,38\r\n"
                             "BAD2,2025-10-14,-5,20,,,3,38\r\n"
                             "BAD3,2025-10-14,5,abc,,,3,38\r\n"
                             "BAD4,2025-10-14,5,20,,,3\r\n"
                             "BAD5,-025-10-14,5,20,,,3,38\n"
                             "DUNE,2025-10-14,8.25,31.5,,31.5,17,\n";
    const ChainIv30Table table = ReadChainIv30(text);
    ASSERT_EQ(table.size(), 2u);
    const struct {
        const char* symbol;
        int day;
        float last;
        std::optional<double> both;
    } lookups[] = {
        {"ACME", 20251014, 50.5f, 40.012346},    {"ACME  ", 20251014, 50.5f, 40.012346},
        {"ACME", 20251015, 50.5f, std::nullopt}, {"ACME", 20251014, 50.49f, std::nullopt},
        {"DUNE", 20251014, 8.25f, 31.5},         {"BAD1", 20251014, 50, std::nullopt},
    };
    for (const auto& l : lookups) {
        SCOPED_TRACE(l.symbol);
        const Iv30Result* found = ChainIv30Of(table, l.symbol, l.day, l.last);
        ASSERT_EQ(found != nullptr, l.both.has_value());
        if (found) {
            EXPECT_NEAR(*found->Both, *l.both, 1e-9);
        }
    }
    EXPECT_FALSE(table.at("DUNE").Iv30.Calls);
    EXPECT_EQ(table.at("DUNE").Iv30.DaysNext, std::nullopt);
}

}  // namespace
}  // namespace quillon
