#include "platform/base64.h"

#include <gtest/gtest.h>

#include <string>

namespace quillon {
namespace {

TEST(Base64CodeValue, AlphabetAndOutsiders) {
    const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+\\";
    for (std::size_t i = 0; i < alphabet.size(); ++i) {
        EXPECT_EQ(CodeValue(alphabet[i]), i) << alphabet[i];
    }
    for (char c : std::string("=/ -\r\n\0\x80\xFF", 10)) {
        EXPECT_EQ(CodeValue(c), 255) << static_cast<int>(c);
    }
}

struct CodecCase {
    std::string plain;
    std::string encoded;
};

TEST(Base64Encode, KnownTexts) {
    const CodecCase cases[] = {
        {"", ""},
        {"abc", "YWJj"},
        {":", "Og=="},
        {"ab?", "YWI\\"},  // the value 63 is the backslash
        {std::string("\xFF"), "\\w=="},
        {"ab", "YWI="},
        {"guest:lantern4", "Z3Vlc3Q6bGFudGVybjQ="},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EncodeBase64(c.plain), c.encoded) << c.plain;
        EXPECT_EQ(DecodeBase64(c.encoded), c.plain) << c.encoded;
    }
}

TEST(Base64Encode, LongInputStaysOnOneLine) {
    std::string encoded = EncodeBase64(std::string(300, 'x'));
    EXPECT_EQ(encoded.size(), 400U);
    EXPECT_EQ(encoded.find_first_of("\r\n"), std::string::npos);
}

TEST(Base64Decode, IrregularInput) {
    const CodecCase cases[] = {
        {"ab", "YWI/"},  // the slash is outside the alphabet: stops
        {"", "Y"},       // 1 to 3 characters: no whole group
        {"", "YW"},
        {"", "YWJ"},
        {"abc", "YWJjZG"},  // a trailing part is dropped
        {"a", "YQ==YWJj"},  // padding ends decoding, later groups ignored
        {"a", "YQ=AYWJj"},
        {"ab", "YWI YWJj"},  // blanks are not skipped
        // Outsiders in the first two places count as 255 and still give a
        // byte: ((255 << 2) + (255 >> 4)) % 256 = 0x0B; the third one stops.
        {std::string("\x0B"), "===="},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeBase64(c.encoded), c.plain) << c.encoded;
    }
}

TEST(Base64RoundTrip, EveryByteValue) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    // Every length modulo 3 and every byte in every position of a group.
    for (std::size_t start = 0; start < 3; ++start) {
        for (std::size_t length = 0; length + start <= all.size(); length += 37) {
            std::string part = all.substr(start, length);
            EXPECT_EQ(DecodeBase64(EncodeBase64(part)), part);
        }
        std::string rest = all.substr(start);
        EXPECT_EQ(DecodeBase64(EncodeBase64(rest)), rest);
    }
    for (int b = 0; b < 256; ++b) {
        std::string one(1, static_cast<char>(b));
        EXPECT_EQ(DecodeBase64(EncodeBase64(one)), one) << b;
    }
}

}  // namespace
}  // namespace quillon
