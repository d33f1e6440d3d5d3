#pragma once
// Scanning of a received page: the markup tags stripped, then a cursor that
// finds keywords and reads the fields after them. The page text is upper
// case; control characters (codes below 32, and the end of the text) separate
// its fields, blanks do not. ScanPos is 1-based; the position just past the
// end reads as character 0, so every scan stops there.
//
// Cutting at the cursor drops the text before ScanPos, so later keyword
// searches only see the rest of the page. The whole rest is kept, however
// long.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "market/quote.h"

namespace quillon {

// The text without its markup tags: everything from "<" to the next ">" goes,
// both included. Entities, comments and quoted ">" get no special handling.
std::string StripTags(std::string_view text);

// The page parsers' cursor over a quote's PageText and ScanPos. A cut only
// moves the start of the visible text, so cutting once per option row stays
// linear in the page length; when the cursor goes out of scope the text that
// is left and the cursor are written back to the quote, exactly as if every
// cut had shortened PageText at once.
class PageCursor {
  public:
    // Starts at the quote's ScanPos; a position outside the text is moved to
    // its nearer end (1, or just past the last character).
    explicit PageCursor(QuoteState& quote);
    ~PageCursor();
    PageCursor(const PageCursor&) = delete;
    PageCursor& operator=(const PageCursor&) = delete;

    // What is left of the page after the cuts so far.
    std::string_view Text() const;
    // The 1-based cursor in Text().
    std::size_t ScanPos() const { return pos_; }

    // Finds the first occurrence of `keyword` in the whole of Text(), not
    // from the cursor; puts the cursor just after it. Not found: the cursor
    // stays and the result is false.
    bool FindKeyword(std::string_view keyword);
    // Moves past the rest of the current field and the control characters
    // after it to the first character of the next field; false at the end.
    bool NextField();
    // NextField, then past blanks and control characters to the first
    // character of a value; false at the end. A value on the keyword's own
    // field is therefore never read.
    bool NextValue();
    // A text of at most `maxLen` characters after leading blanks, up to the
    // next control character; blanks inside stay. Empty when it begins with
    // "&NBSP;".
    std::string ReadToken(int maxLen);
    // A run of decimal digits after leading blanks; 0 when there are none.
    // Accumulates in 32 bits and wraps; the cursor ends on the first
    // character that is not a digit.
    std::uint32_t ReadInteger();
    // A signed price, decimal ("3.125") or fractional ("124 5/8", "5/8").
    // Text without digits reads as 0.
    float ReadNumber();
    // Drops the text before the cursor; the cursor becomes 1.
    void CutAtCursor();

  private:
    std::size_t Length() const { return quote_.PageText.size() - base_; }
    bool PastEnd() const { return pos_ > Length(); }
    // The character at `pos` as a code 0 to 255; 0 past the end.
    unsigned At(std::size_t pos) const;
    unsigned Current() const { return At(pos_); }
    // Advances past blanks; false when that reaches the end of the text.
    bool SkipBlanks();

    QuoteState& quote_;
    std::size_t base_ = 0;  // characters of PageText cut off so far
    std::size_t pos_ = 1;   // 1-based in the text after base_
};

// The same operations on a quote's PageText and ScanPos directly. A cut here
// shortens PageText at once.
bool FindKeyword(QuoteState& quote, std::string_view keyword);
bool NextField(QuoteState& quote);
bool NextValue(QuoteState& quote);
std::string ReadToken(QuoteState& quote, int maxLen);
std::uint32_t ReadInteger(QuoteState& quote);
float ReadNumber(QuoteState& quote);
void CutAtCursor(QuoteState& quote);

}  // namespace quillon
