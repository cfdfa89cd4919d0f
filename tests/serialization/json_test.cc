#include "serialization/json.h"

#include "serialization/json_round_trip.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace qmx {
namespace {

TEST(WriteJsonTest, Layouts) {
  Value empty;
  EXPECT_EQ(WriteJson(empty, nullptr, nullptr), "");
  EXPECT_EQ(WriteJson(empty, nullptr, "\r\n"), "");

  Value one;
  one.Append();
  EXPECT_EQ(WriteJson(one, nullptr, nullptr), "[null]");

  Value urn;
  urn.Member("urn").SetString("x");
  EXPECT_EQ(WriteJson(urn, nullptr, "\r\n"), "{\r\n    \"urn\": \"x\"\r\n}");
  EXPECT_EQ(WriteJson(urn, nullptr, ""), "{\"urn\":\"x\"}");

  Value nested;
  nested.Member("a").Append().SetSigned(1);
  nested.Member("a").Append().SetSigned(2);
  nested.Member("e").MakeCollection();
  nested.Member("o").MakeStructure();
  EXPECT_EQ(WriteJson(nested, nullptr, nullptr), "{\"a\":[1,2],\"e\":[],\"o\":{}}");
  EXPECT_EQ(WriteJson(nested, nullptr, "\n"),
            "{\n    \"a\": [\n        1,\n        2\n    ],\n    \"e\": [],\n    \"o\": {}\n}");
  for (const Value* v : {&one, &urn, &nested}) EXPECT_TRUE(test::JsonRoundTrips(*v));
}

TEST(WriteJsonTest, Scalars) {
  struct Case {
    void (*build)(Value&);
    const char* expected;
  };
  const Case cases[] = {
      {[](Value& v) { v.SetBool(true); }, "true"},
      {[](Value& v) { v.SetSigned(INT64_MIN); }, "-9223372036854775808"},
      {[](Value& v) { v.SetUnsigned(UINT64_MAX); }, "18446744073709551615"},
      // Either side of the 32-bit conversion the writer switches to.
      {[](Value& v) { v.SetSigned(INT32_MIN); }, "-2147483648"},
      {[](Value& v) { v.SetSigned(int64_t{INT32_MIN} - 1); }, "-2147483649"},
      {[](Value& v) { v.SetSigned(INT32_MAX); }, "2147483647"},
      {[](Value& v) { v.SetSigned(int64_t{INT32_MAX} + 1); }, "2147483648"},
      {[](Value& v) { v.SetUnsigned(UINT32_MAX); }, "4294967295"},
      {[](Value& v) { v.SetUnsigned(uint64_t{UINT32_MAX} + 1); }, "4294967296"},
      {[](Value& v) { v.SetFloat(3); }, "3.0"},
      {[](Value& v) { v.SetFloat(-0.0); }, "-0.0"},
      {[](Value& v) { v.SetFloat(1e30); }, "1e30"},
      {[](Value& v) { v.SetFloat(1.5e-7); }, "1.5e-7"},
      {[](Value& v) { v.SetFloat(0.1); }, "0.1"},
      {[](Value& v) { v.SetFloat(NAN); }, "null"},
      {[](Value& v) { v.Append().SetFloat(-INFINITY); v.Append().SetSigned(1); }, "[null,1]"},
      {[](Value& v) { v.SetString(std::string_view("a\"\\/\b\t\n\f\r\x01\x1f\0z\xc3\xa9", 15)); },
       "\"a\\\"\\\\/\\b\\t\\n\\f\\r\\u0001\\u001F\\u0000z\xc3\xa9\""},
      {[](Value& v) { v.SetBlob("\x01\x02\x03\x04", 4); }, "\"AQIDBA==\""},
      {[](Value& v) { v.SetBlob(nullptr, 0); }, "\"\""},
      {[](Value& v) { v.SetEnum(-2, TypeId{}); }, "-2"},
  };
  for (const Case& c : cases) {
    Value value;
    c.build(value);
    EXPECT_EQ(WriteJson(value, nullptr, nullptr), c.expected);
    EXPECT_TRUE(test::JsonRoundTrips(value)) << c.expected;
  }
}

// Values at the edges of what the writer and the reader handle, read back
// from both layouts (see json_round_trip.h for what JSON cannot carry).
TEST(WriteJsonTest, ReadingBackGivesTheValueAtTheEdges) {
  std::vector<Value> values(12);
  // Member names that sort by unsigned bytes, hold NULs and escapes, or are
  // proper prefixes of one another; and many members (the larger sort).
  for (std::string_view name :
       {std::string_view("a"), std::string_view("a\0", 2), std::string_view("a\0b", 3),
        std::string_view("ab"), std::string_view(""), std::string_view("\xff"),
        std::string_view("\x7f"), std::string_view("\"\\/\b\x1f"), std::string_view("\xc3\xa9")}) {
    values[0].Member(name).SetString(name);
  }
  for (int i = 0; i < 300; ++i) {
    values[1].Member("member" + std::to_string(i * 7919 % 300)).SetSigned(-i);
  }
  // Numbers at their limits and doubles in every range, as the writer's
  // shortest form must read back bit for bit.
  for (double d :
       {0.0, -0.0, 5e-324, 2.2250738585072009e-308, 2.2250738585072014e-308, 1.7976931348623157e308,
        9007199254740993.0, 1e16, 1e21, 1e22, 1e23, 0.1, 1.0 / 3, 123456789012345678.0}) {
    values[2].Append().SetFloat(d);
    values[2].Append().SetFloat(-d);
  }
  std::mt19937_64 random(8);
  for (int i = 0; i < 5000; ++i) {
    uint64_t bits = random();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    values[3].Append().SetFloat(d);  // NaN and infinities are written as null
  }
  for (int64_t n : {INT64_MIN, INT64_MIN + 1, int64_t{-1}, int64_t{0}, int64_t{INT32_MIN},
                    int64_t{INT32_MAX} + 1, INT64_MAX}) {
    values[4].Append().SetSigned(n);
  }
  for (uint64_t n : {uint64_t{0}, uint64_t{UINT32_MAX}, uint64_t{UINT32_MAX} + 1, UINT64_MAX}) {
    values[4].Append().SetUnsigned(n);
  }
  // Strings of every control byte, of bytes from 0x80 up (no UTF-8 check),
  // long enough to cross the reader's 16-byte blocks, with NULs inside.
  for (unsigned byte = 0; byte < 256; ++byte) {
    values[5].Append().SetString(std::string(byte % 40, 'x') + static_cast<char>(byte) +
                                 std::string(17, 'y'));
  }
  values[5].Append().SetString(std::string(5000, 'z') + std::string("\0\0", 2));
  for (size_t size = 0; size < 6; ++size) {
    values[6].Member(std::to_string(size)).SetBlob("\x00\xff\x10\x80\x7f", size);
  }
  values[6].Member("enum").SetEnum(-7, TypeId{});
  values[6].Member("enum positive").SetEnum(7, TypeId{});
  // Arrays around the sizes that containers grow at.
  for (size_t size : {size_t{255}, size_t{256}, size_t{257}, size_t{1000}}) {
    Value& list = values[7].Member(std::to_string(size));
    for (size_t i = 0; i < size; ++i) list.Append().SetUnsigned(i);
  }
  // Empty containers and nulls in every position; the deepest nesting the
  // reader takes.
  values[8].Append();
  values[8].Append().MakeCollection();
  values[8].Append().MakeStructure();
  values[8].Append().Member("n");
  Value* deep = &values[9];
  for (unsigned depth = 1; depth <= kMaxNestingDepth; ++depth) {
    deep = depth % 2 ? &deep->Member("d") : &deep->Append();
  }
  deep->SetBool(false);
  values[10].SetString("");
  values[11].SetBool(true);
  for (size_t i = 0; i < values.size(); ++i) EXPECT_TRUE(test::JsonRoundTrips(values[i])) << i;
}

TEST(ReadJsonTest, Failures) {
  struct Case {
    std::string text;
    const char* message;
  };
  const Case cases[] = {
      {"  ", "Error: The document is empty. at offset 2."},
      {"", "Error: The document is empty. at offset 0."},
      {"{} x", "Error: The document root must not be followed by other values. at offset 3."},
      {"x", "Error: Invalid value. at offset 0."},
      {"[1,]", "Error: Invalid value. at offset 3."},
      {"{\"a\" 1}", "Error: Missing a colon after a name of object member. at offset 5."},
      {"\"\\u12g4\"", "Error: Incorrect hex digit after \\u escape in string. at offset 1."},
      {"[\"abc", "Error: Missing a closing quotation mark in string. at offset 5."},
      // The text ends at its first NUL, even inside a string.
      {std::string("[\"a\0\"]", 6), "Error: Missing a closing quotation mark in string. at offset 3."},
      {"// c\n1", "Error: Invalid value. at offset 0."},
      {"NaN", "Error: Invalid value. at offset 0."},
  };
  for (const Case& c : cases) {
    ValueResult result = ReadJson(c.text);
    EXPECT_FALSE(result.Ok()) << c.text;
    EXPECT_EQ(result.ErrorText(), c.message) << c.text;
    EXPECT_EQ(result.value().Size(), 1u);
  }
}

TEST(ReadJsonTest, NumberKinds) {
  ValueResult result = ReadJson("[1,-1,1.0,1e2,18446744073709551616,-0,18446744073709551615,"
                                "-9223372036854775808,4294967296]");
  ASSERT_TRUE(result.Ok()) << result.ErrorText();
  const Value& v = result.value();
  ASSERT_EQ(v.Size(), 9u);
  EXPECT_EQ(v.At(0).Kind(), ValueKind::Unsigned);
  EXPECT_EQ(v.At(0).GetUnsigned(), 1u);
  EXPECT_EQ(v.At(1).Kind(), ValueKind::Signed);
  EXPECT_EQ(v.At(1).GetSigned(), -1);
  EXPECT_EQ(v.At(2).Kind(), ValueKind::Float);
  EXPECT_EQ(v.At(2).GetFloat(), 1.0);
  EXPECT_EQ(v.At(3).Kind(), ValueKind::Float);
  EXPECT_EQ(v.At(3).GetFloat(), 100.0);
  EXPECT_EQ(v.At(4).Kind(), ValueKind::Float);
  EXPECT_EQ(v.At(4).GetFloat(), 1.8446744073709552e19);
  EXPECT_EQ(v.At(5).Kind(), ValueKind::Signed);
  EXPECT_EQ(v.At(6).GetUnsigned(), UINT64_MAX);
  EXPECT_EQ(v.At(7).GetSigned(), INT64_MIN);
  EXPECT_EQ(v.At(8).Kind(), ValueKind::Unsigned);
  EXPECT_TRUE(test::JsonRoundTrips(v));
}

TEST(ReadJsonTest, NumbersReadAsNearestDouble) {
  const char* numbers[] = {"43.41805299999999", "43.513054000000078", "0.1",
                           "2.2250738585072011e-308", "1.7976931348623157e308",
                           "123456789012345678901234567890", "4.9e-324", "-0.0"};
  for (const char* text : numbers) {
    ValueResult result = ReadJson(text);
    ASSERT_TRUE(result.Ok()) << text;
    EXPECT_EQ(result.value().GetFloat(), std::strtod(text, nullptr)) << text;
    // Writing and reading again gives the same double.
    EXPECT_EQ(ReadJson(WriteJson(result.value(), nullptr, nullptr)).value().GetFloat(),
              result.value().GetFloat())
        << text;
  }
}

// Numbers take a fast path when their digits and exponent allow, and the
// parser's full-precision conversion otherwise; both must give the nearest
// double (strtod's answer) bit for bit, including halfway cases, long
// mantissas and the edges of each path.
TEST(ReadJsonTest, EveryNumberShapeReadsAsNearestDouble) {
  auto check = [](const std::string& text) {
    ValueResult result = ReadJson(text);
    ASSERT_TRUE(result.Ok()) << text << ": " << result.ErrorText();
    ASSERT_EQ(result.value().Kind(), ValueKind::Float) << text;
    double expected = std::strtod(text.c_str(), nullptr);
    double got = result.value().GetFloat();
    ASSERT_EQ(std::memcmp(&got, &expected, sizeof got), 0)
        << text << ": " << std::to_string(got) << " instead of " << std::to_string(expected);
  };
  const char* edges[] = {"9007199254740993.0", "9007199254740995.0", "9007199254740992.5",
                         "1e22", "1e23", "9999999999999999999e-27", "1e-27", "1e-28",
                         "18446744073709551615e55", "1e56", "0.0000000000000000000000000001",
                         "12345678901234567890.5", "1234567890123456789e0", "-0.0e-5",
                         "2.2250738585072014e-308", "5e-324", "8.98846567431158e307",
                         "7.0064923216240854e-46", "1.00000000000000011102230246251565404236316680908203125",
                         "1.00000000000000011102230246251565404236316680908203124",
                         "1.00000000000000011102230246251565404236316680908203126"};
  for (const char* text : edges) check(text);
  std::mt19937_64 random(20261208);
  char buffer[64];
  for (int i = 0; i < 20000; ++i) {
    // Random doubles printed in the shapes writers use.
    uint64_t bits = random();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    if (!std::isfinite(d)) continue;
    std::snprintf(buffer, sizeof buffer, i % 3 == 0 ? "%.17g" : i % 3 == 1 ? "%.15e" : "%.16g", d);
    std::string text(buffer);
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    check(text);
    // Random digit strings with a decimal point and an exponent around the
    // fast paths' limits.
    std::string digits = std::to_string(random() >> (random() % 60));
    size_t point = random() % (digits.size() + 1);
    std::string shaped = digits.substr(0, point) + (point == 0 ? "0." : ".") + digits.substr(point) + "0";
    int exponent = static_cast<int>(random() % 120) - 60;
    check(shaped + "e" + std::to_string(exponent));
  }
}

// A zero with a far exponent once reached the parser's full-precision
// conversion, which normalises a zero significand (undefined behaviour).
TEST(ReadJsonTest, ZeroWithAFarExponentReadsAsZero) {
  for (const char* text : {"0e-30", "-0.000e-60", "0e300", "0.0E-99999", "-0e+100"}) {
    ValueResult result = ReadJson(text);
    ASSERT_TRUE(result.Ok()) << text << ": " << result.ErrorText();
    ASSERT_EQ(result.value().Kind(), ValueKind::Float) << text;
    EXPECT_EQ(result.value().GetFloat(), 0.0) << text;
    EXPECT_EQ(std::signbit(result.value().GetFloat()), text[0] == '-') << text;
  }
}

// Long runs of zeros once went through RapidJSON's full-precision path, which
// read outside its table of cached powers: 340 zeros gave -4.99e291, 385
// crashed. Results that round to zero or infinity keep their sign.
TEST(ReadJsonTest, LongRunsOfZerosReadAsNearestDouble) {
  const std::string zeros340 = "0." + std::string(340, '0') + "20302";
  const std::string zeros385 = "-0." + std::string(385, '0') + "20302";
  const std::string wide = "1" + std::string(300, '0') + ".5e-300";
  const std::string digits = "0." + std::string(300, '0') + "123456789" + std::string(500, '7');
  for (const std::string& text : {zeros340, zeros385, wide, digits}) {
    ValueResult result = ReadJson("[" + text + "]");
    ASSERT_TRUE(result.Ok()) << text;
    EXPECT_EQ(result.value().At(0).Kind(), ValueKind::Float) << text;
    EXPECT_EQ(result.value().At(0).GetFloat(), std::strtod(text.c_str(), nullptr)) << text;
    EXPECT_EQ(std::signbit(result.value().At(0).GetFloat()), text[0] == '-') << text;
  }
  const struct {
    const char* text;
    double expected;
  } extremes[] = {{"1e-400", 0.0},
                  {"-1e-400", -0.0},
                  {"0.0001e-320", 0.0},
                  {"99999999999999999999e300", HUGE_VAL},
                  {"-99999999999999999999e300", -HUGE_VAL},
                  {"-9223372036854775809", -9223372036854775809.0},
                  {"18446744073709551616", 18446744073709551616.0}};
  for (const auto& c : extremes) {
    ValueResult result = ReadJson(c.text);
    ASSERT_TRUE(result.Ok()) << c.text;
    EXPECT_EQ(result.value().GetFloat(), c.expected) << c.text;
    EXPECT_EQ(std::signbit(result.value().GetFloat()), std::signbit(c.expected)) << c.text;
  }
  ValueResult limits = ReadJson("[-9223372036854775808,18446744073709551615,-0]");
  ASSERT_TRUE(limits.Ok());
  EXPECT_EQ(limits.value().At(0).GetSigned(), INT64_MIN);
  EXPECT_EQ(limits.value().At(1).GetUnsigned(), UINT64_MAX);
  EXPECT_EQ(limits.value().At(2).Kind(), ValueKind::Signed);
}

// Exponents of ten digits once overflowed the fast path's exponent counter.
TEST(ReadJsonTest, HugeExponentsDoNotOverflowTheFastPath) {
  for (const char* text : {"1.5e-10001100470", "2.5e99999999999", "-0.1E+4294967296"}) {
    ValueResult result = ReadJson(text);
    if (result.Ok()) {
      EXPECT_EQ(result.value().Kind(), ValueKind::Float) << text;
    }
  }
}

TEST(ReadJsonTest, StructureAndRoundTrip) {
  ValueResult dup = ReadJson("{\"a\":1,\"a\":2}");
  ASSERT_TRUE(dup.Ok());
  ASSERT_EQ(dup.value().Size(), 1u);
  EXPECT_EQ(dup.value().FindMember("a").Kind(), ValueKind::Unsigned);
  EXPECT_EQ(dup.value().FindMember("a").GetUnsigned(), 2u);

  ValueResult null = ReadJson("null");
  ASSERT_TRUE(null.Ok());
  EXPECT_TRUE(null.value().IsEmpty());

  // Members come out in name order; escapes and surrogate pairs decode to UTF-8.
  const char* text =
      " {\"z\":[true,false,null,{}],\"b\":\"\\u00e9\\ud83d\\ude00\\n\",\"a\":{\"y\":-2,\"x\":0.5}} ";
  ValueResult parsed = ReadJson(text);
  ASSERT_TRUE(parsed.Ok()) << parsed.ErrorText();
  EXPECT_EQ(WriteJson(parsed.value(), nullptr, nullptr),
            "{\"a\":{\"x\":0.5,\"y\":-2},\"b\":\"\xc3\xa9\xf0\x9f\x98\x80\\n\","
            "\"z\":[true,false,null,{}]}");
  EXPECT_TRUE(test::JsonRoundTrips(parsed.value()));

  // Text after the first NUL is not read.
  EXPECT_TRUE(ReadJson(std::string("123\0garbage", 11)).Ok());
  // A bounded view is never read past its length.
  std::string_view prefix("[1,2]trailing", 5);
  EXPECT_TRUE(ReadJson(prefix).Ok());
}

// The reader decodes strings in place in a private copy of the text, 16
// bytes at a time between escapes, on the stack for short texts and on the
// heap for long ones. Every string must come out whole wherever its escapes
// and its end fall relative to those blocks, and so must the member names
// and the numbers that follow them.
TEST(ReadJsonTest, StringsAndNumbersAroundInPlaceDecoding) {
  for (size_t filler : {size_t{0}, size_t{3000}}) {  // the stack copy, then the heap copy
    for (size_t length = 0; length < 48; ++length) {
      for (size_t at = 0; at <= length; ++at) {
        // A string of length characters with an escape at position at, used
        // as a value and as a member name, followed by a number.
        std::string plain(length, 'x');
        for (size_t i = 0; i < length; ++i) plain[i] = static_cast<char>('a' + i % 26);
        std::string decoded = plain;
        std::string escaped = plain;
        if (at < length) {
          decoded[at] = '"';
          escaped = plain.substr(0, at) + "\\\"" + plain.substr(at + 1);
        }
        std::string text = "[\"" + std::string(filler, ' ') + "\",\"" + escaped + "\",{\"" + escaped +
                           "\":-12.5e-1,\"" + plain + "!\":7}," + std::to_string(length) + "]";
        ValueResult result = ReadJson(text);
        ASSERT_TRUE(result.Ok()) << text << ": " << result.ErrorText();
        const Value& v = result.value();
        ASSERT_EQ(v.Size(), 4u) << text;
        EXPECT_EQ(v.At(0).GetString(), std::string(filler, ' '));
        EXPECT_EQ(v.At(1).GetString(), decoded) << text;
        EXPECT_EQ(v.At(2).FindMember(decoded).GetFloat(), -1.25) << text;
        EXPECT_EQ(v.At(2).FindMember(plain + "!").GetUnsigned(), 7u) << text;
        EXPECT_EQ(v.At(3).GetUnsigned(), length) << text;
        EXPECT_TRUE(test::JsonRoundTrips(v)) << text;
      }
    }
  }
}

// A number read again from the text ends at whatever follows it: a
// delimiter, white space or the end of the text, also when the text is a
// bounded view of a longer one.
TEST(ReadJsonTest, NumbersEndWhereTheTextSaysSo) {
  const std::string longSpace(3000, ' ');
  for (const std::string& pad : {std::string(), longSpace}) {
    for (const char* number : {"0.5", "-2.5e3", "1E+2", "123456789012345678901234.5", "1e-400"}) {
      const double expected = std::strtod(number, nullptr);
      for (const std::string& text :
           {pad + number, pad + number + " ", "[" + pad + number + "]", "{\"k\":" + pad + number + "}",
            "[" + pad + number + "\t,1]"}) {
        ValueResult result = ReadJson(text);
        ASSERT_TRUE(result.Ok()) << text << ": " << result.ErrorText();
        const Value& v = result.value();
        const Value& n = v.Kind() == ValueKind::Collection ? v.At(0)
                         : v.Kind() == ValueKind::Structure ? v.FindMember("k")
                                                            : v;
        EXPECT_EQ(n.GetFloat(), expected) << text;
      }
      // Digits beyond the view's end are not part of the number.
      std::string longer = pad + number + "99";
      ValueResult bounded = ReadJson(std::string_view(longer.data(), longer.size() - 2));
      ASSERT_TRUE(bounded.Ok()) << number;
      EXPECT_EQ(bounded.value().GetFloat(), expected) << number;
    }
  }
}

// Errors keep their offsets in texts long enough to be copied to the heap.
TEST(ReadJsonTest, FailuresInLongTexts) {
  const std::string pad(5000, ' ');
  struct Case {
    std::string text;
    size_t offset;
    const char* reason;
  };
  const Case cases[] = {
      {"[" + pad + "\"abc", 5005, "Missing a closing quotation mark in string."},
      {"[\"" + pad + "\x01\"]", 5002, "Invalid escape character in string."},
      {"[\"" + pad + "\\q\"]", 5002, "Invalid escape character in string."},
      {pad + "{\"a\":1,}", 5007, "Missing a name for object member."},
      {pad + "[1.]", 5003, "Miss fraction part in number."},
      {pad + "1e309", 5000, "Number too big to be stored in double."},
  };
  for (const Case& c : cases) {
    ValueResult result = ReadJson(c.text);
    EXPECT_FALSE(result.Ok());
    EXPECT_EQ(result.ErrorText(), std::string("Error: ") + c.reason + " at offset " + std::to_string(c.offset) + ".");
  }
}

// JSON refuses every raw byte below 0x20 in a string, and so does the
// reader, wherever the byte falls: among the first bytes of a string, which
// the parser walks one at a time, or inside the 16-byte blocks it scans at
// once. The message and offset are the ones for that byte: a NUL ends the
// text (an unterminated string), any other byte is an invalid character. The
// strings start at every alignment, as values (read in place), as values
// after an escape (copied down as they are read) and as member names, in
// texts copied to the stack and to the heap.
TEST(ReadJsonTest, ControlCharactersAreRefusedAtEveryOffset) {
  struct Shape {
    const char* name;
    std::string before;  // up to the string's first character
    std::string after;   // from the character after the control byte
  };
  const Shape shapes[] = {
      {"value", "{\"a\":\"", "x\"}"},
      {"value after an escape", "[\"\\n", "x\"]"},
      {"name", "{\"", "x\":1}"},
  };
  for (size_t lead : {size_t{0}, size_t{1}, size_t{7}, size_t{15}, size_t{3000}}) {
    const std::string space(lead, ' ');
    for (const Shape& shape : shapes) {
      for (unsigned byte = 0; byte < 0x20; ++byte) {
        for (size_t at = 0; at <= 40; ++at) {
          std::string prefix(at, 'a');
          for (size_t i = 0; i < at; ++i) prefix[i] = static_cast<char>('a' + i % 26);
          const std::string text =
              space + shape.before + prefix + static_cast<char>(byte) + shape.after;
          const size_t offset = lead + shape.before.size() + at;
          const std::string expected = std::string("Error: ") +
                                       (byte == 0 ? "Missing a closing quotation mark in string."
                                                  : "Invalid escape character in string.") +
                                       " at offset " + std::to_string(offset) + ".";
          ValueResult result = ReadJson(text);
          ASSERT_FALSE(result.Ok())
              << shape.name << ", byte " << byte << " at " << at << ", lead " << lead;
          ASSERT_EQ(result.ErrorText(), expected)
              << shape.name << ", byte " << byte << " at " << at << ", lead " << lead;
        }
      }
    }
  }
  // The same bytes written as escapes are read, and a raw byte in a later
  // string is still found after such an escape.
  for (unsigned byte = 0; byte < 0x20; ++byte) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04X", byte);
    const std::string text = "[\"0123456789abcdef" + std::string(escape) + "0123456789abcdef\"]";
    ValueResult result = ReadJson(text);
    ASSERT_TRUE(result.Ok()) << text << ": " << result.ErrorText();
    EXPECT_EQ(result.value().At(0).GetString(),
              "0123456789abcdef" + std::string(1, static_cast<char>(byte)) + "0123456789abcdef");
    EXPECT_TRUE(test::JsonRoundTrips(result.value())) << text;
    const std::string later = text.substr(0, text.size() - 1) + ",\"0123456789abcdef\x1e\"]";
    EXPECT_EQ(ReadJson(later).ErrorText(), "Error: Invalid escape character in string. at offset " +
                                               std::to_string(later.size() - 3) + ".");
  }
  // Outside strings the bytes from 0x1A up fail as any other stray byte does.
  EXPECT_EQ(ReadJson("[1,\x1f]").ErrorText(), "Error: Invalid value. at offset 3.");
  EXPECT_EQ(ReadJson("{\"0123456789abcdefgh\":1}\x1b").ErrorText(),
            "Error: The document root must not be followed by other values. at offset 24.");
}

TEST(ReadJsonTest, NestingLimit) {
  std::string deep(kMaxNestingDepth, '[');
  deep += std::string(kMaxNestingDepth, ']');
  ValueResult ok = ReadJson(deep);
  EXPECT_TRUE(ok.Ok()) << ok.ErrorText();

  for (size_t depth : {size_t{kMaxNestingDepth} + 1, size_t{100000}}) {
    std::string text;
    for (size_t i = 0; i < depth; ++i) text += i % 2 ? "{\"k\":" : "[";
    ValueResult result = ReadJson(text);
    EXPECT_FALSE(result.Ok());
    // The handler refuses the container that opens one level too deep, just
    // after its bracket.
    size_t offset = 0;
    for (size_t i = 0; i <= kMaxNestingDepth; ++i) offset += i % 2 ? 5 : 1;
    EXPECT_EQ(result.ErrorText(), "Error: Terminate parsing due to Handler error. at offset " +
                                      std::to_string(offset) + ".");
  }
}

}  // namespace
}  // namespace qmx
