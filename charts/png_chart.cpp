#include "charts/png_chart.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <limits>
#include <system_error>
#include <utility>

#include "charts/axis_scale.h"
#include "platform/files.h"

namespace quillon {
namespace chart {
namespace {

// ---- The font ---------------------------------------------------------------

// A 5 x 7 glyph: one byte per row from the top, bit 4 the leftmost column.
// `Drop` moves the glyph down by that many rows, so that g, p, q, y and the
// comma reach below the baseline.
struct Glyph {
    char C;
    std::uint8_t Drop;
    std::uint8_t Rows[7];
};

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kGlyphAdvance = 6;
constexpr int kTextHeight = 9;  // with the two rows of descenders

// clang-format off
constexpr Glyph kGlyphs[] = {
    {' ', 0, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    {'0', 0, {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', 0, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', 0, {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', 0, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', 0, {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', 0, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', 0, {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', 0, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', 0, {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', 0, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', 0, {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', 0, {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', 0, {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', 0, {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', 0, {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', 0, {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', 0, {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', 0, {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', 0, {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'J', 0, {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', 0, {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', 0, {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', 0, {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', 0, {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', 0, {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', 0, {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', 0, {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'R', 0, {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', 0, {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', 0, {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', 0, {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', 0, {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', 0, {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', 0, {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', 0, {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}},
    {'Z', 0, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'a', 0, {0x00, 0x00, 0x0E, 0x01, 0x0F, 0x11, 0x0F}},
    {'b', 0, {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x1E}},
    {'c', 0, {0x00, 0x00, 0x0E, 0x10, 0x10, 0x11, 0x0E}},
    {'d', 0, {0x01, 0x01, 0x0D, 0x13, 0x11, 0x11, 0x0F}},
    {'e', 0, {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E}},
    {'f', 0, {0x06, 0x09, 0x08, 0x1C, 0x08, 0x08, 0x08}},
    {'g', 2, {0x0F, 0x11, 0x11, 0x11, 0x0F, 0x01, 0x0E}},
    {'h', 0, {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x11}},
    {'i', 0, {0x04, 0x00, 0x0C, 0x04, 0x04, 0x04, 0x0E}},
    {'j', 0, {0x02, 0x00, 0x06, 0x02, 0x02, 0x12, 0x0C}},
    {'k', 0, {0x10, 0x10, 0x12, 0x14, 0x18, 0x14, 0x12}},
    {'l', 0, {0x0C, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'m', 0, {0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11}},
    {'n', 0, {0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11}},
    {'o', 0, {0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E}},
    {'p', 2, {0x1E, 0x11, 0x11, 0x11, 0x1E, 0x10, 0x10}},
    {'q', 2, {0x0F, 0x11, 0x11, 0x11, 0x0F, 0x01, 0x01}},
    {'r', 0, {0x00, 0x00, 0x16, 0x19, 0x10, 0x10, 0x10}},
    {'s', 0, {0x00, 0x00, 0x0E, 0x10, 0x0E, 0x01, 0x1E}},
    {'t', 0, {0x08, 0x08, 0x1C, 0x08, 0x08, 0x09, 0x06}},
    {'u', 0, {0x00, 0x00, 0x11, 0x11, 0x11, 0x13, 0x0D}},
    {'v', 0, {0x00, 0x00, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'w', 0, {0x00, 0x00, 0x11, 0x11, 0x15, 0x15, 0x0A}},
    {'x', 0, {0x00, 0x00, 0x11, 0x0A, 0x04, 0x0A, 0x11}},
    {'y', 2, {0x11, 0x11, 0x11, 0x11, 0x0F, 0x01, 0x0E}},
    {'z', 0, {0x00, 0x00, 0x1F, 0x02, 0x04, 0x08, 0x1F}},
    {'-', 0, {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'.', 0, {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {',', 2, {0x00, 0x00, 0x00, 0x0C, 0x0C, 0x04, 0x08}},
    {'%', 0, {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03}},
    {'+', 0, {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00}},
    {':', 0, {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {';', 0, {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x04, 0x08}},
    {'/', 0, {0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x10}},
    {'(', 0, {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}},
    {')', 0, {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}},
    {'[', 0, {0x0E, 0x08, 0x08, 0x08, 0x08, 0x08, 0x0E}},
    {']', 0, {0x0E, 0x02, 0x02, 0x02, 0x02, 0x02, 0x0E}},
    {'_', 0, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F}},
    {'\'', 0, {0x04, 0x04, 0x08, 0x00, 0x00, 0x00, 0x00}},
    {'=', 0, {0x00, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x00}},
    {'<', 0, {0x02, 0x04, 0x08, 0x10, 0x08, 0x04, 0x02}},
    {'>', 0, {0x08, 0x04, 0x02, 0x01, 0x02, 0x04, 0x08}},
    {'?', 0, {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04}},
    {'!', 0, {0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x04}},
    {'#', 0, {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}},
    {'*', 0, {0x00, 0x04, 0x15, 0x0E, 0x15, 0x04, 0x00}},
    {'&', 0, {0x0C, 0x12, 0x14, 0x08, 0x15, 0x12, 0x0D}},
    {'$', 0, {0x04, 0x0F, 0x14, 0x0E, 0x05, 0x1E, 0x04}},
    {'|', 0, {0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
};
// clang-format on

const Glyph& GlyphOf(char c) {
    static const std::array<const Glyph*, 128> table = [] {
        std::array<const Glyph*, 128> t{};
        for (const Glyph& g : kGlyphs)
            t[static_cast<unsigned char>(g.C)] = &g;
        return t;
    }();
    const auto code = static_cast<unsigned char>(c);
    const Glyph* g = code < table.size() ? table[code] : nullptr;
    return g ? *g : *table['?'];
}

// ---- Layout figures -----------------------------------------------------------

constexpr int kChartWidth = 900;
constexpr int kChartHeight = 500;
constexpr int kMargin = 10;
constexpr int kTitleScale = 2;
constexpr int kPlotTop = kMargin + kTextHeight * kTitleScale + 10;
constexpr int kPlotRightGap = 24;  // room for half of the last x label
constexpr int kTickLength = 4;
constexpr int kXPadding = 6;  // between the axis and the first and last x position
constexpr int kMaxXLabels = 7;
constexpr int kXLabelGap = 24;
constexpr int kLegendRowHeight = 14;
constexpr int kMaxLegendRows = 4;
constexpr int kSwatchLength = 18;
constexpr int kSwatchGap = 5;
constexpr int kLegendEntryGap = 18;
constexpr std::size_t kMaxNameLength = 28;
constexpr double kLineHalfWidth = 1.0;  // lines 2 px wide
constexpr double kDotRadius = 2.5;      // a point with gaps on both sides

// The text cut to `maxLength` characters, the cut shown by "...".
std::string Shortened(const std::string& text, std::size_t maxLength) {
    if (text.size() <= maxLength) return text;
    return text.substr(0, maxLength > 3 ? maxLength - 3 : 0) + "...";
}

// The y range: the finite values and zero, padded by 5 % of the span on each
// side; -1 to 1 when there is no span (no values, or only zeros). Halves are
// taken before differences so that values near the largest double do not
// overflow.
void SetYRange(ChartLayout& layout, const std::vector<LineSeries>& series) {
    double low = 0, high = 0;
    for (const LineSeries& s : series) {
        const std::size_t count = std::min(s.Y.size(), layout.Points);
        for (std::size_t i = 0; i < count; ++i) {
            if (!std::isfinite(s.Y[i])) continue;
            low = std::min(low, s.Y[i]);
            high = std::max(high, s.Y[i]);
        }
    }
    const double halfSpan = high / 2 - low / 2;
    if (!(halfSpan > 1e-150)) {
        layout.YLow = -1;
        layout.YHigh = 1;
        return;
    }
    const double pad = 0.1 * halfSpan;
    const double largest = std::numeric_limits<double>::max();
    layout.YLow = std::max(low - pad, -largest);
    layout.YHigh = std::min(high + pad, largest);
}

// Ticks at a round step giving about six intervals inside the padded range.
void SetYTicks(ChartLayout& layout) {
    AxisScale scale = RoundAxis(layout.YLow, layout.YHigh, AxisEnds::AsGiven);
    layout.YTicks = std::move(scale.Ticks);
    layout.YTickLabels = std::move(scale.Labels);
}

struct LegendEntry {
    std::size_t Series;  // kNoSeries for the "+N more" text
    int X, Row;          // the left end and the legend row
    std::string Text;
};
constexpr std::size_t kNoSeries = std::numeric_limits<std::size_t>::max();

int LegendEntryWidth(const std::string& text) {
    return kSwatchLength + kSwatchGap + TextWidth(text, 1) + kLegendEntryGap;
}

// Entries row by row from `left`; at most kMaxLegendRows rows, the series
// that do not fit counted in a last "+N more".
std::vector<LegendEntry> PlaceLegend(const std::vector<LineSeries>& series, int left, int& rows) {
    std::vector<LegendEntry> entries;
    const int right = kChartWidth - kMargin;
    int x = left, row = 0;
    for (std::size_t i = 0; i < series.size(); ++i) {
        const std::string text = Shortened(series[i].Name, kMaxNameLength);
        const int width = LegendEntryWidth(text);
        if (x > left && x + width - kLegendEntryGap > right) {
            x = left;
            ++row;
        }
        if (row == kMaxLegendRows) break;
        entries.push_back({i, x, row, text});
        x += width;
    }
    rows = series.empty() ? 0 : std::min(row + 1, kMaxLegendRows);
    if (entries.size() < series.size()) {
        // Make room on the last row for the count of the series left out.
        auto moreText = [&] {
            return "+" + std::to_string(series.size() - entries.size()) + " more";
        };
        auto end = [&] {
            const LegendEntry& e = entries.back();
            return e.X + LegendEntryWidth(e.Text);
        };
        while (entries.size() > 1 && entries.back().Row == kMaxLegendRows - 1 &&
               end() + TextWidth(moreText(), 1) > right)
            entries.pop_back();
        const int moreX = entries.back().Row == kMaxLegendRows - 1 ? end() : left;
        entries.push_back({kNoSeries, moreX, kMaxLegendRows - 1, moreText()});
    }
    return entries;
}

int LegendTop(int rows) {
    return kChartHeight - 6 - rows * kLegendRowHeight;
}

// ---- Drawing --------------------------------------------------------------------

struct Point {
    double X, Y;
};

struct Clip {
    int X0, Y0, X1, Y1;  // inclusive
};

// Raises `coverage` to the share of each pixel that the segment a-b, drawn
// `halfWidth` wide on either side with round ends, covers. Pixel centres lie
// on whole coordinates, so a pixel within half a pixel of the segment's axis
// is fully covered.
void CoverSegment(std::vector<float>& coverage, int width, Point a, Point b, double halfWidth,
                  const Clip& clip) {
    const double reach = halfWidth + 1;
    const int x0 = std::max(clip.X0, static_cast<int>(std::floor(std::min(a.X, b.X) - reach)));
    const int x1 = std::min(clip.X1, static_cast<int>(std::ceil(std::max(a.X, b.X) + reach)));
    const int y0 = std::max(clip.Y0, static_cast<int>(std::floor(std::min(a.Y, b.Y) - reach)));
    const int y1 = std::min(clip.Y1, static_cast<int>(std::ceil(std::max(a.Y, b.Y) + reach)));
    const double dx = b.X - a.X, dy = b.Y - a.Y;
    const double length2 = dx * dx + dy * dy;
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            double t = length2 > 0 ? ((x - a.X) * dx + (y - a.Y) * dy) / length2 : 0;
            t = std::clamp(t, 0.0, 1.0);
            const double ex = x - (a.X + t * dx), ey = y - (a.Y + t * dy);
            const double share = halfWidth + 0.5 - std::sqrt(ex * ex + ey * ey);
            if (share <= 0) continue;
            float& cell = coverage[static_cast<std::size_t>(y) * width + x];
            cell = std::max(cell, static_cast<float>(std::min(share, 1.0)));
        }
    }
}

void DrawSeries(RgbImage& image, const ChartLayout& layout, const std::vector<double>& y,
                Rgb colour) {
    const Clip clip{layout.PlotLeft + 1, layout.PlotTop, layout.PlotRight, layout.PlotBottom - 1};
    std::vector<float> coverage(static_cast<std::size_t>(image.Width()) * image.Height(), 0.0f);
    const std::size_t count = std::min(y.size(), layout.Points);
    auto drawn = [&](std::size_t i) { return i < count && std::isfinite(y[i]); };
    for (std::size_t i = 0; i < count; ++i) {
        if (!drawn(i)) continue;
        const Point p{layout.XPixel(i), layout.YPixel(y[i])};
        if (drawn(i + 1)) {
            const Point q{layout.XPixel(i + 1), layout.YPixel(y[i + 1])};
            CoverSegment(coverage, image.Width(), p, q, kLineHalfWidth, clip);
        } else if (i == 0 || !drawn(i - 1)) {
            CoverSegment(coverage, image.Width(), p, p, kDotRadius, clip);
        }
    }
    for (int py = clip.Y0; py <= clip.Y1; ++py)
        for (int px = clip.X0; px <= clip.X1; ++px) {
            const float share = coverage[static_cast<std::size_t>(py) * image.Width() + px];
            if (share > 0) image.Blend(px, py, colour, share);
        }
}

// ---- Writing the file -------------------------------------------------------------------

std::string ErrnoText(int code) {
    return std::generic_category().message(code);
}

}  // namespace

// ---- RgbImage -------------------------------------------------------------------------------

RgbImage::RgbImage(int width, int height, Rgb fill)
    : width_(std::max(width, 1)), height_(std::max(height, 1)) {
    bytes_.resize(static_cast<std::size_t>(width_) * height_ * 3);
    for (std::size_t i = 0; i < bytes_.size(); i += 3) {
        bytes_[i] = fill.R;
        bytes_[i + 1] = fill.G;
        bytes_[i + 2] = fill.B;
    }
}

Rgb RgbImage::At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return {};
    const std::size_t i = (static_cast<std::size_t>(y) * width_ + x) * 3;
    return {bytes_[i], bytes_[i + 1], bytes_[i + 2]};
}

void RgbImage::Set(int x, int y, Rgb colour) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    const std::size_t i = (static_cast<std::size_t>(y) * width_ + x) * 3;
    bytes_[i] = colour.R;
    bytes_[i + 1] = colour.G;
    bytes_[i + 2] = colour.B;
}

void RgbImage::Blend(int x, int y, Rgb colour, double alpha) {
    if (alpha >= 1) return Set(x, y, colour);
    if (!(alpha > 0)) return;
    const Rgb old = At(x, y);
    auto mix = [alpha](std::uint8_t from, std::uint8_t to) {
        return static_cast<std::uint8_t>(std::lround(from + (to - from) * alpha));
    };
    Set(x, y, {mix(old.R, colour.R), mix(old.G, colour.G), mix(old.B, colour.B)});
}

void RgbImage::FillRect(int x0, int y0, int x1, int y1, Rgb colour) {
    for (int y = std::max(y0, 0); y <= std::min(y1, height_ - 1); ++y)
        for (int x = std::max(x0, 0); x <= std::min(x1, width_ - 1); ++x)
            Set(x, y, colour);
}

// ---- Colours and text -------------------------------------------------------------------------

Rgb SeriesColour(std::size_t index) {
    static constexpr Rgb kPalette[] = {
        {31, 119, 180}, {214, 39, 40},   {44, 160, 44},  {255, 127, 14}, {148, 103, 189},
        {140, 86, 75},  {227, 119, 194}, {23, 190, 207}, {188, 189, 34},
    };
    constexpr std::size_t kCount = sizeof kPalette / sizeof kPalette[0];
    if (index < kCount) return kPalette[index];
    // Further series: hues a golden angle apart, saturated and fairly dark so
    // that they stand out on white.
    const double hue = std::fmod(static_cast<double>(index - kCount) * 137.50776405, 360.0) / 60;
    const double value = 0.8, chroma = 0.7 * value;
    const double x = chroma * (1 - std::fabs(std::fmod(hue, 2.0) - 1));
    double r = 0, g = 0, b = 0;
    switch (static_cast<int>(hue)) {
        case 0:
            r = chroma, g = x;
            break;
        case 1:
            r = x, g = chroma;
            break;
        case 2:
            g = chroma, b = x;
            break;
        case 3:
            g = x, b = chroma;
            break;
        case 4:
            r = x, b = chroma;
            break;
        default:
            r = chroma, b = x;
            break;
    }
    const double m = value - chroma;
    auto byte = [m](double c) { return static_cast<std::uint8_t>(std::lround((c + m) * 255)); };
    return {byte(r), byte(g), byte(b)};
}

int TextWidth(std::string_view text, int scale) {
    if (text.empty()) return 0;
    return (static_cast<int>(text.size()) * kGlyphAdvance - 1) * scale;
}

void DrawText(RgbImage& image, int x, int y, std::string_view text, Rgb colour, int scale) {
    for (char c : text) {
        const Glyph& glyph = GlyphOf(c);
        for (int row = 0; row < kGlyphHeight; ++row)
            for (int column = 0; column < kGlyphWidth; ++column)
                if (glyph.Rows[row] & (0x10 >> column)) {
                    const int px = x + column * scale, py = y + (row + glyph.Drop) * scale;
                    image.FillRect(px, py, px + scale - 1, py + scale - 1, colour);
                }
        x += kGlyphAdvance * scale;
    }
}

// ---- Layout
// --------------------------------------------------------------------------------------

double ChartLayout::XPixel(std::size_t i) const {
    if (Points <= 1) return (PlotLeft + PlotRight) / 2.0;
    const double first = PlotLeft + kXPadding, last = PlotRight - kXPadding;
    return first + (last - first) * static_cast<double>(i) / static_cast<double>(Points - 1);
}

double ChartLayout::YPixel(double y) const {
    const double share = (y / 2 - YLow / 2) / (YHigh / 2 - YLow / 2);
    return PlotBottom - share * (PlotBottom - PlotTop);
}

ChartLayout LayOutChart(const std::vector<std::string>& xLabels,
                        const std::vector<LineSeries>& series) {
    ChartLayout layout;
    layout.Width = kChartWidth;
    layout.Height = kChartHeight;
    layout.Points = xLabels.size();
    SetYRange(layout, series);
    SetYTicks(layout);

    int labelWidth = 0;
    for (const std::string& label : layout.YTickLabels)
        labelWidth = std::max(labelWidth, TextWidth(label, 1));
    layout.PlotLeft = kMargin + labelWidth + 2 * kTickLength;
    layout.PlotRight = kChartWidth - kPlotRightGap;
    layout.PlotTop = kPlotTop;
    int legendRows = 0;
    PlaceLegend(series, layout.PlotLeft, legendRows);
    const int xLabelsBottom = (legendRows > 0 ? LegendTop(legendRows) : kChartHeight) - 8;
    layout.PlotBottom = xLabelsBottom - kTextHeight - 2 * kTickLength;

    // As many x labels as fit side by side, up to kMaxXLabels, spread evenly
    // from the first x position to the last.
    if (layout.Points > 0) {
        int widest = 0;
        for (const std::string& label : xLabels)
            widest = std::max(widest, TextWidth(label, 1));
        const double span = layout.XPixel(layout.Points - 1) - layout.XPixel(0);
        std::size_t count = static_cast<std::size_t>(span / (widest + kXLabelGap)) + 1;
        count = std::min({count, layout.Points, static_cast<std::size_t>(kMaxXLabels)});
        for (std::size_t k = 0; k < count; ++k)
            layout.XLabelIndexes.push_back(
                count == 1 ? 0 : (k * (layout.Points - 1) + (count - 1) / 2) / (count - 1));
    }
    return layout;
}

RgbImage DrawLineChart(const std::string& title, const std::vector<std::string>& xLabels,
                       const std::vector<LineSeries>& series) {
    const ChartLayout layout = LayOutChart(xLabels, series);
    RgbImage image(layout.Width, layout.Height, kBackground);
    const int left = layout.PlotLeft, right = layout.PlotRight;
    const int top = layout.PlotTop, bottom = layout.PlotBottom;

    for (std::size_t i = 0; i < layout.YTicks.size(); ++i) {
        const int y = static_cast<int>(std::lround(layout.YPixel(layout.YTicks[i])));
        image.FillRect(left + 1, y, right, y, kGrid);
        image.FillRect(left - kTickLength, y, left - 1, y, kAxis);
        const std::string& label = layout.YTickLabels[i];
        DrawText(image, left - kTickLength - 4 - TextWidth(label, 1), y - 3, label, kText, 1);
    }
    const int zeroRow = static_cast<int>(std::lround(layout.YPixel(0)));
    image.FillRect(left + 1, zeroRow, right, zeroRow, kZeroLine);
    image.FillRect(left, top, left, bottom, kAxis);
    image.FillRect(left, bottom, right, bottom, kAxis);

    for (std::size_t index : layout.XLabelIndexes) {
        const int x = static_cast<int>(std::lround(layout.XPixel(index)));
        image.FillRect(x, bottom + 1, x, bottom + kTickLength, kAxis);
        const std::string& label = xLabels[index];
        const int width = TextWidth(label, 1);
        const int textX = std::clamp(x - width / 2, 2, std::max(2, layout.Width - 2 - width));
        DrawText(image, textX, bottom + 2 * kTickLength, label, kText, 1);
    }

    for (std::size_t i = 0; i < series.size(); ++i)
        DrawSeries(image, layout, series[i].Y, SeriesColour(i));

    const std::size_t titleLength = (layout.Width - 2 * kMargin) / (kGlyphAdvance * kTitleScale);
    const std::string shownTitle = Shortened(title, titleLength);
    DrawText(image, (layout.Width - TextWidth(shownTitle, kTitleScale)) / 2, kMargin, shownTitle,
             kAxis, kTitleScale);

    int legendRows = 0;
    const std::vector<LegendEntry> legend = PlaceLegend(series, left, legendRows);
    for (const LegendEntry& entry : legend) {
        const int y = LegendTop(legendRows) + entry.Row * kLegendRowHeight;
        int x = entry.X;
        if (entry.Series != kNoSeries) {
            image.FillRect(x, y + 3, x + kSwatchLength - 1, y + 4, SeriesColour(entry.Series));
            x += kSwatchLength + kSwatchGap;
        }
        DrawText(image, x, y, entry.Text, kText, 1);
    }
    return image;
}

}  // namespace chart

bool WritePngLineChart(const std::string& path, const std::string& title,
                       const std::vector<std::string>& xLabels,
                       const std::vector<LineSeries>& series, std::string& error) {
    if (path.empty()) {
        error = "cannot write : no file name";
        return false;
    }
    const std::string png = chart::EncodePng(chart::DrawLineChart(title, xLabels, series));
    FileReplacement file(path);
    if (!file.Write(png) || !file.Commit()) {
        error = "cannot write " + path + ": " + chart::ErrnoText(file.Error());
        return false;
    }
    return true;
}

}  // namespace quillon
