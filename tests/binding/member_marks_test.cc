// Repeated names among maps built in bulk and found by marks: nested maps
// that share names with the maps around them, marks left by earlier work,
// the empty name, and the end of the marks.
#include "binding/member_marks.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "binding/value.h"

namespace qmx {
namespace {

// Writes value under name in the innermost open map.
void Put(MemberMarks& marks, Value& map, std::string_view name, int64_t value) {
  marks.Member(map, name).SetSigned(value);
}

// Names are predicted only after the first few of a MemberMarks: spend them
// on a map of its own, so that the cases below run with predictions.
void WarmUp(MemberMarks& marks, Value& root) {
  Value& map = root.Member("warm-up");
  map.MakeStructure();
  ASSERT_TRUE(marks.Open());
  for (int i = 0; i < 20; ++i) Put(marks, map, "w" + std::to_string(i), i);
  marks.Close();
  map.FinishMembers();
}

// name=value pairs in member order, e.g. "a=1 b=2".
std::string Members(const Value& map) {
  std::string out;
  for (size_t i = 0; i < map.Size(); ++i) {
    if (!out.empty()) out += ' ';
    out += std::string(map.MemberName(i)) + '=' + std::to_string(map.MemberValue(i).GetSigned());
  }
  return out;
}

TEST(MemberMarksTest, RepeatedNamesLandOnTheEarlierMember) {
  Value map;
  map.MakeStructure();
  MemberMarks marks;
  ASSERT_TRUE(marks.Open());
  for (int i = 0; i < 300; ++i) Put(marks, map, "k" + std::to_string(i), i);
  Put(marks, map, "k0", -1);
  Put(marks, map, "k299", -2);
  Put(marks, map, "", 7);
  Put(marks, map, "", 8);  // the empty name is shared by every document, yet found
  EXPECT_EQ(map.Size(), 301u);
  marks.Close();
  map.FinishMembers();
  EXPECT_EQ(map.FindMember("k0").GetSigned(), -1);
  EXPECT_EQ(map.FindMember("k150").GetSigned(), 150);
  EXPECT_EQ(map.FindMember("k299").GetSigned(), -2);
  EXPECT_EQ(map.FindMember("").GetSigned(), 8);
}

// Inner maps take over the marks of names the outer maps hold; once they
// close, each outer map finds its own members again.
TEST(MemberMarksTest, OuterMapsFindTheirNamesAfterInnerMapsClose) {
  Value root;
  root.MakeStructure();
  MemberMarks marks;
  ASSERT_TRUE(marks.Open());
  Put(marks, root, "a", 1);
  Put(marks, root, "b", 2);
  Value& middle = marks.Member(root, "m");
  middle.MakeStructure();
  ASSERT_TRUE(marks.Open());
  Put(marks, middle, "b", 10);
  Put(marks, middle, "a", 11);
  Value& inner = marks.Member(middle, "i");
  inner.MakeStructure();
  ASSERT_TRUE(marks.Open());
  Put(marks, inner, "a", 20);
  Put(marks, inner, "b", 21);
  Put(marks, inner, "a", 22);
  EXPECT_EQ(marks.Depth(), 3u);
  marks.Close();
  inner.FinishMembers();
  Put(marks, middle, "a", 12);  // middle's own "a", taken over by inner meanwhile
  marks.Close();
  middle.FinishMembers();
  // A sibling map that closed reuses nothing of the outer map's.
  Value& sibling = marks.Member(root, "s");
  sibling.MakeStructure();
  ASSERT_TRUE(marks.Open());
  Put(marks, sibling, "b", 30);
  marks.Close();
  sibling.FinishMembers();
  Put(marks, root, "b", 3);
  Put(marks, root, "a", 4);
  marks.Close();
  root.FinishMembers();
  EXPECT_EQ(marks.Depth(), 0u);
  EXPECT_EQ(root.Size(), 4u);
  EXPECT_EQ(root.FindMember("a").GetSigned(), 4);
  EXPECT_EQ(root.FindMember("b").GetSigned(), 3);
  EXPECT_EQ(Members(root.FindMember("s")), "b=30");
  const Value& m = root.FindMember("m");
  EXPECT_EQ(m.FindMember("a").GetSigned(), 12);
  EXPECT_EQ(m.FindMember("b").GetSigned(), 10);
  EXPECT_EQ(Members(m.FindMember("i")), "a=22 b=21");
}

// A second pass over the same document starts its marks afresh, so names
// carry marks equal to the new ones but pointing at other maps' members.
TEST(MemberMarksTest, MarksFromEarlierWorkAreChecked) {
  Value root;
  root.MakeStructure();
  Value& first = root.Member("first");
  first.MakeStructure();
  {
    MemberMarks marks;
    ASSERT_TRUE(marks.Open());
    Put(marks, first, "x", 1);
    Put(marks, first, "y", 2);
    marks.Close();
    first.FinishMembers();
  }
  Value& second = root.Member("second");
  second.MakeStructure();
  MemberMarks marks;
  ASSERT_TRUE(marks.Open());  // the same mark "first" had
  Put(marks, second, "y", 3);  // y's mark names position 1: beyond the map
  Put(marks, second, "x", 4);  // x's names position 0: another name
  Put(marks, second, "y", 5);
  Put(marks, second, "x", 6);
  marks.Close();
  second.FinishMembers();
  EXPECT_EQ(Members(first), "x=1 y=2");
  EXPECT_EQ(Members(second), "x=6 y=5");
}

// Names are predicted from the name before them; a key that differs from the
// prediction in length or in its bytes is interned as usual, and the
// predicted names stay alive while remembered even once no member holds them.
TEST(MemberMarksTest, PredictedNamesAreCheckedAndKeptAlive) {
  Value warm;
  Value list;
  MemberMarks marks;
  WarmUp(marks, warm);
  const char* shapes[][3] = {
      {"id", "name", "kind"}, {"id", "name", "kind"}, {"id", "nama", "kind"},
      {"id", "names", "kind"}, {"id", "name", "kinds"}, {"id", "name", "kind"},
  };
  for (const auto& shape : shapes) {
    Value& map = list.Append();
    map.MakeStructure();
    ASSERT_TRUE(marks.Open());
    for (int i = 0; i < 3; ++i) Put(marks, map, shape[i], i);
    Put(marks, map, shape[1], 9);  // a repeat after a predicted name
    marks.Close();
    map.FinishMembers();
  }
  for (size_t i = 0; i < list.Size(); ++i) {
    const Value& map = list.At(i);
    std::string expected;
    for (int j : {0, 2, 1}) {  // name order: id, kind*, nam*
      if (!expected.empty()) expected += ' ';
      expected += std::string(shapes[i][j]) + '=' + (j == 1 ? "9" : std::to_string(j));
    }
    EXPECT_EQ(Members(map), expected) << i;
  }
  // Every map gone, yet the remembered names are still predicted and match.
  list.Reset();
  Value& again = list.Append();
  again.MakeStructure();
  ASSERT_TRUE(marks.Open());
  Put(marks, again, "id", 1);
  Put(marks, again, "name", 2);
  marks.Close();
  again.FinishMembers();
  EXPECT_EQ(Members(again), "id=1 name=2");
}

// One MemberMarks over two documents in turn (both outliving it): the names
// of one are forgotten, never handed to the other.
TEST(MemberMarksTest, AnotherDocumentForgetsThePredictions) {
  Value warm;
  Value first;
  Value second;
  MemberMarks marks;
  WarmUp(marks, warm);
  // A new map holding a and b in document root.
  auto build = [&marks](Value& root) -> const Value& {
    Value& map = root.Append();
    map.MakeStructure();
    EXPECT_TRUE(marks.Open());
    Put(marks, map, "a", 1);
    Put(marks, map, "b", 2);
    marks.Close();
    map.FinishMembers();
    return map;
  };
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(Members(build(first)), "a=1 b=2");
    EXPECT_EQ(Members(build(second)), "a=1 b=2");
  }
  // The names of second are its own: first's can be dropped meanwhile.
  first.Reset();
  EXPECT_EQ(Members(build(second)), "a=1 b=2");
  EXPECT_EQ(second.At(2).MemberName(0).data(), second.At(0).MemberName(0).data());
}

TEST(MemberMarksTest, MarksRunOut) {
  MemberMarks marks(2);
  EXPECT_TRUE(marks.Open());
  EXPECT_TRUE(marks.Open());
  EXPECT_FALSE(marks.Open());
  marks.Close();
  EXPECT_FALSE(marks.Open());  // a mark is never handed out twice
  EXPECT_EQ(marks.Depth(), 1u);

  MemberMarks last(UINT32_MAX);
  EXPECT_TRUE(last.Open());
}

}  // namespace
}  // namespace qmx
