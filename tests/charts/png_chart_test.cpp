// The back-test's PNG line chart: the checksums, the deflate data and the
// file read back by a small PNG reader, where the lines land, gaps, the y
// range and ticks, and a write that fails.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "charts/png_chart.h"
#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using chart::Rgb;
using quillon::testing::TempDir;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMax = std::numeric_limits<double>::max();

std::uint32_t BigEndian(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

struct DecodedPng {
    std::uint32_t Width = 0, Height = 0;
    std::string Header;  // the 13 bytes of IHDR
    std::vector<std::string> Chunks;
    std::string Pixels;  // RGB, rows from the top

    Rgb At(int x, int y) const {
        const std::size_t i = (static_cast<std::size_t>(y) * Width + x) * 3;
        return {static_cast<std::uint8_t>(Pixels.at(i)), static_cast<std::uint8_t>(Pixels[i + 1]),
                static_cast<std::uint8_t>(Pixels[i + 2])};
    }
};

// Inflates a zlib stream's deflate data at `at`: stored blocks and blocks of
// the fixed Huffman code, the two kinds the writer may give. Returns what is
// wrong, or "" with `at` just past the data.
std::string Inflate(const std::string& in, std::size_t& at, std::string& out) {
    std::size_t bit = at * 8;
    auto read = [&](int count) -> long {  // least significant bit first
        long value = 0;
        for (int i = 0; i < count; ++i, ++bit) {
            if (bit / 8 >= in.size()) return -1;
            value |= static_cast<long>((in[bit / 8] >> (bit % 8)) & 1) << i;
        }
        return value;
    };
    auto code = [&](int count) -> long {  // most significant bit first
        long value = 0;
        for (int i = 0; i < count; ++i) {
            const long b = read(1);
            if (b < 0) return -1;
            value = value << 1 | b;
        }
        return value;
    };
    static const int kLength[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int kDistance[30] = {
        1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    for (bool last = false; !last;) {
        last = read(1) == 1;
        const long type = read(2);
        if (type == 0) {
            bit = (bit + 7) / 8 * 8;
            const std::size_t byte = bit / 8;
            if (byte + 4 > in.size()) return "truncated block";
            const unsigned len = (unsigned char)in[byte] | (unsigned char)in[byte + 1] << 8;
            const unsigned nlen = (unsigned char)in[byte + 2] | (unsigned char)in[byte + 3] << 8;
            if ((len ^ 0xFFFF) != nlen) return "LEN/NLEN";
            out += in.substr(byte + 4, len);
            bit = (byte + 4 + len) * 8;
            continue;
        }
        if (type != 1) return "not a stored or fixed-Huffman block";
        for (;;) {
            long symbol = code(7);
            if (symbol < 0) return "truncated block";
            if (symbol <= 0x17) {
                symbol += 256;
            } else {
                symbol = symbol << 1 | read(1);
                if (symbol >= 0x30 && symbol <= 0xBF) {
                    symbol -= 0x30;
                } else if (symbol >= 0xC0 && symbol <= 0xC7) {
                    symbol += 280 - 0xC0;
                } else {
                    symbol = (symbol << 1 | read(1)) - 0x190 + 144;
                }
            }
            if (symbol < 256) {
                out.push_back(static_cast<char>(symbol));
                continue;
            }
            if (symbol == 256) break;
            if (symbol > 285) return "length code";
            const int l = static_cast<int>(symbol - 257);
            const int extra = l < 8 || l == 28 ? 0 : (l - 4) / 4;
            const long length = kLength[l] + read(extra);
            const long d = code(5);
            if (d < 0 || d > 29) return "distance code";
            const long distance = kDistance[d] + read(d < 4 ? 0 : static_cast<int>(d / 2 - 1));
            if (distance > static_cast<long>(out.size())) return "distance past the start";
            for (long i = 0; i < length; ++i)
                out.push_back(out[out.size() - static_cast<std::size_t>(distance)]);
        }
    }
    at = (bit + 7) / 8;
    return "";
}

// Reads an 8-bit RGB PNG whose rows are unfiltered; every CRC, the deflate
// data and the Adler-32 are checked. Returns what is wrong, or "" when the
// file is sound.
std::string ReadPng(const std::string& file, DecodedPng& png) {
    if (file.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return "signature";
    std::string idat;
    for (std::size_t at = 8; at < file.size();) {
        if (at + 12 > file.size()) return "truncated chunk";
        const std::uint32_t length = BigEndian(file, at);
        if (at + 12 + length > file.size()) return "chunk past the end";
        const std::string typeAndData = file.substr(at + 4, 4 + length);
        if (chart::Crc32(typeAndData) != BigEndian(file, at + 8 + length)) return "chunk CRC";
        png.Chunks.push_back(typeAndData.substr(0, 4));
        if (png.Chunks.back() == "IHDR") png.Header = typeAndData.substr(4);
        if (png.Chunks.back() == "IDAT") idat += typeAndData.substr(4);
        at += 12 + length;
    }
    if (png.Header.size() != 13) return "IHDR";
    png.Width = BigEndian(png.Header, 0);
    png.Height = BigEndian(png.Header, 4);
    if (idat.size() < 6 || idat[0] != '\x78' || (0x7800 + (unsigned char)idat[1]) % 31 != 0)
        return "zlib header";
    std::string raw;
    std::size_t at = 2;
    if (const std::string problem = Inflate(idat, at, raw); !problem.empty()) return problem;
    if (at + 4 != idat.size() || chart::Adler32(raw) != BigEndian(idat, at)) return "Adler-32";
    const std::size_t rowBytes = png.Width * 3 + 1;
    if (raw.size() != rowBytes * png.Height) return "pixel data size";
    for (std::size_t row = 0; row < png.Height; ++row) {
        if (raw[row * rowBytes] != 0) return "row filter";
        png.Pixels += raw.substr(row * rowBytes + 1, rowBytes - 1);
    }
    return "";
}

std::vector<std::string> Dates(std::size_t count) {
    std::vector<std::string> dates;
    for (std::size_t i = 0; i < count; ++i)
        dates.push_back("2025-" + std::to_string(10 + i / 28) + "-" + std::to_string(10 + i % 28));
    return dates;
}

// Writes the chart and reads it back; a failure to do either fails the test.
DecodedPng WriteAndRead(const std::vector<std::string>& labels,
                        const std::vector<LineSeries>& series) {
    TempDir dir;
    std::string error;
    EXPECT_TRUE(WritePngLineChart(dir.File("chart.png"), "Excess return", labels, series, error))
        << error;
    DecodedPng png;
    EXPECT_EQ(ReadPng(dir.Read("chart.png"), png), "");
    return png;
}

TEST(PngChart, ChecksumsOfKnownInputs) {
    const struct {
        std::string input;
        std::uint32_t crc, adler;
    } cases[] = {
        {"", 0x00000000, 0x00000001},
        {"a", 0xE8B7BE43, 0x00620062},
        {"123456789", 0xCBF43926, 0x091E01DE},
        {"Wikipedia", 0xADAAC02E, 0x11E60398},
        {std::string(100000, '\xFF'), 0x68C6CEC4, 0x149A302C},  // sums past one 5552-byte run
    };
    for (const auto& c : cases) {
        EXPECT_EQ(chart::Crc32(c.input), c.crc) << c.input.size();
        EXPECT_EQ(chart::Adler32(c.input), c.adler) << c.input.size();
    }
}

TEST(PngChart, DeflateInflatesBackToItsInput) {
    std::string noise;
    std::uint32_t seed = 7;
    for (int i = 0; i < 70000; ++i) {
        seed = seed * 1664525u + 1013904223u;
        noise.push_back(static_cast<char>(seed >> 24));
    }
    std::string rows;  // rows of 9 bytes, each like the one above but for a byte
    for (int row = 0; row < 40; ++row)
        rows += std::string(8, 'a') + static_cast<char>('0' + row % 10);
    const struct {
        std::string input;
        std::size_t stride;
    } cases[] = {
        {"", 10},
        {"x", 10},
        {"abcabcabcabc", 10},  // a match of the pixel before
        {std::string(1000, '\0'), 10},
        {std::string(259, 'z') + "y" + std::string(3, 'z'), 10},  // matches of 258 and 3 bytes
        {rows, 9},
        {noise, 2701},
    };
    for (const auto& c : cases) {
        const std::string packed = chart::Deflate(c.input, c.stride);
        std::string out;
        std::size_t at = 0;
        EXPECT_EQ(Inflate(packed, at, out), "") << c.input.size();
        EXPECT_TRUE(out == c.input) << c.input.size();
        EXPECT_EQ(at, packed.size()) << c.input.size();
    }
    EXPECT_LT(chart::Deflate(std::string(100000, 'w'), 2701).size(), 1000u);
}

TEST(PngChart, FileIsAnRgbPngOfTheDrawnChart) {
    const std::vector<std::string> labels = Dates(60);
    const std::vector<LineSeries> series = {{"1d", std::vector<double>(60, 0.01)},
                                            {"5d", std::vector<double>(60, -0.02)}};
    TempDir dir;
    std::string error;
    ASSERT_TRUE(WritePngLineChart(dir.File("c.png"), "Title", labels, series, error)) << error;
    const std::string file = dir.Read("c.png");
    DecodedPng png;
    ASSERT_EQ(ReadPng(file, png), "");
    EXPECT_EQ(png.Width, 900u);
    EXPECT_EQ(png.Height, 500u);
    EXPECT_EQ(png.Header.substr(8), std::string("\x08\x02\x00\x00\x00", 5));
    EXPECT_EQ(png.Chunks.front(), "IHDR");
    EXPECT_EQ(png.Chunks.back(), "IEND");
    EXPECT_LT(file.size(), 100000u) << "a chart is mostly runs of one colour";
    const chart::RgbImage drawn = chart::DrawLineChart("Title", labels, series);
    EXPECT_TRUE(png.Pixels == std::string(drawn.Bytes().begin(), drawn.Bytes().end()));
    // Only the chart is left in the directory: the temporary file was renamed.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);

    // Written again over the old file.
    ASSERT_TRUE(WritePngLineChart(dir.File("c.png"), "Title", labels, {}, error)) << error;
    EXPECT_NE(dir.Read("c.png"), file);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(PngChart, RangeTicksAndPointsOnTheirPixels) {
    const struct {
        const char* name;
        std::size_t labels;
        std::vector<double> y;
        double low, high;
    } cases[] = {
        {"no values", 5, {kNaN, kNaN}, -1, 1},
        {"zeros", 5, {0, 0, 0, 0, 0}, -1, 1},
        {"equal values", 3, {2, 2, 2}, -0.1, 2.1},
        {"both signs", 4, {-1, 3, 1, 0}, -1.2, 3.2},
        {"infinity is a gap", 3, {1, kInf, 3}, -0.15, 3.15},
        {"values past the labels", 2, {1, 2, 100}, -0.1, 2.1},
        {"one point", 1, {-4}, -4.2, 0.2},
        {"small values", 3, {1e-7, 3e-7, 2e-7}, -1.5e-8, 3.15e-7},
        {"huge values", 3, {1e300, -1e300, 5e299}, -1.1e300, 1.1e300},
        {"largest doubles", 2, {kMax, -kMax}, -kMax, kMax},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<LineSeries> series = {{"s", c.y}};
        const chart::ChartLayout layout = chart::LayOutChart(Dates(c.labels), series);
        EXPECT_NEAR(layout.YLow, c.low, std::fabs(c.low) * 1e-12);
        EXPECT_NEAR(layout.YHigh, c.high, std::fabs(c.high) * 1e-12);
        ASSERT_GE(layout.YTicks.size(), 3u);
        ASSERT_LE(layout.YTicks.size(), 12u);
        const double step = layout.YTicks[1] - layout.YTicks[0];
        for (std::size_t i = 0; i < layout.YTicks.size(); ++i) {
            const std::string& label = layout.YTickLabels[i];
            EXPECT_NEAR(std::strtod(label.c_str(), nullptr), layout.YTicks[i], step / 2) << label;
            if (layout.YTicks[i] == 0) {
                EXPECT_NE(label[0], '-') << label;
            }
        }
        const DecodedPng png = WriteAndRead(Dates(c.labels), series);
        for (std::size_t i = 0; i < std::min(c.y.size(), c.labels); ++i) {
            if (!std::isfinite(c.y[i])) continue;
            const int x = static_cast<int>(std::lround(layout.XPixel(i)));
            const int y = static_cast<int>(std::lround(layout.YPixel(c.y[i])));
            ASSERT_TRUE(std::isfinite(layout.YPixel(c.y[i])));
            if (y >= layout.PlotBottom) continue;  // only a clamped extreme lies on the axis
            EXPECT_TRUE(png.At(x, y) == chart::SeriesColour(0)) << "point " << i;
        }
    }
}

// The row of the first pixel of `colour` in column x, or -1.
int RowOf(const DecodedPng& png, int x, Rgb colour) {
    for (int y = 0; y < static_cast<int>(png.Height); ++y)
        if (png.At(x, y) == colour) return y;
    return -1;
}

TEST(PngChart, LineAtZeroLiesOnTheZeroLine) {
    const std::vector<std::string> labels = Dates(20);
    const DecodedPng blank = WriteAndRead(labels, {{"a", std::vector<double>(20, kNaN)}});
    const DecodedPng zeros = WriteAndRead(labels, {{"a", std::vector<double>(20, 0.0)}});
    const chart::ChartLayout layout = chart::LayOutChart(labels, {{"a", {0}}});
    const int first = static_cast<int>(std::lround(layout.XPixel(0)));
    const int last = static_cast<int>(std::lround(layout.XPixel(19)));
    const int zeroRow = RowOf(blank, (first + last) / 2, chart::kZeroLine);
    ASSERT_GT(zeroRow, layout.PlotTop);
    ASSERT_LT(zeroRow, layout.PlotBottom);
    for (int x = first; x <= last; ++x) {
        EXPECT_TRUE(blank.At(x, zeroRow) == chart::kZeroLine) << x;
        // The 2 px line covers the zero row fully and reaches at most one row above it.
        const int top = RowOf(zeros, x, chart::SeriesColour(0));
        EXPECT_TRUE(top == zeroRow || top == zeroRow - 1) << x << " " << top;
        EXPECT_TRUE(zeros.At(x, zeroRow) == chart::SeriesColour(0)) << x;
        EXPECT_FALSE(zeros.At(x, zeroRow + 2) == chart::SeriesColour(0)) << x;
    }
}

TEST(PngChart, GapsDrawNothingAndLonePointsShow) {
    const std::vector<std::string> labels = Dates(6);
    // Only the first point, a dot: the same y range, nothing drawn after it.
    const DecodedPng reference = WriteAndRead(labels, {{"a", {1, kNaN, kNaN, kNaN, kNaN, kNaN}}});
    const chart::ChartLayout layout = chart::LayOutChart(labels, {{"a", {1}}});
    const struct {
        std::vector<double> y;
        std::size_t from, to;  // the columns between these x positions are compared
        bool drawnBetween;
    } cases[] = {
        {{1, 1, kNaN, kNaN, 1, 1}, 1, 4, false},
        {{1, 1, kInf, -kInf, 1, 1}, 1, 4, false},
        {{1, kNaN, 1, 1, 1, 1}, 0, 2, false},
        {{1, 1, kNaN, 1, kNaN, 1}, 2, 4, true},  // a lone point is a dot
        {{1, 1, 1, 1, 1, 1}, 1, 4, true},
    };
    for (const auto& c : cases) {
        const DecodedPng png = WriteAndRead(labels, {{"a", c.y}});
        const int from = static_cast<int>(layout.XPixel(c.from)) + 6;
        const int to = static_cast<int>(layout.XPixel(c.to)) - 6;
        bool differs = false;
        for (int x = from; x <= to; ++x)
            for (int y = 0; y < static_cast<int>(png.Height); ++y)
                differs = differs || !(png.At(x, y) == reference.At(x, y));
        EXPECT_EQ(differs, c.drawnBetween) << ::testing::PrintToString(c.y);
    }
}

TEST(PngChart, XLabelsFewSpreadAndApart) {
    const struct {
        std::size_t points, minCount, maxCount;
    } cases[] = {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {7, 3, 7}, {250, 3, 7}, {5000, 3, 7}};
    for (const auto& c : cases) {
        const chart::ChartLayout layout = chart::LayOutChart(Dates(c.points), {});
        const auto& shown = layout.XLabelIndexes;
        EXPECT_GE(shown.size(), c.minCount) << c.points;
        EXPECT_LE(shown.size(), c.maxCount) << c.points;
        if (shown.empty()) continue;
        EXPECT_EQ(shown.front(), 0u);
        EXPECT_EQ(shown.back(), c.points - 1);
        for (std::size_t k = 1; k < shown.size(); ++k)  // "2025-10-17" is 59 px wide
            EXPECT_GT(layout.XPixel(shown[k]) - layout.XPixel(shown[k - 1]), 59 + 8) << k;
    }
}

TEST(PngChart, ColoursAreDistinct) {
    std::set<std::tuple<int, int, int>> seen = {
        {255, 255, 255}, {226, 226, 226}, {96, 96, 96}, {0, 0, 0}, {32, 32, 32}};
    for (std::size_t i = 0; i < 24; ++i) {
        const Rgb c = chart::SeriesColour(i);
        EXPECT_TRUE(seen.insert({c.R, c.G, c.B}).second) << i;
    }
}

TEST(PngChart, EveryLabelCharacterHasAGlyph) {
    auto draw = [](char c) {
        chart::RgbImage image(8, 10, chart::kBackground);
        chart::DrawText(image, 0, 0, std::string(1, c), chart::kAxis, 1);
        return image.Bytes();
    };
    const std::string characters =
        "0123456789-.,%+:/()ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    // Kept as texts: GCC 12 warns of a vector comparison it inlines in a set.
    std::set<std::string> shapes;
    for (char c : characters) {
        const std::vector<std::uint8_t> bytes = draw(c);
        EXPECT_TRUE(shapes.insert(std::string(bytes.begin(), bytes.end())).second)
            << c;  // drawn, and unlike any other
    }
    EXPECT_EQ(draw(' '), chart::RgbImage(8, 10, chart::kBackground).Bytes());
    EXPECT_EQ(draw('\xE9'), draw('?'));
}

TEST(PngChart, UnusualInputsStillMakeACleanFile) {
    std::vector<LineSeries> many;
    for (int i = 0; i < 40; ++i)
        many.push_back({"horizon " + std::to_string(i) + " days, a long name", {0.1 * i, -0.1}});
    const struct {
        const char* name;
        std::size_t labels;
        std::vector<LineSeries> series;
    } cases[] = {
        {"nothing", 0, {}},
        {"series without labels", 0, {{"a", {1, 2}}}},
        {"labels without series", 30, {}},
        {"empty values", 30, {{"a", {}}}},
        {"more series than the legend holds", 2, many},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DecodedPng png = WriteAndRead(Dates(c.labels), c.series);
        EXPECT_EQ(png.Width, 900u);
        const chart::ChartLayout layout = chart::LayOutChart(Dates(c.labels), c.series);
        EXPECT_GE(layout.PlotBottom - layout.PlotTop, 300);
    }
}

TEST(PngChart, FailedWriteSaysWhyAndLeavesNothing) {
    TempDir dir;
    std::filesystem::create_directory(dir.File("sub"));
    const struct {
        std::string path;
        std::string error;
    } cases[] = {
        {dir.File("missing/chart.png"),
         "cannot write " + dir.File("missing/chart.png") + ": No such file or directory"},
        {dir.File("sub"), "cannot write " + dir.File("sub") + ": Is a directory"},
        {"", "cannot write : no file name"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(WritePngLineChart(c.path, "t", Dates(3), {{"a", {1, 2, 3}}}, error));
        EXPECT_EQ(error, c.error);
    }
    // Only the directory made above: no temporary file was left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
    EXPECT_TRUE(std::filesystem::is_empty(dir.File("sub")));
}

}  // namespace
}  // namespace quillon
