// The quote sources: the figures each lacks, which filters a scan of it
// refuses, and the access token's store.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "results/source_figures.h"
#include "results/token_store.h"
#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

TEST(SourceFigures, FiltersOnFiguresTheSourceLacksAreRefusedByName) {
    const struct Case {
        QuoteSource source;
        std::vector<FilterIndex> set;
        std::string refusal;
    } cases[] = {
        {QuoteSource::Server, {TX_MinPE, TX_MaxRange}, ""},
        {QuoteSource::Local, {TX_MinYield}, ""},
        {QuoteSource::Exchange, {TX_MinVolume, TX_MinLast, TX_MinOptVol, TX_MinCallPutRatio}, ""},
        {QuoteSource::Exchange,
         {TX_MaxPE},
         "The filter TX_MaxPE tests a figure that the exchange's delayed quotes do not give "
         "(P/E, market cap (shares outstanding), volatility of the quote, dividend yield, "
         "52-week range), so every stock would fail it. Clear it or choose another quote "
         "source."},
        {QuoteSource::Tradier, {TX_MinRange, TX_MaxRange}, ""},
        {QuoteSource::Tradier,
         {TX_MinRange, TX_MinMktCap, TX_MaxBeta, TX_MinYield},
         "The filters TX_MinMktCap, TX_MaxBeta, TX_MinYield test figures that Tradier does not "
         "give (P/E, market cap (shares outstanding), volatility of the quote, dividend "
         "yield), so every stock would fail them. Clear them or choose another quote source."},
    };
    for (const Case& c : cases) {
        FilterValues filters;
        for (const FilterIndex index : c.set)
            filters[index] = FilterValue::Number(1);
        EXPECT_EQ(SourceFilterRefusal(filters, c.source), c.refusal) << QuoteSourceName(c.source);
    }
}

TEST(TokenStore, KeptOwnerOnlyAndReadBackAsOneWord) {
    testing::TempDir dir;
    const WorkingFileNames files = WorkingFileNames::In(dir.Path());
    EXPECT_FALSE(LoadToken(files));
    ASSERT_TRUE(SaveToken(files, "Abc123-xyz"));
    struct stat status {};
    ASSERT_EQ(::stat(files.TokenFile.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(dir.Read(kTokenFile), "Abc123-xyz\r\n");
    EXPECT_EQ(LoadToken(files), "Abc123-xyz");
    for (const char* bad : {"", "two words", "tab\there", "\x80\x81"}) {
        EXPECT_FALSE(TokenCanBeKept(bad)) << bad;
        dir.Write(kTokenFile, std::string(bad) + "\n");
        EXPECT_FALSE(LoadToken(files)) << bad;
    }
    EXPECT_FALSE(TokenCanBeKept(std::string(kMaxTokenBytes + 1, 'a')));
}

}  // namespace
}  // namespace quillon
