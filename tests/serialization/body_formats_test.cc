#include "serialization/body_formats.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>

#include "serialization/json.h"

namespace qmx {
namespace {

using namespace std::string_literals;

std::string NameOf(const BodyFormat* format) {
  return format != nullptr ? std::string(format->name) : "none";
}

std::string AsJson(const ValueResult& result) {
  return result.Ok() ? WriteJson(result.value(), nullptr, nullptr)
                     : "error: " + std::string(result.ErrorText());
}

// One document of each format here, all meaning {"a":[1,true]}. A format
// added later is tested by its reader's own test; the table-wide checks
// below cover it without a row here.
const struct {
  std::string_view name;
  std::string document;
} kDocuments[] = {
    {"json", "{\"a\":[1,true]}"},
    {"msgpack", "\x81\xa1" "a\x92\x01\xc3"s},
    {"yaml", "---\na: [1, true]\n"},
};

TEST(BodyFormatsTest, EveryFormatReadsItsOwnDocuments) {
  for (const auto& [name, document] : kDocuments) {
    SCOPED_TRACE(std::string(name));
    const BodyFormat* format = FindBodyFormatByName(name);
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->name, name);
    EXPECT_EQ(AsJson(format->read(document)), "{\"a\":[1,true]}");
    EXPECT_EQ(AsJson(format->readBody(document)), "{\"a\":[1,true]}");
    // Every body content type of the format leads back to it.
    for (std::string_view type : format->contentTypes) {
      EXPECT_EQ(FindBodyFormatByContentType(type), format) << type;
    }
  }
  EXPECT_EQ(FindBodyFormatByName("JSON"), nullptr);
  EXPECT_EQ(FindBodyFormatByName("xml"), nullptr);
  EXPECT_EQ(FindBodyFormatByName(""), nullptr);
}

TEST(BodyFormatsTest, ContentTypesMatchAsCaseFreePrefixes) {
  const struct {
    std::string_view contentType;
    const char* format;
  } cases[] = {
      {"application/json", "json"},
      {"Application/JSON; charset=utf-8", "json"},
      {"application/vnd.api+json", "json"},
      {"application/vnd.api+json; charset=utf-8", "json"},
      {"application/jsonx", "json"},
      {"application/x-msgpack", "msgpack"},
      {"application/x-msgpack-ext", "msgpack"},
      {"APPLICATION/X-MSGPACK", "msgpack"},
      {"application/x-yaml", "yaml"},
      {"Application/X-Yaml; charset=utf-8", "yaml"},
      // The argument texts' old content types were never body types.
      {"text/x-yaml", "none"},
      {"application/octet-stream", "none"},
      {"application/jso", "none"},
      {"application/xjson", "none"},
      {" application/json", "none"},
      {"text/plain", "none"},
      {"", "none"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NameOf(FindBodyFormatByContentType(c.contentType)), c.format) << c.contentType;
  }
}

TEST(BodyFormatsTest, BodiesKeepTheirFraming) {
  const BodyFormat& json = *FindBodyFormatByName("json");
  const BodyFormat& yaml = *FindBodyFormatByName("yaml");
  const BodyFormat& msgpack = *FindBodyFormatByName("msgpack");
  // Text bodies end at their first NUL.
  EXPECT_EQ(AsJson(json.readBody("{\"x\":1} \0{garbage"s)), "{\"x\":1}");
  EXPECT_EQ(AsJson(yaml.readBody("x: 1\n\0: ["s)), "{\"x\":1}");
  // A YAML document read whole hands the NUL to the parser, which refuses it.
  EXPECT_FALSE(yaml.read("x: 1\n\0: ["s).Ok());
  // A MessagePack body must be exactly one item; a document read stops after it.
  EXPECT_EQ(AsJson(msgpack.readBody("\x81\xa1x\x01\x00"s)),
            "error: Extra MessgePack data found in body");
  EXPECT_EQ(AsJson(msgpack.read("\x81\xa1x\x01\x00"s)), "{\"x\":1}");
  // Readers' own failures pass through unchanged.
  EXPECT_EQ(AsJson(msgpack.readBody("\x81\x01\x02"s)),
            "error: Invalid MessagePack data at position 2. Map keys must be strings.");
  EXPECT_EQ(AsJson(json.readBody("{} x")),
            "error: Error: The document root must not be followed by other values. at offset 3.");
}

TEST(BodyFormatsTest, ArgumentTextsAreSniffedByTheirFirstBytes) {
  const struct {
    std::string text;
    const char* format;
  } cases[] = {
      {"{\"k\":1}", "json"},
      {"  [1]", "json"},
      {"---\nk: v\n", "yaml"},
      {"  ---", "yaml"},
      {"\x81\xa1k\x01", "msgpack"},
      {"\x90", "msgpack"},
      {"\x9f", "msgpack"},
      {"\xdc", "msgpack"},
      {"\xdf", "msgpack"},
      {"\xa1k", "none"},   // a string item is no container
      {"\xe0", "none"},
      {" \x81", "none"},   // MessagePack is never preceded by spaces
      {"\t{}", "none"},    // only spaces are skipped
      {"--", "none"},
      {"hello", "none"},
      {"", "none"},
  };
  for (const auto& c : cases) EXPECT_EQ(NameOf(SniffBodyFormat(c.text)), c.format) << c.text;
}

// What keeps the table sound as formats are added: unique names, no content
// type that another format's would also claim (so the order of the entries
// never decides a lookup), and every document sniffed as its own format.
TEST(BodyFormatsTest, EntriesNeverClaimEachOthersInput) {
  std::set<std::string_view> names;
  for (const BodyFormat& format : BodyFormats()) {
    SCOPED_TRACE(std::string(format.name));
    EXPECT_TRUE(names.insert(format.name).second);
    EXPECT_FALSE(format.contentTypes.empty());
    ASSERT_NE(format.read, nullptr);
    ASSERT_NE(format.readBody, nullptr);
    ASSERT_NE(format.looksLike, nullptr);
    const std::string_view failure = format.argumentFailure;
    EXPECT_TRUE(failure.starts_with("Couldn't deserialize ")) << failure;
    EXPECT_TRUE(failure.ends_with(" value for parameter '%1' of '%2': %3")) << failure;
    for (const BodyFormat& other : BodyFormats()) {
      if (&other == &format) continue;
      for (std::string_view mine : format.contentTypes) {
        for (std::string_view theirs : other.contentTypes) {
          EXPECT_FALSE(theirs.starts_with(mine)) << mine << " / " << theirs;
        }
      }
    }
  }
  for (const auto& [name, document] : kDocuments) {
    EXPECT_EQ(NameOf(SniffBodyFormat(document)), name);
  }
}

TEST(ContentTypeTest, CaseInsensitivePrefix) {
  struct Case {
    const char* text;
    std::string_view type;
    bool expected;
  };
  const Case cases[] = {
      {"Application/JSON; charset=utf-8", kContentTypeJson, true},
      {"application/json", kContentTypeJson, true},
      {"application/jso", kContentTypeJson, false},
      {"", kContentTypeJson, false},
      {"application/xjson", kContentTypeJson, false},
      {"application/x-msgpack-ext", kContentTypeMsgpack, true},
      {"application/x-msgpack", "application/x-msgpack-ext", false},
      {"APPLICATION/X-YAML", kContentTypeYaml, true},
      {"application/vnd.api+json", kContentTypeJsonApi, true},
  };
  for (const Case& c : cases) EXPECT_EQ(IsContentType(c.text, c.type), c.expected) << c.text << " / " << c.type;
}

}  // namespace
}  // namespace qmx
