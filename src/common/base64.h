// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qmx {

inline constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64Encode(std::span<const uint8_t> bytes);
std::string Base64Encode(std::string_view bytes);
// The URL-safe form of tokens: "-" and "_" for "+" and "/", no padding.
std::string Base64UrlEncode(std::string_view bytes);

// Decodes characters in order and stops, without error, at the first "=" or
// at the first character outside the alphabet. Every complete group of four
// characters gives three bytes; a final group of two or three gives one or two
// bytes; a final single character gives nothing.
std::string Base64Decode(std::string_view text);

}  // namespace qmx
