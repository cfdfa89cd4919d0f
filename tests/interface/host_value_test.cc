#include "interface/host_value.h"

#include <gtest/gtest.h>

#include <cstring>

#include "interface/counted_allocator.h"

namespace qmx {
namespace {

// Reads a field of a packed record by value (gtest binds references).
uint32_t KindOf(const HostValue& v) { return v.kind; }
uint32_t LengthOf(const HostValue& v) { return v.payload.buffer.length; }

HostValue Text(const char* text) {
  HostValue v{};
  v.kind = HostValueStringRef;
  v.payload.buffer.data = const_cast<char*>(text);
  return v;
}

TEST(HostValueTest, ToValueConvertsEveryKnownKind) {
  HostValue elements[3] = {};
  elements[0].kind = HostValueBool;
  elements[0].payload.boolean = 7;
  elements[1].kind = HostValueSigned;
  elements[1].payload.signedValue = -3;
  elements[2].kind = HostValueBlobRef;
  elements[2].payload.buffer.data = const_cast<char*>("a\0b");
  elements[2].payload.buffer.length = 3;
  HostMember members[3] = {};
  members[0].name = "z";
  members[0].value = Text("last");
  members[1].name = "a";
  members[1].value.kind = HostValueCollection;
  members[1].value.payload.buffer.data = elements;
  members[1].value.payload.buffer.length = 3;
  members[2].name = "f";
  members[2].value.kind = HostValueFloat;
  members[2].value.payload.floatValue = 2.5;
  HostValue root{};
  root.kind = HostValueStructure;
  root.payload.buffer.data = members;
  root.payload.buffer.length = 3;

  ValueResult result = ToValue(root, "<result>");
  ASSERT_TRUE(result.Ok()) << result.ErrorText();
  const Value& v = result.value();
  EXPECT_EQ(v.MemberName(0), "a");
  EXPECT_EQ(v.FindMember("z").GetString(), "last");
  EXPECT_DOUBLE_EQ(v.FindMember("f").GetFloat(), 2.5);
  const Value& list = v.FindMember("a");
  ASSERT_EQ(list.Size(), 3u);
  EXPECT_TRUE(list.At(0).GetBool());
  EXPECT_EQ(list.At(1).GetSigned(), -3);
  EXPECT_EQ(list.At(2).Size(), 3u);
}

TEST(HostValueTest, ToValueRefusesUnknownKindsAndBrokenRecords) {
  HostValue unknown{};
  unknown.kind = 11;
  ValueResult result = ToValue(unknown, "<result>");
  EXPECT_FALSE(result.Ok());
  EXPECT_EQ(result.ErrorText(),
            "Couldn't assign value to '<result>' of type object because the input is of an "
            "incompatible type ''.");

  // An unknown kind deep inside fails the whole conversion.
  HostValue inner[2] = {Text("ok"), unknown};
  HostValue list{};
  list.kind = HostValueCollection;
  list.payload.buffer.data = inner;
  list.payload.buffer.length = 2;
  EXPECT_FALSE(ToValue(list, "x").Ok());

  // A null array with a count is refused, not read.
  HostValue broken{};
  broken.kind = HostValueStructure;
  broken.payload.buffer.length = 1000;
  EXPECT_FALSE(ToValue(broken, "x").Ok());
  broken.kind = HostValueBlob;
  EXPECT_FALSE(ToValue(broken, "x").Ok());

  // A null text is the empty string; a null member name the empty name.
  HostValue nullText{};
  nullText.kind = HostValueString;
  result = ToValue(nullText, "x");
  ASSERT_TRUE(result.Ok());
  EXPECT_EQ(result.value().Kind(), ValueKind::String);
}

TEST(HostValueTest, ToValueRefusesNestingBeyondTheLimit) {
  std::vector<HostValue> chain(kMaxNestingDepth + 5);
  for (size_t i = 0; i + 1 < chain.size(); ++i) {
    chain[i].kind = HostValueCollection;
    chain[i].payload.buffer.data = &chain[i + 1];
    chain[i].payload.buffer.length = 1;
  }
  EXPECT_FALSE(ToValue(chain[0], "deep").Ok());
  EXPECT_TRUE(ToValue(chain[chain.size() - kMaxNestingDepth + 1], "deep").Ok());
}

TEST(HostValueTest, FromValueBuildsOwnedRecordsAndReleaseFreesThem) {
  unsigned long long before = BytesInUse();
  Value v;
  v.Member("c").Member("b").SetBool(true);
  v.Member("b").SetBlob("xyz", 3);
  v.Member("a").SetString("text");
  v.Member("e").SetEnum(4, TypeId(99));
  v.Member("l").Append().SetUnsigned(1);
  v.Member("l").Append();

  HostValue record{};
  ASSERT_TRUE(FromValue(v, record));
  ASSERT_EQ(KindOf(record), static_cast<uint32_t>(HostValueStructure));
  ASSERT_EQ(LengthOf(record), 5u);
  auto* members = static_cast<HostMember*>(record.payload.buffer.data);
  // Members keep the Value's name order and own their names.
  EXPECT_STREQ(members[0].name, "a");
  EXPECT_EQ(int{members[0].nameOwned}, 1);
  EXPECT_EQ(KindOf(members[0].value), static_cast<uint32_t>(HostValueString));
  EXPECT_EQ(LengthOf(members[0].value), 4u);
  EXPECT_STREQ(static_cast<const char*>(members[0].value.payload.buffer.data), "text");
  EXPECT_EQ(KindOf(members[1].value), static_cast<uint32_t>(HostValueBlob));
  EXPECT_EQ(KindOf(members[2].value), static_cast<uint32_t>(HostValueStructure));
  // An enum without a registered name crosses as Signed.
  EXPECT_EQ(KindOf(members[3].value), static_cast<uint32_t>(HostValueSigned));
  EXPECT_EQ(int64_t{members[3].value.payload.signedValue}, 4);
  auto* list = static_cast<HostValue*>(members[4].value.payload.buffer.data);
  EXPECT_EQ(KindOf(list[0]), static_cast<uint32_t>(HostValueUnsigned));
  EXPECT_EQ(KindOf(list[1]), static_cast<uint32_t>(HostValueEmpty));
  EXPECT_GT(BytesInUse(), before);

  // The round trip gives the same value back.
  ValueResult back = ToValue(record, "<result>");
  ASSERT_TRUE(back.Ok());
  EXPECT_EQ(back.value().FindMember("c").FindMember("b").GetBool(), true);

  Release(record);
  EXPECT_EQ(KindOf(record), static_cast<uint32_t>(HostValueEmpty));
  Release(record);  // twice is harmless
  EXPECT_EQ(BytesInUse(), before);
}

TEST(HostValueTest, StructureMembersAreSeventeenBytesApart) {
  Value v;
  v.Member("a").SetSigned(1);
  v.Member("b").SetSigned(2);
  v.Member("c").SetSigned(3);
  HostValue record{};
  ASSERT_TRUE(FromValue(v, record));
  auto* bytes = static_cast<const unsigned char*>(record.payload.buffer.data);
  for (int i = 0; i < 3; ++i) {
    const unsigned char* member = bytes + i * sizeof(HostMember);
    uint32_t kind;
    int64_t number;
    std::memcpy(&kind, member + sizeof(char*), 4);
    std::memcpy(&number, member + sizeof(char*) + 4, 8);
    EXPECT_EQ(kind, static_cast<uint32_t>(HostValueSigned));
    EXPECT_EQ(number, i + 1);
  }
  Release(record);
}

TEST(HostValueTest, ReleaseKeepsNamesItDoesNotOwn) {
  auto* members = static_cast<HostMember*>(CountedAllocate(sizeof(HostMember)));
  std::memset(members, 0, sizeof(HostMember));
  static const char kName[] = "borrowed";
  members[0].name = kName;
  members[0].nameOwned = 0;
  HostValue record{};
  record.kind = HostValueStructure;
  record.payload.buffer.data = members;
  record.payload.buffer.length = 1;
  Release(record);  // would crash freeing the static name if it ignored nameOwned
  EXPECT_STREQ(kName, "borrowed");
}

TEST(HostValueTest, ResponseReleaseFreesWhatTheResponseOwns) {
  unsigned long long before = BytesInUse();
  HostResponse response{};
  Value body;
  body.SetString("body");
  ASSERT_TRUE(FromValue(body, response.body));
  SetResponseError(response, "failed");
  response.contentType = CountedCopy("application/json", 16);
  response.headers = static_cast<HostHeader*>(CountedAllocate(sizeof(HostHeader)));
  response.headers[0].name = CountedCopy("a", 1);
  response.headers[0].value = CountedCopy("b", 1);
  response.headerCount = 1;
  ReleaseResponse(&response);
  EXPECT_EQ(BytesInUse(), before);
  EXPECT_TRUE(response.error == nullptr);
  EXPECT_EQ(int{response.errorOwned}, 0);
  EXPECT_EQ(KindOf(response.body), static_cast<uint32_t>(HostValueEmpty));
  ReleaseResponse(&response);  // nothing left to release

  // An empty content type is a shared constant and is not freed.
  response.contentType = "";
  ReleaseResponse(&response);
}

}  // namespace
}  // namespace qmx
