#include "market/page_scan.h"

#include <algorithm>
#include <climits>
#include <limits>

namespace quillon {

namespace {

constexpr unsigned kBlank = ' ';
constexpr std::string_view kNoBreakSpace = "&NBSP;";

// 10 to the power n, exact up to 10^22; infinity once past the double range,
// which makes a fraction of that many digits 0.
double PowerOfTen(std::size_t n) {
    double power = 1;
    for (std::size_t i = 0; i < n && power <= std::numeric_limits<double>::max(); ++i)
        power *= 10;
    return power;
}

bool IsDigit(unsigned c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::string StripTags(std::string_view text) {
    std::string stripped;
    stripped.reserve(text.size());
    bool insideTag = false;
    for (char c : text) {
        if (c == '<') {
            insideTag = true;
        } else if (c == '>') {
            insideTag = false;
        } else if (!insideTag) {
            stripped.push_back(c);
        }
    }
    return stripped;
}

// ---------------------------------------------------------------- PageCursor

PageCursor::PageCursor(QuoteState& quote) : quote_(quote) {
    const std::size_t end = quote.PageText.size() + 1;
    pos_ = quote.ScanPos < 1 ? 1 : std::min(static_cast<std::size_t>(quote.ScanPos), end);
}

PageCursor::~PageCursor() {
    if (base_ > 0) quote_.PageText.erase(0, base_);
    quote_.ScanPos = static_cast<int>(std::min(pos_, static_cast<std::size_t>(INT_MAX)));
}

std::string_view PageCursor::Text() const {
    return std::string_view(quote_.PageText).substr(base_);
}

unsigned PageCursor::At(std::size_t pos) const {
    if (pos < 1 || pos > Length()) return 0;
    // Unsigned, so that bytes from 0x80 are field characters, not control ones.
    return static_cast<unsigned char>(quote_.PageText[base_ + pos - 1]);
}

bool PageCursor::SkipBlanks() {
    while (!PastEnd() && Current() == kBlank)
        ++pos_;
    return !PastEnd();
}

bool PageCursor::FindKeyword(std::string_view keyword) {
    const std::size_t at = Text().find(keyword);
    if (at == std::string_view::npos) return false;
    pos_ = at + keyword.size() + 1;
    return true;
}

bool PageCursor::NextField() {
    while (!PastEnd() && Current() >= kBlank)
        ++pos_;
    if (PastEnd()) return false;
    while (!PastEnd() && Current() < kBlank)
        ++pos_;
    return !PastEnd();
}

bool PageCursor::NextValue() {
    if (!NextField()) return false;
    while (!PastEnd() && Current() <= kBlank)
        ++pos_;
    return !PastEnd();
}

std::string PageCursor::ReadToken(int maxLen) {
    std::string token;
    if (!SkipBlanks()) return token;
    for (int i = 0; i < maxLen && Current() >= kBlank; ++i, ++pos_)
        token.push_back(static_cast<char>(Current()));
    if (token.starts_with(kNoBreakSpace)) token.clear();
    return token;
}

std::uint32_t PageCursor::ReadInteger() {
    if (!SkipBlanks()) return 0;
    std::uint32_t value = 0;
    for (; IsDigit(Current()); ++pos_)
        value = value * 10u + (Current() - '0');
    return value;
}

float PageCursor::ReadNumber() {
    if (!SkipBlanks()) return 0;
    bool negative = false;
    if (Current() == '+') {
        ++pos_;
    } else if (Current() == '-') {
        ++pos_;
        negative = true;
    }
    double whole = ReadInteger();
    double numerator = 0;
    double denominator = 1;
    if (Current() == kBlank) {
        // "124 5/8"; without a "/" the two runs of digits add up.
        numerator = ReadInteger();
        if (Current() == '/') ++pos_;
        denominator = ReadInteger();
    } else if (Current() == '.') {
        // The decimals count every character ReadInteger passed, blanks too.
        ++pos_;
        const std::size_t start = pos_;
        numerator = ReadInteger();
        denominator = PowerOfTen(pos_ - start);
    } else if (Current() == '/') {
        // "5/8": the digits read were the numerator.
        ++pos_;
        numerator = whole;
        whole = 0;
        denominator = ReadInteger();
    }
    if (denominator == 0) denominator = 1;
    // At most 2 * 2^32 in magnitude, so always within the float range.
    const float value = static_cast<float>(numerator / denominator + whole);
    return negative ? -value : value;
}

void PageCursor::CutAtCursor() {
    base_ += pos_ - 1;
    pos_ = 1;
}

// ---------------------------------------------------------------- on the quote

bool FindKeyword(QuoteState& quote, std::string_view keyword) {
    return PageCursor(quote).FindKeyword(keyword);
}

bool NextField(QuoteState& quote) {
    return PageCursor(quote).NextField();
}

bool NextValue(QuoteState& quote) {
    return PageCursor(quote).NextValue();
}

std::string ReadToken(QuoteState& quote, int maxLen) {
    return PageCursor(quote).ReadToken(maxLen);
}

std::uint32_t ReadInteger(QuoteState& quote) {
    return PageCursor(quote).ReadInteger();
}

float ReadNumber(QuoteState& quote) {
    return PageCursor(quote).ReadNumber();
}

void CutAtCursor(QuoteState& quote) {
    PageCursor(quote).CutAtCursor();
}

}  // namespace quillon
