// Where a document keeps its contents: arrays, strings and blob bytes in
// blocks cut from the document's pages (the larger ones on the heap), all of
// it returned when the root goes.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "binding/page_pool.h"
#include "binding/value.h"

namespace qmx {
namespace {

size_t PagesInUse() { return GetPagePoolStats().inUse; }

// Fills a document with every kind of stored content, in sizes on both sides
// of the largest block the pages hold.
void Fill(Value& doc, size_t scale) {
  Value& list = doc.Member("list");
  for (size_t i = 0; i < 20 * scale; ++i) list.Append().SetSigned(static_cast<int64_t>(i));
  Value& record = doc.Member("record");
  for (size_t i = 0; i < 10 * scale; ++i) record.Member("m" + std::to_string(i)).SetUnsigned(i);
  doc.Member("short").SetString("text");
  doc.Member("long").SetString(std::string(300 * scale, 'x'));
  std::vector<uint8_t> bytes(100 * scale, 0xAB);
  doc.Member("bytes").SetBlob(bytes.data(), bytes.size());
}

TEST(ValueStorageTest, SmallAndLargeContentsReadBackAndCopy) {
  for (size_t scale : {1u, 10u, 200u}) {
    Value doc;
    Fill(doc, scale);
    ASSERT_EQ(doc.FindMember("list").Size(), 20 * scale);
    EXPECT_EQ(doc.FindMember("list").At(20 * scale - 1).GetSigned(), static_cast<int64_t>(20 * scale - 1));
    ASSERT_EQ(doc.FindMember("record").Size(), 10 * scale);
    EXPECT_EQ(doc.FindMember("record").FindMember("m7").GetUnsigned(), 7u);
    EXPECT_EQ(doc.FindMember("long").GetString(), std::string(300 * scale, 'x'));
    ASSERT_EQ(doc.FindMember("bytes").GetBlob().size(), 100 * scale);
    EXPECT_EQ(doc.FindMember("bytes").GetBlob().back(), 0xAB);

    Value copy;
    copy.Assign(doc);
    doc.Reset();  // the copy keeps nothing of the source's storage
    EXPECT_EQ(copy.FindMember("record").Size(), 10 * scale) << scale;
    EXPECT_EQ(copy.FindMember("long").Size(), 300 * scale) << scale;
    EXPECT_EQ(copy.FindMember("short").GetString(), "text") << scale;
  }
}

TEST(ValueStorageTest, DestroyingADocumentReturnsEveryPage) {
  size_t before = PagesInUse();
  {
    Value doc;
    Fill(doc, 50);
    EXPECT_GT(PagesInUse(), before);
    Value moved(std::move(doc));  // the pages follow the context
    EXPECT_TRUE(doc.IsEmpty());
  }
  EXPECT_EQ(PagesInUse(), before);
}

// A long-lived document whose parts are replaced over and over reuses the
// blocks it freed instead of taking more pages.
TEST(ValueStorageTest, RewritingADocumentKeepsItsPageCountFlat) {
  Value doc;
  auto rewrite = [&doc](int round) {
    for (int i = 0; i < 20; ++i) {
      Value& slot = doc.Member("slot" + std::to_string(i % 5));
      if (i % 3 == 0) {
        slot.Reset();
        for (int j = 0; j < 30; ++j) slot.Append().SetString("element " + std::to_string(j + round));
      } else if (i % 3 == 1) {
        slot.Member("name " + std::to_string(round)).SetSigned(round);
        slot.RemoveMember("name " + std::to_string(round - 1));
      } else {
        slot.SetString(std::string(static_cast<size_t>(40 + round % 7), 'y'));
      }
    }
  };
  for (int round = 0; round < 20; ++round) rewrite(round);
  size_t settled = PagesInUse();
  for (int round = 20; round < 400; ++round) rewrite(round);
  EXPECT_LE(PagesInUse(), settled + 1);
}

// A repeated key folded away by FinishMembers must leave the surviving
// member and its storage intact, in a map large enough to be sorted through
// the heap-free index as well as the local one.
TEST(ValueStorageTest, FinishMembersKeepsLargeMapsIntactAcrossRepeats) {
  for (size_t count : {5u, 64u, 65u, 500u}) {
    Value doc;
    for (size_t i = count; i-- > 0;) doc.AppendMember("key" + std::to_string(i)).SetUnsigned(i);
    doc.AppendMember("key0").Append().SetBool(true);
    doc.FinishMembers();
    ASSERT_EQ(doc.Size(), count) << count;
    for (size_t i = 1; i < count; ++i) ASSERT_LT(doc.MemberName(i - 1), doc.MemberName(i)) << count;
    EXPECT_EQ(doc.FindMember("key0").Kind(), ValueKind::Collection) << count;
    EXPECT_EQ(doc.FindMember("key1").GetUnsigned(), 1u) << count;
  }
}

// Records of one shape reuse the order found for the first; records that
// differ only inside, or repeat a name, must still get their own.
TEST(ValueStorageTest, RecordsOfOneShapeSortAlikeAndKeepTheirValues) {
  Value doc;
  Value& list = doc.Member("list");
  for (int i = 0; i < 60; ++i) {
    Value& record = list.Append();
    const char* middle = i % 3 == 0 ? "m" : (i % 3 == 1 ? "q" : "z");  // "z" repeats the first name
    record.AppendMember("z").SetSigned(i);
    record.AppendMember(middle).SetSigned(-i);
    record.AppendMember("a").SetSigned(i * 10);
    record.FinishMembers();
  }
  for (int i = 0; i < 60; ++i) {
    const Value& record = list.At(static_cast<size_t>(i));
    if (i % 3 == 2) {
      ASSERT_EQ(record.Size(), 2u) << i;
      EXPECT_EQ(record.FindMember("z").GetSigned(), -i) << i;  // the later write wins
    } else {
      ASSERT_EQ(record.Size(), 3u) << i;
      EXPECT_EQ(record.MemberName(1), i % 3 == 0 ? "m" : "q") << i;
      EXPECT_EQ(record.MemberValue(1).GetSigned(), -i) << i;
      EXPECT_EQ(record.FindMember("z").GetSigned(), i) << i;
    }
    EXPECT_EQ(record.MemberName(0), "a") << i;
    EXPECT_EQ(record.FindMember("a").GetSigned(), i * 10) << i;
  }
}

TEST(ValueStorageTest, NamesThatShareALongPrefixSortByTheirFullText) {
  Value doc;
  for (const char* name : {"abcdefghZ", "abcdefgh", "abcdefghA", "abcdefg"}) doc.AppendMember(name).SetBool(true);
  doc.AppendMember(std::string("abcdefgh\0", 9)).SetBool(false);
  doc.AppendMember(std::string("abcdefgh\xFF", 9)).SetBool(true);
  doc.FinishMembers();
  std::vector<std::string> names;
  for (size_t i = 0; i < doc.Size(); ++i) names.emplace_back(doc.MemberName(i));
  std::vector<std::string> expected = {"abcdefg", "abcdefgh", std::string("abcdefgh\0", 9), "abcdefghA",
                                       "abcdefghZ", std::string("abcdefgh\xFF", 9)};
  EXPECT_EQ(names, expected);
  EXPECT_FALSE(doc.FindMember(std::string("abcdefgh\0", 9)).GetBool());
}

TEST(ValueStorageTest, Fnv1aMatchesTheByteWiseDefinition) {
  std::string text = "The quick brown fox jumps";
  for (size_t length = 0; length <= text.size(); ++length) {
    uint32_t expected = 0x811C9DC5u;
    for (size_t i = 0; i < length; ++i) expected = (expected ^ static_cast<unsigned char>(text[i])) * 16777619u;
    EXPECT_EQ(Fnv1a(std::string_view(text.data(), length)), expected) << length;
  }
  EXPECT_EQ(Fnv1a("a"), 0xE40C292Cu);
  EXPECT_EQ(Fnv1a("foobar"), 0xBF9CF968u);
  EXPECT_EQ(Fnv1a("\xFF\x80"), (((0x811C9DC5u ^ 0xFFu) * 16777619u) ^ 0x80u) * 16777619u);
}

TEST(PageLedgerTest, ReturnsEveryPageItRecorded) {
  size_t before = PagesInUse();
  {
    PageLedger ledger;
    for (int i = 0; i < 1200; ++i) static_cast<char*>(ledger.Acquire())[kPageSize - 1] = 1;
    EXPECT_GE(PagesInUse(), before + 1200);
  }
  EXPECT_EQ(PagesInUse(), before);
}

}  // namespace
}  // namespace qmx
