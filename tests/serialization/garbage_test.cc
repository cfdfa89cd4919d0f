// Every reader must answer any byte sequence with a value or a message,
// without reading past the bytes it was given (the buffers below have no
// terminator, so the sanitizer catches any overrun).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "serialization/json.h"
#include "serialization/msgpack.h"
#include "serialization/yaml.h"

namespace qmx {
namespace {

void ReadWithAll(const std::vector<char>& bytes) {
  std::string_view text(bytes.data(), bytes.size());
  ValueResult json = ReadJson(text);
  EXPECT_TRUE(json.Ok() || !json.ErrorText().empty());
  ValueResult yaml = ReadYaml(text);
  EXPECT_TRUE(yaml.Ok() || !yaml.ErrorText().empty());
  size_t consumed = 0;
  ValueResult pack =
      DecodeMessagePack(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), consumed);
  EXPECT_TRUE(pack.Ok() || !pack.ErrorText().empty());
  EXPECT_LE(consumed, bytes.size());
}

TEST(ReadersTest, EveryPrefixOfValidInput) {
  const std::string_view inputs[] = {
      "{\"a\":[1,-2.5e3,\"\\u00e9\\ud83d\\ude00\",true,null,{\"b\":{}}]}",
      "a: &x [1, 'q', \"d\\n\", {k: v}]\nb: *x\nc: |\n  block\n",
      "\x83\xa1" "a\x92\xcb\x3f\xf0\x00\x00\x00\x00\x00\x00\xc4\x02\x00\xff\xa1" "b\xdc\x00\x01\xd9\x01z"
      "\xa1" "c\xdf\x00\x00\x00\x01\xa1" "d\xcf\x00\x00\x00\x00\x00\x00\x00\x01",
  };
  for (std::string_view input : inputs) {
    for (size_t n = 0; n <= input.size(); ++n) {
      ReadWithAll(std::vector<char>(input.begin(), input.begin() + n));
    }
  }
}

TEST(ReadersTest, RandomBytes) {
  std::mt19937 random(12345);
  // Bytes biased toward the readers' structural characters.
  const std::string_view alphabet = "[]{}:,\"\\-01e.&*!|>#'\n \x91\x81\xa1\xc4\xdb\xdd\xdf\xcb\x00";
  for (int round = 0; round < 400; ++round) {
    std::vector<char> bytes(random() % 64);
    for (char& b : bytes) {
      b = random() % 2 ? alphabet[random() % alphabet.size()] : static_cast<char>(random());
    }
    ReadWithAll(bytes);
  }
}

}  // namespace
}  // namespace qmx
