// The member map behind Structure values: name order, removal, and the bulk
// path (AppendMember, then FinishMembers) against writes through Member().
#include "binding/member_map.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "binding/value.h"

namespace qmx {
namespace {

// An interned-string record built in local storage, for comparing names
// without a context.
class LocalName {
 public:
  explicit LocalName(std::string_view text) : storage_(sizeof(InternedString) + text.size() + 1) {
    entry_ = new (storage_.data()) InternedString{1, Fnv1a(text), static_cast<uint32_t>(text.size()), 0, 0};
    if (!text.empty()) std::memcpy(entry_->Text(), text.data(), text.size());
    entry_->Text()[text.size()] = '\0';
  }
  const InternedString* get() const { return entry_; }

 private:
  std::vector<uint64_t> storage_;  // 8-byte aligned, more than enough bytes
  InternedString* entry_;
};

int Sign(int order) { return order < 0 ? -1 : (order > 0 ? 1 : 0); }

TEST(MemberMapTest, NamesCompareByUnsignedBytesWithPrefixesFirst) {
  using namespace std::string_literals;
  struct Case {
    std::string member;
    std::string name;
    int order;
  } cases[] = {
      {"a", "b", -1},        {"b", "a", 1},          {"a", "a", 0},
      {"", "", 0},           {"", "a", -1},          {"a", "", 1},
      {"ab", "a", 1},        {"a", "ab", -1},        {"\x7f", "\x80", -1},
      {"\xff", "z", 1},      {"a\0b"s, "a\0c"s, -1}, {"a"s, "a\0"s, -1},
      {"a\0"s, "a"s, 1},     {"B", "a", -1},         {"abcdefghZ", "abcdefghA", 1},
  };
  for (const Case& c : cases) {
    LocalName member(c.member);
    EXPECT_EQ(Sign(CompareName(member.get(), c.name)), c.order)
        << testing::PrintToString(c.member) << " vs " << testing::PrintToString(c.name);
  }
}

std::vector<std::string> Names(const Value& v) {
  std::vector<std::string> names;
  for (size_t i = 0; i < v.Size(); ++i) names.emplace_back(v.MemberName(i));
  return names;
}

TEST(MemberMapTest, RemovingAnyMemberKeepsTheOthersInOrderAndFindable) {
  for (const char* removed : {"a", "m", "z"}) {
    Value v;
    for (const char* name : {"z", "m", "a", "q", "c"}) v.Member(name).SetString(name);
    ASSERT_TRUE(v.RemoveMember(removed)) << removed;
    EXPECT_FALSE(v.HasMember(removed)) << removed;
    EXPECT_EQ(v.Size(), 4u) << removed;
    for (size_t i = 0; i < v.Size(); ++i) {
      EXPECT_EQ(v.MemberValue(i).GetString(), v.MemberName(i)) << removed;
      if (i != 0) {
        EXPECT_LT(v.MemberName(i - 1), v.MemberName(i)) << removed;
      }
    }
    // The name goes back into its place.
    v.Member(removed).SetString(removed);
    EXPECT_EQ(Names(v), (std::vector<std::string>{"a", "c", "m", "q", "z"})) << removed;
  }
}

TEST(MemberMapTest, FinishingAnOrderedMapLeavesItsMembersWhereTheyAre) {
  Value v;
  Value& first = v.AppendMember("a");
  first.SetSigned(1);
  v.AppendMember("b").SetSigned(2);
  EXPECT_FALSE(v.FinishMembers());  // nothing folded
  EXPECT_EQ(&v.FindMember("a"), &first);
  EXPECT_EQ(v.FindMember("b").GetSigned(), 2);
}

TEST(MemberMapTest, RepeatedStructuresMergeAtEveryDepth) {
  // Without folding, a map whose names repeat is left as appended, to be
  // released.
  Value unfolded;
  unfolded.AppendMember("b").SetSigned(1);
  unfolded.AppendMember("a").Member("x");
  EXPECT_FALSE(unfolded.FinishMembers(false));
  unfolded.AppendMember("b").Member("y");
  EXPECT_TRUE(unfolded.FinishMembers(false));
  EXPECT_EQ(unfolded.Size(), 3u);
  unfolded.Reset();

  Value v;
  Value& early = v.AppendMember("s");
  early.Member("inner").Member("x").SetSigned(1);
  early.Member("inner").Member("y").SetSigned(1);
  early.Member("keep").SetBool(true);
  Value& late = v.AppendMember("s");
  late.Member("inner").Member("y").SetSigned(2);
  late.Member("inner").Member("list").Append().SetSigned(3);
  v.AppendMember("a").SetBool(false);
  EXPECT_TRUE(v.FinishMembers());  // "s" folded
  ASSERT_EQ(Names(v), (std::vector<std::string>{"a", "s"}));
  const Value& inner = v.FindMember("s").FindMember("inner");
  EXPECT_EQ(Names(inner), (std::vector<std::string>{"list", "x", "y"}));
  EXPECT_EQ(inner.FindMember("x").GetSigned(), 1);
  EXPECT_EQ(inner.FindMember("y").GetSigned(), 2);
  EXPECT_EQ(inner.FindMember("list").At(0).GetSigned(), 3);
  EXPECT_TRUE(v.FindMember("s").FindMember("keep").GetBool());
}

// One write to a member: a scalar, an element appended, or a member set.
void Write(Value& member, int op, int64_t number) {
  switch (op) {
    case 0:
      member.SetSigned(number);
      break;
    case 1:
      member.Append().SetSigned(number);
      break;
    default:
      member.Member(number % 2 == 0 ? "even" : "odd").SetSigned(number);
      break;
  }
}

std::string Dump(const Value& v) {
  switch (v.Kind()) {
    case ValueKind::Collection: {
      std::string text = "[";
      for (size_t i = 0; i < v.Size(); ++i) text += Dump(v.At(i)) + ",";
      return text + "]";
    }
    case ValueKind::Structure: {
      std::string text = "{";
      for (size_t i = 0; i < v.Size(); ++i) {
        text += std::string(v.MemberName(i)) + ":" + Dump(v.MemberValue(i)) + ",";
      }
      return text + "}";
    }
    default:
      return std::string(KindName(v.Kind())) + v.ToString();
  }
}

// Every sort path (maps of up to 16 sorted in their own array, the local
// index, the larger merge sort), with repeated names whose values are
// scalars, collections and structures in any mix: the bulk path must end as
// the same writes through Member() do.
TEST(MemberMapTest, BulkBuildingMatchesSequentialWritesForEveryKindOfRepeat) {
  std::mt19937 random(11);
  for (size_t size : {2u, 7u, 16u, 17u, 40u, 64u, 65u, 150u}) {
    for (int round = 0; round < 5; ++round) {
      Value appended;
      Value sequential;
      for (size_t i = 0; i < size; ++i) {
        std::string name = "k" + std::to_string(random() % (size / 2 + 1));
        int op = static_cast<int>(random() % 3);
        Write(appended.AppendMember(name), op, static_cast<int64_t>(i));
        Write(sequential.Member(name), op, static_cast<int64_t>(i));
      }
      appended.FinishMembers();
      ASSERT_EQ(Dump(appended), Dump(sequential)) << size << " round " << round;
    }
  }
}

// Maps of one shape in one document: the second remembers the order and
// later ones take it, small and large alike; each ends sorted with its own
// values.
TEST(MemberMapTest, MapsOfARepeatedShapeEachEndSortedWithTheirOwnValues) {
  for (size_t size : {5u, 16u, 17u, 30u}) {
    Value document;
    document.MakeCollection();
    for (int copy = 0; copy < 4; ++copy) {
      Value& map = document.Append();
      map.MakeStructure();
      for (size_t i = size; i-- > 0;) {
        map.AppendMember("name" + std::to_string(i)).SetSigned(copy * 100 + static_cast<int64_t>(i));
      }
      EXPECT_FALSE(map.FinishMembers());
    }
    for (int copy = 0; copy < 4; ++copy) {
      const Value& map = document.At(static_cast<size_t>(copy));
      ASSERT_EQ(map.Size(), size);
      for (size_t i = 1; i < size; ++i) EXPECT_LT(map.MemberName(i - 1), map.MemberName(i)) << size;
      for (size_t i = 0; i < size; ++i) {
        const int64_t expected = copy * 100 + static_cast<int64_t>(i);
        EXPECT_EQ(map.FindMember("name" + std::to_string(i)).GetSigned(), expected) << size << " copy " << copy;
      }
    }
  }
}

}  // namespace
}  // namespace qmx
