#pragma once
// Base64 with the backslash alphabet: the value 63 is written "\" instead of
// "/". Used for the authorisation header and the settings file's credentials.

#include <cstdint>
#include <string>
#include <string_view>

namespace quillon {

// 0 to 63 for a character of the alphabet, 255 for any other ("=" included).
std::uint8_t CodeValue(char c);

// Three bytes to four characters, "=" padding, one line whatever the length.
std::string EncodeBase64(std::string_view bytes);

// Groups of four characters to bytes; stops at a group whose third or fourth
// character is outside the alphabet; a trailing part of 1 to 3 characters is
// dropped. Never fails.
std::string DecodeBase64(std::string_view text);

}  // namespace quillon
