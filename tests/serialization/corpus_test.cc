// Runs the readers over the shared conformance corpora, when they are present.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/base64.h"
#include "serialization/json.h"
#include "serialization/json_round_trip.h"
#include "serialization/msgpack.h"
#include "support/paths.h"

namespace qmx {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

TEST(JsonCorpusTest, ParsingSuite) {
  std::string corpora = test::CorporaDir();
  fs::path dir = fs::path(corpora) / "json-test-suite" / "test_parsing";
  if (corpora.empty() || !fs::is_directory(dir)) GTEST_SKIP() << "no json-test-suite corpus";
  size_t seen = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    std::string text = ReadFile(entry.path());
    ValueResult result = ReadJson(text);
    ++seen;
    // Whatever is read is written back and read again unchanged.
    if (result.Ok()) {
      EXPECT_TRUE(test::JsonRoundTrips(result.value())) << name;
    }
    if (name.starts_with("y_")) {
      EXPECT_TRUE(result.Ok()) << name << ": " << result.ErrorText();
    } else if (name.starts_with("n_")) {
      if (name == "n_multidigit_number_then_00.json") {
        // The NUL ends the text right after a valid number.
        EXPECT_TRUE(result.Ok()) << name;
      } else {
        EXPECT_FALSE(result.Ok()) << name;
        EXPECT_TRUE(result.ErrorText().starts_with("Error: ")) << name;
      }
    } else {
      // i_ files may go either way; they must only not crash.
      EXPECT_TRUE(result.Ok() || result.ErrorText().starts_with("Error: ")) << name;
    }
  }
  EXPECT_GT(seen, 300u);
}

// "c4-00-ff" -> bytes.
std::vector<uint8_t> FromHex(std::string_view text) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 3) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(std::string(text.substr(i, 2)), nullptr, 16)));
  }
  return bytes;
}

bool IsNumber(const Value& v) {
  return v.Kind() == ValueKind::Signed || v.Kind() == ValueKind::Unsigned ||
         v.Kind() == ValueKind::Float;
}

double AsDouble(const Value& v) {
  switch (v.Kind()) {
    case ValueKind::Signed:
      return static_cast<double>(v.GetSigned());
    case ValueKind::Unsigned:
      return static_cast<double>(v.GetUnsigned());
    default:
      return v.GetFloat();
  }
}

// Equal as data: numbers compare by value whatever their kind.
bool SameData(const Value& a, const Value& b) {
  if (IsNumber(a) && IsNumber(b)) {
    if (a.Kind() != ValueKind::Float && b.Kind() != ValueKind::Float) {
      return a.ToString() == b.ToString();
    }
    return AsDouble(a) == AsDouble(b);
  }
  if (a.Kind() != b.Kind() || a.Size() != b.Size()) return false;
  switch (a.Kind()) {
    case ValueKind::Collection:
      for (size_t i = 0; i < a.Size(); ++i) {
        if (!SameData(a.At(i), b.At(i))) return false;
      }
      return true;
    case ValueKind::Structure:
      for (size_t i = 0; i < a.Size(); ++i) {
        if (a.MemberName(i) != b.MemberName(i) || !SameData(a.MemberValue(i), b.MemberValue(i))) {
          return false;
        }
      }
      return true;
    default:
      return a.ToString() == b.ToString();
  }
}

TEST(MessagePackCorpusTest, EveryEncoding) {
  std::string corpora = test::CorporaDir();
  fs::path file = fs::path(corpora) / "msgpack-test-suite" / "dist" / "msgpack-test-suite.json";
  if (corpora.empty() || !fs::is_regular_file(file)) GTEST_SKIP() << "no msgpack-test-suite corpus";
  ValueResult suite = ReadJson(ReadFile(file));
  ASSERT_TRUE(suite.Ok()) << suite.ErrorText();
  size_t checked = 0;
  for (size_t g = 0; g < suite.value().Size(); ++g) {
    std::string_view group = suite.value().MemberName(g);
    const Value& cases = suite.value().MemberValue(g);
    for (size_t c = 0; c < cases.Size(); ++c) {
      const Value& item = cases.At(c);
      const Value& encodings = item.FindMember("msgpack");
      bool refused = item.HasMember("ext") || item.HasMember("timestamp");
      Value expected;
      if (item.HasMember("binary")) {
        std::vector<uint8_t> bytes = FromHex(item.FindMember("binary").GetString());
        expected.SetBlob(bytes.data(), bytes.size());
      } else if (item.HasMember("bignum")) {
        std::string digits(item.FindMember("bignum").GetString());
        if (digits.starts_with("-")) {
          expected.SetSigned(std::stoll(digits));
        } else {
          expected.SetUnsigned(std::stoull(digits));
        }
      } else {
        for (const char* key : {"nil", "bool", "number", "string", "array", "map"}) {
          if (item.HasMember(key)) expected.Assign(item.FindMember(key));
        }
      }
      for (size_t e = 0; e < encodings.Size(); ++e) {
        std::vector<uint8_t> bytes = FromHex(encodings.At(e).GetString());
        size_t consumed = 0;
        ValueResult result = DecodeMessagePack(bytes.data(), bytes.size(), consumed);
        std::string where = std::string(group) + " " + std::string(encodings.At(e).GetString());
        ++checked;
        if (refused) {
          EXPECT_EQ(result.ErrorText(), "Invalid MessagePack data at position 1.") << where;
          continue;
        }
        ASSERT_TRUE(result.Ok()) << where << ": " << result.ErrorText();
        EXPECT_EQ(consumed, bytes.size()) << where;
        EXPECT_TRUE(test::JsonRoundTrips(result.value())) << where;
        // A float 32 holds the bignum only approximately; compare it numerically.
        if (result.value().Kind() == ValueKind::Float && item.HasMember("bignum")) {
          EXPECT_EQ(result.value().GetFloat(), AsDouble(item.FindMember("number"))) << where;
        } else {
          EXPECT_TRUE(SameData(result.value(), expected))
              << where << ": " << WriteJson(result.value(), nullptr, nullptr);
        }
      }
    }
  }
  EXPECT_GT(checked, 100u);
}

}  // namespace
}  // namespace qmx
