#include "common/base64.h"

#include <array>

namespace qmx {
namespace {

constexpr std::array<int8_t, 256> MakeDecodeTable() {
  std::array<int8_t, 256> table{};
  for (auto& entry : table) entry = -1;
  for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<int8_t>(i);
  return table;
}

constexpr std::array<int8_t, 256> kDecode = MakeDecodeTable();

}  // namespace

std::string Base64Encode(std::span<const uint8_t> bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    uint32_t group = uint32_t{bytes[i]} << 16 | uint32_t{bytes[i + 1]} << 8 | bytes[i + 2];
    out.push_back(kBase64Alphabet[group >> 18]);
    out.push_back(kBase64Alphabet[(group >> 12) & 63]);
    out.push_back(kBase64Alphabet[(group >> 6) & 63]);
    out.push_back(kBase64Alphabet[group & 63]);
  }
  size_t rest = bytes.size() - i;
  if (rest != 0) {
    uint32_t group = uint32_t{bytes[i]} << 16 | (rest == 2 ? uint32_t{bytes[i + 1]} << 8 : 0);
    out.push_back(kBase64Alphabet[group >> 18]);
    out.push_back(kBase64Alphabet[(group >> 12) & 63]);
    out.push_back(rest == 2 ? kBase64Alphabet[(group >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}

std::string Base64Encode(std::string_view bytes) {
  return Base64Encode(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

std::string Base64Decode(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3 + 2);
  uint32_t group = 0;
  int count = 0;
  for (unsigned char c : text) {
    int8_t digit = kDecode[c];
    if (digit < 0) break;  // "=" or any character outside the alphabet ends the data
    group = group << 6 | static_cast<uint32_t>(digit);
    if (++count == 4) {
      out.push_back(static_cast<char>(group >> 16));
      out.push_back(static_cast<char>(group >> 8));
      out.push_back(static_cast<char>(group));
      group = 0;
      count = 0;
    }
  }
  if (count == 2) {
    out.push_back(static_cast<char>(group >> 4));
  } else if (count == 3) {
    out.push_back(static_cast<char>(group >> 10));
    out.push_back(static_cast<char>(group >> 2));
  }
  return out;
}

std::string Base64UrlEncode(std::string_view bytes) {
  std::string text = Base64Encode(bytes);
  for (char& c : text) {
    if (c == '+') c = '-';
    if (c == '/') c = '_';
  }
  text.erase(text.find_last_not_of('=') + 1);
  return text;
}

}  // namespace qmx
