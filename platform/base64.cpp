#include "platform/base64.h"

namespace quillon {

namespace {

// The alphabet: value 63 is the backslash, not the slash of RFC 2045.
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+\\";

char CodeChar(unsigned value) {
    return kAlphabet[value & 63U];
}

unsigned Byte(char c) {
    return static_cast<unsigned char>(c);
}

}  // namespace

std::uint8_t CodeValue(char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<std::uint8_t>(c - 'A');
    if (c >= 'a' && c <= 'z') return static_cast<std::uint8_t>(c - 'a' + 26);
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0' + 52);
    if (c == '+') return 62;
    if (c == '\\') return 63;
    return 255;
}

std::string EncodeBase64(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const unsigned b1 = Byte(bytes[i]);
        out.push_back(CodeChar(b1 >> 2));
        if (i + 1 == bytes.size()) {
            out.push_back(CodeChar((b1 & 3U) << 4));
            out += "==";
            break;
        }
        const unsigned b2 = Byte(bytes[i + 1]);
        out.push_back(CodeChar(((b1 & 3U) << 4) + (b2 >> 4)));
        if (i + 2 == bytes.size()) {
            out.push_back(CodeChar((b2 & 15U) << 2));
            out += "=";
            break;
        }
        const unsigned b3 = Byte(bytes[i + 2]);
        out.push_back(CodeChar(((b2 & 15U) << 2) + (b3 >> 6)));
        out.push_back(CodeChar(b3 & 63U));
    }
    return out;
}

std::string DecodeBase64(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3);
    // Only whole groups of four are decoded. A character outside the alphabet
    // in the first two places takes the value 255 and still yields a byte; in
    // the last two places it ends the decoding (this is how "=" padding stops).
    for (std::size_t i = 0; i + 4 <= text.size(); i += 4) {
        const unsigned a = CodeValue(text[i]);
        const unsigned b = CodeValue(text[i + 1]);
        const unsigned c = CodeValue(text[i + 2]);
        const unsigned d = CodeValue(text[i + 3]);
        out.push_back(static_cast<char>(((a << 2) + (b >> 4)) & 0xFFU));
        if (c == 255) break;
        out.push_back(static_cast<char>(((b << 4) + (c >> 2)) & 0xFFU));
        if (d == 255) break;
        out.push_back(static_cast<char>(((c << 6) + d) & 0xFFU));
    }
    return out;
}

}  // namespace quillon
