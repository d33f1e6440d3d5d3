#include "market/page_scan.h"

#include <gtest/gtest.h>

#include <string>

namespace quillon {
namespace {

QuoteState Page(std::string text, int scanPos = 1) {
    QuoteState quote;
    quote.PageText = std::move(text);
    quote.ScanPos = scanPos;
    return quote;
}

TEST(StripTags, DropsEverythingFromOpeningToClosingBracket) {
    EXPECT_EQ(StripTags("<TD CLASS=\"A\">LAST\r\n<B>12</B>"), "LAST\r\n12");
    EXPECT_EQ(StripTags("A > B"), "A  B");        // a lone ">" only goes itself
    EXPECT_EQ(StripTags("1 < 2\r\nREST"), "1 ");  // an open tag runs to the end
    EXPECT_EQ(StripTags(std::string("A\0B", 3)), std::string("A\0B", 3));
}

TEST(ReadNumber, ReadsDecimalsFractionsAndSigns) {
    struct Case {
        std::string text;
        float value;
    };
    const Case cases[] = {
        {"124 5/8", 124.625f},
        {"- 2 1/16", -2.0625f},
        {"+ 7/16", 0.4375f},
        {"5/8", 0.625f},
        {"3.125", 3.125f},
        {".5", 0.5f},
        {"0.05", 0.05f},
        {"0", 0},
        {"  42\r\n7", 42},  // a control character ends the number
        {"124 7", 131},     // a blank always starts a fraction part
        {"2. 5", 2.05f},    // blanks after the point count as decimals
        {"7/0", 7},         // a zero denominator counts as 1
        {"1,234,500", 1},   // a thousands comma ends the digits
        {"-1.63%", -1.63f},
        {"N/A", 0},
        {"&NBSP;", 0},
        {"", 0},
        {"-", 0},
        {"4294967297", 1},  // 32-bit accumulation wraps
        {"1." + std::string(400, '0') + "1", 1},
    };
    for (const Case& c : cases) {
        QuoteState quote = Page(c.text);
        EXPECT_FLOAT_EQ(ReadNumber(quote), c.value) << c.text;
        EXPECT_LE(quote.ScanPos, static_cast<int>(c.text.size()) + 1) << c.text;
    }
}

TEST(ReadToken, ReadsUpToLengthOrControlCharacter) {
    struct Case {
        std::string text;
        int maxLen;
        std::string token;
    };
    const Case cases[] = {
        {"  NEW YORK\tNY", 36, "NEW YORK"},
        {"ABCDEFGHIJKL", 10, "ABCDEFGHIJ"},
        {"&NBSP;NYSE", 10, ""},
        {"NYSE&NBSP;", 10, "NYSE&NBSP;"},
        {"   ", 10, ""},
        {"\r\nX", 10, ""},
        {"\xC9T\xC9", 10, "\xC9T\xC9"},  // 8-bit letters are text, not separators
    };
    for (const Case& c : cases) {
        QuoteState quote = Page(c.text);
        EXPECT_EQ(ReadToken(quote, c.maxLen), c.token) << c.text;
    }
}

TEST(NextValue, SkipsTheRestOfTheKeywordsFieldAndBlankFields) {
    QuoteState quote = Page("LAST SALE: 12\r\n \t\r\n  34 1/2\r\nX");
    ASSERT_TRUE(FindKeyword(quote, "LAST SALE"));
    EXPECT_EQ(quote.ScanPos, 10);
    ASSERT_TRUE(NextValue(quote));
    EXPECT_FLOAT_EQ(ReadNumber(quote), 34.5f);
    ASSERT_TRUE(NextField(quote));
    EXPECT_EQ(ReadToken(quote, 5), "X");

    // The end of the text ends every scan, with the cursor just past it.
    const std::string endings[] = {"LAST SALE 12", "LAST SALE 12\r\n", "LAST SALE 12\r\n  \t"};
    for (const std::string& text : endings) {
        QuoteState end = Page(text);
        EXPECT_FALSE(NextValue(end)) << text;
        EXPECT_EQ(end.ScanPos, static_cast<int>(text.size()) + 1) << text;
    }
}

TEST(FindKeyword, SearchesTheWholeTextAndKeepsTheCursorWhenMissing) {
    QuoteState quote = Page("BID 1\r\nASK 2", 9);
    EXPECT_TRUE(FindKeyword(quote, "BID"));
    EXPECT_EQ(quote.ScanPos, 4);
    EXPECT_FALSE(FindKeyword(quote, "VOLUME"));
    EXPECT_EQ(quote.ScanPos, 4);
}

TEST(CutAtCursor, KeepsTheWholeRestOfALongPage) {
    QuoteState quote = Page("HEAD" + std::string(70000, 'X') + "TAIL", 5);
    CutAtCursor(quote);
    EXPECT_EQ(quote.PageText.size(), 70004u);
    EXPECT_EQ(quote.ScanPos, 1);
    EXPECT_FALSE(FindKeyword(quote, "HEAD"));
    EXPECT_TRUE(FindKeyword(quote, "TAIL"));
}

TEST(PageCursor, WritesBackWhatSeparateCutsWouldLeave) {
    QuoteState quote = Page("A (.ONE\r\nB (.TWO\r\nREST");
    {
        PageCursor page(quote);
        ASSERT_TRUE(page.FindKeyword(" (."));
        page.CutAtCursor();
        ASSERT_TRUE(page.FindKeyword(" (."));
        EXPECT_EQ(page.Text().substr(page.ScanPos() - 1), "TWO\r\nREST");
        page.CutAtCursor();
        EXPECT_EQ(page.ReadToken(5), "TWO");
        EXPECT_FALSE(page.FindKeyword("ONE"));
    }
    EXPECT_EQ(quote.PageText, "TWO\r\nREST");
    EXPECT_EQ(quote.ScanPos, 4);

    // A cursor outside the text starts at its nearer end.
    QuoteState outside = Page("AB", 99);
    EXPECT_EQ(PageCursor(outside).ScanPos(), 3u);
    outside.ScanPos = -5;
    EXPECT_EQ(PageCursor(outside).ScanPos(), 1u);
}

}  // namespace
}  // namespace quillon
