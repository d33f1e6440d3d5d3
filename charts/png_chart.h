#pragma once
// A line chart written as a PNG file with nothing but the standard library:
// an RGB raster with anti-aliased lines, a built-in 5x7 bitmap font, the
// chart's layout (axes, zero line, ticks, labels, title, legend) and a PNG
// encoder that packs the pixels with deflate's fixed Huffman code.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

struct LineSeries {
    std::string Name;
    std::vector<double> Y;
};

// Draws one line per series over the x positions 0..xLabels.size()-1 (Y[i] at
// x = i; a NaN or an infinity is a gap, values past the last label are not
// drawn, a point with gaps on both sides is a dot), with axes, a zero line, y
// tick labels, a few x labels, a title and a legend, and writes it as an 8-bit
// RGB PNG of 900 x 500 pixels. The bytes go to a temporary file in the same
// directory, are flushed to disk and renamed over `path`, so a failed write
// leaves neither a partial file nor a changed old one. False with `error` set
// ("cannot write FILE: reason") when the file cannot be written.
bool WritePngLineChart(const std::string& path, const std::string& title,
                       const std::vector<std::string>& xLabels,
                       const std::vector<LineSeries>& series, std::string& error);

namespace chart {

struct Rgb {
    std::uint8_t R = 0, G = 0, B = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// A width x height raster of RGB pixels, row by row from the top, filled
// with `fill`. Drawing outside it is ignored.
class RgbImage {
  public:
    RgbImage(int width, int height, Rgb fill);

    int Width() const { return width_; }
    int Height() const { return height_; }
    Rgb At(int x, int y) const;
    void Set(int x, int y, Rgb colour);
    // Mixes `colour` into the pixel with the weight `alpha` (0..1).
    void Blend(int x, int y, Rgb colour, double alpha);
    void FillRect(int x0, int y0, int x1, int y1, Rgb colour);  // inclusive corners
    // Three bytes per pixel, R G B, rows from the top.
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

  private:
    int width_;
    int height_;
    std::vector<std::uint8_t> bytes_;
};

// The chart's colours, apart from the series'.
inline constexpr Rgb kBackground{255, 255, 255};
inline constexpr Rgb kGrid{226, 226, 226};
inline constexpr Rgb kZeroLine{96, 96, 96};
inline constexpr Rgb kAxis{0, 0, 0};
inline constexpr Rgb kText{32, 32, 32};

// The colour of the series with this index: a fixed palette of well
// separated colours first, then hues spread around the colour wheel.
Rgb SeriesColour(std::size_t index);

// The text's width in pixels drawn at `scale` (each glyph 5 x 7 pixels plus
// one column of space, times the scale; descenders reach two rows lower).
int TextWidth(std::string_view text, int scale);
// Draws `text` with its top-left corner at (x, y). Characters without a glyph
// are drawn as '?'.
void DrawText(RgbImage& image, int x, int y, std::string_view text, Rgb colour, int scale);

// Where everything of a chart goes: the plot rectangle (its axes on the left
// and bottom edges), the padded y range, the ticks and the x labels shown.
struct ChartLayout {
    int Width = 0, Height = 0;
    int PlotLeft = 0, PlotTop = 0, PlotRight = 0, PlotBottom = 0;
    double YLow = 0, YHigh = 0;  // the values at PlotBottom and PlotTop
    std::size_t Points = 0;      // x positions, one per x label
    std::vector<double> YTicks;
    std::vector<std::string> YTickLabels;
    std::vector<std::size_t> XLabelIndexes;

    // The pixel column of x position i and the pixel row of value y, not
    // rounded.
    double XPixel(std::size_t i) const;
    double YPixel(double y) const;
};

ChartLayout LayOutChart(const std::vector<std::string>& xLabels,
                        const std::vector<LineSeries>& series);
RgbImage DrawLineChart(const std::string& title, const std::vector<std::string>& xLabels,
                       const std::vector<LineSeries>& series);

// The checksums PNG and zlib use: CRC-32 (reflected, polynomial 0xEDB88320)
// and Adler-32.
std::uint32_t Crc32(std::string_view bytes);
std::uint32_t Adler32(std::string_view bytes);

// `raw` as one deflate block of the fixed Huffman code, whose matches reach
// back one byte, three bytes (a pixel) or `stride` bytes (a row).
std::string Deflate(std::string_view raw, std::size_t stride);

// The image as a PNG file: 8-bit RGB, no interlace, every row unfiltered, the
// zlib stream one fixed-Huffman deflate block.
std::string EncodePng(const RgbImage& image);

}  // namespace chart
}  // namespace quillon
