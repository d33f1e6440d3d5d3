// The PNG file of an image: the checksums, a deflate stream of fixed
// Huffman codes with matches of earlier rows, and the chunks around it.

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "charts/png_chart.h"

namespace quillon {
namespace chart {
namespace {

void AppendBigEndian(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void AppendChunk(std::string& out, const char type[4], std::string_view data) {
    AppendBigEndian(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.append(type, 4);
    out.append(data);
    AppendBigEndian(out, Crc32(std::string_view(out).substr(start)));
}

}  // namespace

std::uint32_t Crc32(std::string_view bytes) {
    static constexpr std::array<std::uint32_t, 256> kTable = [] {
        std::array<std::uint32_t, 256> table{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        return table;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (char byte : bytes)
        crc = kTable[(crc ^ static_cast<unsigned char>(byte)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::uint32_t Adler32(std::string_view bytes) {
    constexpr std::uint32_t kModulus = 65521;
    constexpr std::size_t kRun = 5552;  // the longest run whose sums fit in 32 bits
    std::uint32_t a = 1, b = 0;
    while (!bytes.empty()) {
        const std::size_t run = std::min(bytes.size(), kRun);
        for (std::size_t i = 0; i < run; ++i) {
            a += static_cast<unsigned char>(bytes[i]);
            b += a;
        }
        a %= kModulus;
        b %= kModulus;
        bytes.remove_prefix(run);
    }
    return (b << 16) | a;
}

namespace {

// Bits written from the least significant end, as deflate packs them.
class BitWriter {
  public:
    explicit BitWriter(std::string& out) : out_(out) {}
    void Bits(std::uint32_t value, int count) {
        buffer_ |= static_cast<std::uint64_t>(value) << filled_;
        filled_ += count;
        while (filled_ >= 8) {
            out_.push_back(static_cast<char>(buffer_ & 0xFF));
            buffer_ >>= 8;
            filled_ -= 8;
        }
    }
    // A Huffman code, which deflate stores from its most significant bit.
    void Code(std::uint32_t code, int length) {
        std::uint32_t reversed = 0;
        for (int i = 0; i < length; ++i)
            reversed |= ((code >> i) & 1u) << (length - 1 - i);
        Bits(reversed, length);
    }
    void Flush() {
        if (filled_ > 0) out_.push_back(static_cast<char>(buffer_ & 0xFF));
        buffer_ = 0;
        filled_ = 0;
    }

  private:
    std::string& out_;
    std::uint64_t buffer_ = 0;
    int filled_ = 0;
};

// A literal or length symbol (0 to 287) in the fixed Huffman code.
void FixedSymbol(BitWriter& bits, int symbol) {
    if (symbol < 144) {
        bits.Code(static_cast<std::uint32_t>(0x30 + symbol), 8);
    } else if (symbol < 256) {
        bits.Code(static_cast<std::uint32_t>(0x190 + symbol - 144), 9);
    } else if (symbol < 280) {
        bits.Code(static_cast<std::uint32_t>(symbol - 256), 7);
    } else {
        bits.Code(static_cast<std::uint32_t>(0xC0 + symbol - 280), 8);
    }
}

constexpr int kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr int kDistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                   33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                   1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr int kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

void Match(BitWriter& bits, int length, int distance) {
    int l = 28;
    while (kLengthBase[l] > length)
        --l;
    FixedSymbol(bits, 257 + l);
    bits.Bits(static_cast<std::uint32_t>(length - kLengthBase[l]), kLengthExtra[l]);
    int d = 29;
    while (kDistanceBase[d] > distance)
        --d;
    bits.Code(static_cast<std::uint32_t>(d), 5);
    bits.Bits(static_cast<std::uint32_t>(distance - kDistanceBase[d]), kDistanceExtra[d]);
}

}  // namespace

std::string Deflate(std::string_view raw, std::size_t stride) {
    // One block of the fixed Huffman code. A chart is mostly runs of one
    // colour and rows like the row above, so matching the byte before, the
    // pixel before and the pixel above finds nearly all of what a general
    // search would.
    std::string out;
    BitWriter bits(out);
    bits.Bits(1, 1);  // the final block
    bits.Bits(1, 2);  // fixed Huffman codes
    constexpr std::size_t kMaxMatch = 258;
    const std::size_t candidates[] = {1, 3, stride};
    for (std::size_t at = 0; at < raw.size();) {
        std::size_t bestLength = 0;
        std::size_t bestDistance = 0;
        for (std::size_t distance : candidates) {
            if (distance == 0 || distance > at || distance > 32768) continue;
            std::size_t length = 0;
            const std::size_t limit = std::min(kMaxMatch, raw.size() - at);
            while (length < limit && raw[at + length] == raw[at + length - distance])
                ++length;
            if (length > bestLength) {
                bestLength = length;
                bestDistance = distance;
            }
        }
        if (bestLength >= 3) {
            Match(bits, static_cast<int>(bestLength), static_cast<int>(bestDistance));
            at += bestLength;
        } else {
            FixedSymbol(bits, static_cast<unsigned char>(raw[at]));
            ++at;
        }
    }
    FixedSymbol(bits, 256);  // the end of the block
    bits.Flush();
    return out;
}

std::string EncodePng(const RgbImage& image) {
    const std::size_t rowBytes = static_cast<std::size_t>(image.Width()) * 3;
    std::string raw;
    raw.reserve((rowBytes + 1) * image.Height());
    const auto* pixels = reinterpret_cast<const char*>(image.Bytes().data());
    for (int y = 0; y < image.Height(); ++y) {
        raw.push_back('\0');  // filter: none
        raw.append(pixels + y * rowBytes, rowBytes);
    }

    std::string zlib = {'\x78', '\x01'};  // deflate, 32 KiB window, no dictionary
    zlib += Deflate(raw, rowBytes + 1);
    AppendBigEndian(zlib, Adler32(raw));

    std::string png = "\x89PNG\r\n\x1a\n";
    std::string header;
    AppendBigEndian(header, static_cast<std::uint32_t>(image.Width()));
    AppendBigEndian(header, static_cast<std::uint32_t>(image.Height()));
    header += std::string{'\x08', '\x02', '\x00', '\x00', '\x00'};  // 8 bits, RGB, no interlace
    AppendChunk(png, "IHDR", header);
    constexpr std::size_t kMaxIdat = 1 << 20;
    for (std::size_t at = 0; at < zlib.size(); at += kMaxIdat)
        AppendChunk(png, "IDAT", std::string_view(zlib).substr(at, kMaxIdat));
    AppendChunk(png, "IEND", {});
    return png;
}

}  // namespace chart
}  // namespace quillon
