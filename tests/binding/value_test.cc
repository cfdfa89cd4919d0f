#include "binding/value.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace qmx {
namespace {

// Records the walk of a value as a flat text, one token per visitor call.
class Recorder : public ValueVisitor {
 public:
  std::string trace;
  void Null() override { trace += "null "; }
  void Bool(bool v) override { trace += v ? "true " : "false "; }
  void Signed(int64_t v) override { trace += "s" + std::to_string(v) + " "; }
  void Unsigned(uint64_t v) override { trace += "u" + std::to_string(v) + " "; }
  void Float(double v) override { trace += "f" + std::to_string(v) + " "; }
  void String(std::string_view v) override { trace += "'" + std::string(v) + "' "; }
  void Blob(std::span<const uint8_t> v) override { trace += "blob" + std::to_string(v.size()) + " "; }
  void Enum(const EnumRecord& r) override { trace += "e" + std::to_string(r.number) + " "; }
  void BeginCollection(size_t n) override { trace += "[" + std::to_string(n) + " "; }
  void BeginElement(size_t i) override { trace += "<" + std::to_string(i) + " "; }
  void EndElement(size_t i) override { trace += std::to_string(i) + "> "; }
  void EndCollection() override { trace += "] "; }
  void BeginStructure(size_t n) override { trace += "{" + std::to_string(n) + " "; }
  void BeginMember(std::string_view name) override { trace += std::string(name) + ": "; }
  void EndMember(std::string_view) override {}
  void EndStructure() override { trace += "} "; }
};

std::string Walk(const Value& v) {
  Recorder recorder;
  v.Accept(recorder);
  return recorder.trace;
}

TEST(ValueTest, KindNames) {
  const char* expected[] = {"empty",  "bool", "signed", "unsigned",   "float",
                            "string", "blob", "enum",   "collection", "structure"};
  for (unsigned k = 0; k < 10; ++k) EXPECT_STREQ(KindName(k), expected[k]);
  EXPECT_STREQ(KindName(10u), "");
  EXPECT_STREQ(KindName(255u), "");
}

TEST(ValueTest, ScalarsAndTheirText) {
  Value v;
  EXPECT_TRUE(v.IsEmpty());
  EXPECT_EQ(v.Size(), 0u);
  EXPECT_EQ(v.ToString(), "");
  v.SetBool(true);
  EXPECT_EQ(v.ToString(), "true");
  EXPECT_EQ(v.Size(), 1u);
  v.SetSigned(-5);
  EXPECT_EQ(v.ToString(), "-5");
  v.SetUnsigned(18446744073709551615ull);
  EXPECT_EQ(v.ToString(), "18446744073709551615");
  v.SetFloat(1.5);
  EXPECT_EQ(v.ToString(), "1.500000");
  v.SetBlob("abc", 3);
  EXPECT_EQ(v.ToString(), "YWJj");
  EXPECT_EQ(v.Size(), 3u);
  v.SetEnum(-7, TypeId(0x2698AA94));
  EXPECT_EQ(v.ToString(), "-7");
  EXPECT_EQ(v.GetEnum().type, 0x2698AA94u);
  v.SetString("text");
  EXPECT_EQ(v.ToString(), "text");
  EXPECT_EQ(v.Size(), 4u);
  // Readers of another kind give zero values.
  EXPECT_EQ(v.GetSigned(), 0);
  EXPECT_FALSE(v.GetBool());
  EXPECT_TRUE(v.GetBlob().empty());
}

TEST(ValueTest, StringsMayHoldTheirOwnText) {
  Value v;
  v.SetString("a long text that certainly lives in the arena");
  std::string_view own = v.GetString();
  v.SetString(own.substr(2, 4));
  EXPECT_EQ(v.GetString(), "long");
  v.SetString("");
  EXPECT_EQ(v.GetString(), "");
  EXPECT_EQ(v.Kind(), ValueKind::String);
}

TEST(ValueTest, MembersIterateInNameOrder) {
  Value v;
  v.Member("b").SetSigned(2);
  v.Member("a").SetSigned(1);
  v.Member("B").SetSigned(0);
  EXPECT_EQ(Walk(v), "{3 B: s0 a: s1 b: s2 } ");
  Value copy;
  copy.Assign(v);
  EXPECT_EQ(Walk(copy), "{3 B: s0 a: s1 b: s2 } ");
  // Bytes above 0x7F sort after ASCII: comparison is unsigned.
  v.Member("\xc3\xa9").SetBool(true);
  EXPECT_EQ(v.MemberName(3), "\xc3\xa9");
}

TEST(ValueTest, MemberFindsExistingAndFindMemberNeverInserts) {
  Value v;
  v.SetBool(true);
  EXPECT_TRUE(v.FindMember("x").IsEmpty());
  EXPECT_EQ(v.Kind(), ValueKind::Bool);
  v.Member("x");
  EXPECT_EQ(v.Kind(), ValueKind::Structure);
  EXPECT_EQ(v.Size(), 1u);
  EXPECT_TRUE(v.FindMember("x").IsEmpty());
  v.Member("x").SetUnsigned(3);
  v.Member("x").SetUnsigned(4);
  EXPECT_EQ(v.Size(), 1u);
  EXPECT_EQ(v.FindMember("x").GetUnsigned(), 4u);
  EXPECT_TRUE(v.FindMember("y").IsEmpty());
  EXPECT_EQ(v.Size(), 1u);
  EXPECT_TRUE(v.RemoveMember("x"));
  EXPECT_FALSE(v.RemoveMember("x"));
  EXPECT_EQ(v.Size(), 0u);
}

TEST(ValueTest, NamesWithEmbeddedNulStayDistinct) {
  Value v;
  v.Member(std::string_view("a\0b", 3)).SetSigned(1);
  v.Member(std::string_view("a\0c", 3)).SetSigned(2);
  v.Member("a").SetSigned(0);
  EXPECT_EQ(v.Size(), 3u);
  EXPECT_EQ(v.FindMember(std::string_view("a\0c", 3)).GetSigned(), 2);
  EXPECT_EQ(v.MemberName(0), "a");
}

TEST(ValueTest, ElementGrowsWithEmptyChildren) {
  Value v;
  Value& fourth = v.Element(3);
  fourth.SetString("x");
  EXPECT_EQ(v.Kind(), ValueKind::Collection);
  ASSERT_EQ(v.Size(), 4u);
  for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(v.At(i).IsEmpty());
  EXPECT_EQ(v.At(3).GetString(), "x");
  EXPECT_TRUE(v.At(99).IsEmpty());
  // Element on a non-Collection discards the old content.
  Value s;
  s.Member("a").SetSigned(1);
  s.Element(0).SetSigned(2);
  EXPECT_EQ(Walk(s), "[1 <0 s2 0> ] ");
}

TEST(ValueTest, MakeContainersKeepExistingContent) {
  Value v;
  v.Append().SetSigned(1);
  v.MakeCollection();
  EXPECT_EQ(v.Size(), 1u);
  v.MakeStructure();
  EXPECT_EQ(v.Size(), 0u);
  v.Member("a");
  v.MakeStructure();
  EXPECT_EQ(v.Size(), 1u);
}

TEST(ValueTest, ReserveRefusesTooManyElements) {
  Value v;
  v.MakeCollection();
  EXPECT_THROW(v.Reserve(Value::kMaxElements + 1), std::length_error);
  try {
    v.Reserve(Value::kMaxElements + 1);
  } catch (const std::length_error& error) {
    EXPECT_STREQ(error.what(), "vector<T> too long");
  }
  Value s;
  s.SetSigned(1);
  s.Reserve(10);  // not a Collection: nothing happens
  EXPECT_EQ(s.Kind(), ValueKind::Signed);
}

TEST(ValueTest, ReserveMembersKeepsMembersAndRefusesTooMany) {
  Value v;
  v.Member("b").SetSigned(2);
  v.Member("a").SetSigned(1);
  v.ReserveMembers(100);
  v.ReserveMembers(1);  // smaller than what is there: nothing changes
  for (int i = 0; i < 100; ++i) v.Member("m" + std::to_string(i)).SetSigned(i);
  EXPECT_EQ(v.Size(), 102u);
  EXPECT_EQ(v.MemberName(0), "a");
  EXPECT_EQ(v.FindMember("b").GetSigned(), 2);
  EXPECT_EQ(v.FindMember("m99").GetSigned(), 99);
  EXPECT_THROW(v.ReserveMembers(Value::kMaxElements + 1), std::length_error);
  Value s;
  s.SetSigned(1);
  s.ReserveMembers(10);  // not a Structure: nothing happens
  EXPECT_EQ(s.Kind(), ValueKind::Signed);
}

TEST(ValueTest, AssignDeepCopiesAcrossContexts) {
  Value source;
  source.Member("list").Append().SetString("shared");
  source.Member("list").Append().SetBlob("\x01\x02", 2);
  source.Member("e").SetEnum(3, TypeId(42));
  Value copy;
  copy.Assign(source);
  source.Reset();
  EXPECT_EQ(Walk(copy), "{2 e: e3 list: [2 <0 'shared' 0> <1 blob2 1> ] } ");
  copy.Assign(copy);  // self-assignment does nothing
  EXPECT_EQ(copy.Size(), 2u);
}

TEST(ValueTest, AssignFromInsideOwnTree) {
  Value v;
  v.Member("inner").Member("x").SetSigned(1);
  v.Assign(v.FindMember("inner"));
  EXPECT_EQ(Walk(v), "{1 x: s1 } ");
  Value w;
  w.Member("a").SetSigned(1);
  // Member() inserts "copy" before the copy is taken, so the copy holds it, Empty.
  w.Member("copy").Assign(w);
  EXPECT_EQ(Walk(w), "{2 a: s1 copy: {2 a: s1 copy: null } } ");
}

TEST(ValueTest, SwapExchangesRootsAndCopiesChildren) {
  Value a, b;
  a.SetString("a");
  b.Member("b").SetSigned(1);
  a.Swap(b);
  EXPECT_EQ(Walk(a), "{1 b: s1 } ");
  EXPECT_TRUE(b.IsEmpty());

  // A child swapped with a root: the root is copied into the child and emptied.
  Value root;
  Value& child = root.Member("slot");
  Value other;
  other.Append().SetString("x");
  child.Swap(other);
  EXPECT_TRUE(other.IsEmpty());
  EXPECT_EQ(Walk(root), "{1 slot: [1 <0 'x' 0> ] } ");

  // A root swapped with one of its own children takes the child's content.
  Value tree;
  tree.Member("keep").Member("x").SetSigned(7);
  tree.Swap(tree.Member("keep"));
  EXPECT_EQ(Walk(tree), "{1 x: s7 } ");
}

TEST(ValueTest, MoveLeavesSourceEmpty) {
  Value a;
  a.Member("k").SetString("v");
  Value b(std::move(a));
  EXPECT_TRUE(a.IsEmpty());
  EXPECT_EQ(b.FindMember("k").GetString(), "v");
  std::vector<Value> values;
  values.emplace_back(std::move(b));
  values.emplace_back();
  values[1].SetSigned(2);
  values.reserve(100);
  EXPECT_EQ(values[0].FindMember("k").GetString(), "v");
}

TEST(ValueTest, AppendMemberThenFinishFoldsLikeSequentialWrites) {
  Value v;
  v.AppendMember("z").SetSigned(1);
  v.AppendMember("a").SetSigned(2);
  v.AppendMember("z").SetSigned(3);  // a later scalar replaces
  Value& s1 = v.AppendMember("s");
  s1.Member("x").SetSigned(1);
  s1.Member("y").SetSigned(1);
  Value& s2 = v.AppendMember("s");
  s2.Member("y").SetSigned(2);  // structures merge, later members win
  v.AppendMember("c").Append().SetSigned(1);
  v.AppendMember("c").Append().SetSigned(2);  // collections concatenate
  v.AppendMember("k").Append().SetSigned(1);
  v.AppendMember("k").Member("m").SetSigned(1);  // another container kind replaces
  v.FinishMembers();
  EXPECT_EQ(Walk(v),
            "{5 a: s2 c: [2 <0 s1 0> <1 s2 1> ] k: {1 m: s1 } s: {2 x: s1 y: s2 } z: s3 } ");
  EXPECT_EQ(v.FindMember("z").GetSigned(), 3);
}

// Small member lists sort by insertion, longer ones by merging: either way
// a repeated name keeps its first place and its last scalar, like writes in
// sequence through Member().
TEST(ValueTest, FinishMembersMatchesSequentialWritesAtEverySize) {
  std::mt19937 random(7);
  for (size_t size = 1; size <= 70; ++size) {
    Value appended;
    Value sequential;
    for (size_t i = 0; i < size; ++i) {
      std::string name(1 + random() % 3, static_cast<char>('a' + random() % 6));
      appended.AppendMember(name).SetSigned(static_cast<int64_t>(i));
      sequential.Member(name).SetSigned(static_cast<int64_t>(i));
    }
    appended.FinishMembers();
    ASSERT_EQ(Walk(appended), Walk(sequential)) << size;
  }
}

TEST(ValueTest, ManyMembersInReverseOrder) {
  Value v;
  const int count = 20000;
  for (int i = count; i-- > 0;) v.AppendMember("m" + std::to_string(100000 + i)).SetSigned(i);
  v.FinishMembers();
  ASSERT_EQ(v.Size(), static_cast<size_t>(count));
  for (int i = 0; i < count; i += 997) {
    EXPECT_EQ(v.FindMember("m" + std::to_string(100000 + i)).GetSigned(), i);
  }
  EXPECT_EQ(v.MemberName(0), "m100000");
}

TEST(ValueTest, InterningSharesAndReleasesStrings) {
  Value v;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 2000; ++i) v.Element(i).SetString("text " + std::to_string(i % 50));
    for (int i = 0; i < 2000; i += 2) v.Element(i).Reset();
    for (int i = 0; i < 2000; ++i) {
      if (i % 2) {
        EXPECT_EQ(v.At(i).GetString(), "text " + std::to_string(i % 50));
      }
    }
    v.Reset();
  }
}

// Interned strings live in pools by entry size (header, text, NUL); a text on
// either side of a pool's limit must come back intact after its neighbours
// are released, re-used and the whole document is copied.
TEST(ValueTest, StringsOfEveryLengthAroundThePoolLimits) {
  Value v;
  std::vector<std::string> texts;
  for (size_t length = 0; length <= 300; ++length) {
    std::string text(length, static_cast<char>('a' + length % 26));
    if (length > 0) text[length - 1] = static_cast<char>('0' + length % 10);
    texts.push_back(text);
    v.Element(length).SetString(text);
  }
  for (size_t i = 0; i < texts.size(); i += 3) v.Element(i).Reset();
  for (size_t i = 0; i < texts.size(); i += 3) v.Element(i).SetString(texts[i] + "!");
  Value copy;
  copy.Assign(v);
  v.Reset();
  for (size_t i = 0; i < texts.size(); ++i) {
    std::string expected = i % 3 == 0 ? texts[i] + "!" : texts[i];
    ASSERT_EQ(copy.At(i).GetString(), expected) << "length " << i;
  }
}

TEST(ValueResultTest, ErrorsReplaceEachOther) {
  ValueResult result;
  EXPECT_TRUE(result.Ok());
  EXPECT_EQ(result.ErrorText(), "");
  result.value().SetSigned(5);
  result.SetError("first");
  result.SetError("second");
  EXPECT_FALSE(result.Ok());
  EXPECT_EQ(result.ErrorText(), "second");
  EXPECT_EQ(result.value().Size(), 1u);
  EXPECT_EQ(result.value().FindMember("error").GetString(), "second");
  // The message may come from the result itself.
  result.SetError(result.ErrorText());
  EXPECT_EQ(result.ErrorText(), "second");
}

}  // namespace
}  // namespace qmx
