// The member map behind Structure values: name order, removal, and the bulk
// path (AppendMember, then FinishMembers) against writes through Member().
#include "binding/member_map.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// Lookups that bring the name's hash scan small maps and search larger ones:
// either way they find exactly what the plain lookup finds, also when two
// names share a hash ("glbvs" and "yacxa" do), one name is a prefix of
// another, or a name holds a NUL; and inserting with the hash builds the
// same map as inserting without it.
TEST(MemberMapTest, LookupsWithTheNameHashAgreeWithThePlainLookup) {
  ASSERT_EQ(Fnv1a("glbvs"), Fnv1a("yacxa"));
  const std::string nul("a\0b", 3);
  const std::vector<std::string> pool = {"glbvs", "yacxa", "a",   "ab",  nul,  "abc", "userId",
                                         "offerIds", "locale", "refresh", "z", "zz", "m"};
  std::mt19937 random(7);
  for (size_t size = 0; size <= pool.size(); ++size) {
    std::vector<std::string> names(pool.begin(), pool.begin() + static_cast<std::ptrdiff_t>(size));
    std::shuffle(names.begin(), names.end(), random);
    Value plain;
    Value hashed;
    plain.MakeStructure();
    hashed.MakeStructure();
    for (size_t i = 0; i < names.size(); ++i) {
      plain.Member(names[i]).SetSigned(static_cast<int64_t>(i));
      hashed.Member(names[i], Fnv1a(names[i])).SetSigned(static_cast<int64_t>(i));
    }
    // A repeated insertion finds the member instead of adding one.
    if (!names.empty()) hashed.Member(names[0], Fnv1a(names[0])).SetSigned(0);
    ASSERT_EQ(hashed.Size(), size);
    for (size_t i = 0; i < size; ++i) EXPECT_EQ(hashed.MemberName(i), plain.MemberName(i)) << size;
    for (const std::string& name : pool) {
      const Value& found = hashed.FindMember(name, Fnv1a(name));
      EXPECT_EQ(&found, &hashed.FindMember(name)) << size << " " << name;
      EXPECT_EQ(found.IsEmpty(), plain.FindMember(name).IsEmpty()) << size << " " << name;
      if (!found.IsEmpty()) {
        EXPECT_EQ(found.GetSigned(), plain.FindMember(name).GetSigned());
      }
    }
  }
  const Value notAStructure;
  EXPECT_TRUE(notAStructure.FindMember("a", Fnv1a("a")).IsEmpty());
}

}  // namespace
}  // namespace qmx
