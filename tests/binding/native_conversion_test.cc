#include "binding/native_conversion.h"

#include <gtest/gtest.h>

#include <limits>

#include "binding/builtin_types.h"

namespace qmx {
namespace {

// A small record of every field type the conversions know.
struct Sample {
  bool flag = false;
  int32_t count = -1;
  uint32_t size = 7;
  int8_t tiny = 0;
  uint16_t port = 0;
  int64_t big = 0;
  double ratio = 0;
  float single = 0;
  std::string text = "unchanged";
  BindingHelpFormat format = BindingHelpFormat::Full;
  std::vector<std::string> names;
  Value payload;
};

// A list of records inside a record, for conversions built in place.
struct Inner {
  std::vector<std::string> tags;
  BindingHelpFormat format = BindingHelpFormat::Full;
};
struct Outer {
  std::string name;
  std::vector<Inner> items;
  uint32_t unused = 0;
  uint32_t twice = 0;
};

}  // namespace

QMX_DECLARE_TYPE_ID(Sample, "qmx::Sample");
QMX_REGISTERED_STRUCT(Sample);
QMX_REGISTERED_STRUCT(Inner);

namespace {

class ConversionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry.RegisterBuiltins();
    TypeBuilder b =
        registry.BeginType(sizeof(Sample), "Sample", TypeIdOf<Sample>(), TypeKind::Struct);
    AddMember(b, registry, "flag", &Sample::flag);
    AddMember(b, registry, "count", &Sample::count);
    AddMember(b, registry, "size", &Sample::size);
    AddMember(b, registry, "tiny", &Sample::tiny);
    AddMember(b, registry, "port", &Sample::port);
    AddMember(b, registry, "big", &Sample::big);
    AddMember(b, registry, "ratio", &Sample::ratio);
    AddMember(b, registry, "single", &Sample::single);
    AddMember(b, registry, "text", &Sample::text);
    AddMember(b, registry, "format", &Sample::format);
    AddMember(b, registry, "names", &Sample::names);
    AddMember(b, registry, "payload", &Sample::payload);
  }

  // Converts {field: input} into a fresh Sample; returns the error text ("" on success).
  std::string Convert(const char* field, const std::function<void(Value&)>& fill) {
    Value input;
    fill(input.Member(field));
    ValueResult result;
    ToNative(result, sample, input, "sample", registry);
    return std::string(result.ErrorText());
  }

  TypeRegistry registry;
  Sample sample;
};

TEST_F(ConversionTest, BoolRule) {
  EXPECT_EQ(Convert("flag", [](Value& v) { v.SetString("true"); }), "");
  EXPECT_TRUE(sample.flag);
  EXPECT_EQ(Convert("flag", [](Value& v) { v.SetString("0"); }), "");
  EXPECT_FALSE(sample.flag);
  EXPECT_EQ(Convert("flag", [](Value& v) { v.SetString("TRUE"); }),
            "Value TRUE for 'flag' of type bool is in an incorrect format. Options are \"true\", "
            "\"false\", \"1\", \"0\".");
  EXPECT_EQ(Convert("flag", [](Value& v) { v.SetSigned(1); }),
            "Couldn't assign value to 'flag' of type bool because the input is of an invalid type signed.");
}

TEST_F(ConversionTest, SignedRule) {
  struct Case {
    const char* text;
    int32_t expected;
    const char* error;
  };
  const Case cases[] = {
      {"0x10", 16, ""},
      {"010", 8, ""},
      {"", 0, ""},
      {" -12", -12, ""},
      {"12 ", 0, "Value 12  for 'count' of type int32 is in an incorrect format"},
      {"abc", 0, "Value abc for 'count' of type int32 is in an incorrect format"},
      {"3000000000", 0, "Value 3000000000 for 'count' of type int32 is out of range"},
      {"99999999999999999999", 0, "Value 99999999999999999999 for 'count' of type int32 is out of range"},
  };
  for (const Case& c : cases) {
    sample.count = 0;
    EXPECT_EQ(Convert("count", [&](Value& v) { v.SetString(c.text); }), c.error) << c.text;
    if (*c.error == '\0') {
      EXPECT_EQ(sample.count, c.expected) << c.text;
    }
  }
  EXPECT_EQ(Convert("count", [](Value& v) { v.SetFloat(2.9); }), "");
  EXPECT_EQ(sample.count, 2);
  EXPECT_EQ(Convert("count", [](Value& v) { v.SetFloat(-2.9); }), "");
  EXPECT_EQ(sample.count, -2);
  EXPECT_EQ(Convert("count", [](Value& v) { v.SetUnsigned(2147483648u); }),
            "Value 2147483648 for 'count' of type int32 is out of range");
  EXPECT_EQ(Convert("count", [](Value& v) { v.SetFloat(std::numeric_limits<double>::quiet_NaN()); }).substr(0, 6),
            "Value ");
  EXPECT_EQ(Convert("big", [](Value& v) { v.SetFloat(9223372036854775808.0); }).find("out of range") !=
                std::string::npos,
            true);
  EXPECT_EQ(Convert("tiny", [](Value& v) { v.SetSigned(-129); }),
            "Value -129 for 'tiny' of type int8 is out of range");
  EXPECT_EQ(Convert("count", [](Value& v) { v.Append(); }),
            "Couldn't assign value to 'count' of type int32 because the input is of an invalid type collection.");
}

TEST_F(ConversionTest, UnsignedRule) {
  EXPECT_EQ(Convert("size", [](Value& v) { v.SetString("-0"); }),
            "Value -0 for 'size' of type uint32 is out of range");
  // strtoull accepts white space before the sign and wraps: still out of range.
  EXPECT_EQ(Convert("size", [](Value& v) { v.SetString(" -1"); }),
            "Value  -1 for 'size' of type uint32 is out of range");
  EXPECT_EQ(Convert("size", [](Value& v) { v.SetSigned(-1); }),
            "Value -1 for 'size' of type uint32 is out of range");
  EXPECT_EQ(Convert("port", [](Value& v) { v.SetUnsigned(65536); }),
            "Value 65536 for 'port' of type uint16 is out of range");
  EXPECT_EQ(Convert("size", [](Value& v) { v.SetString("4294967295"); }), "");
  EXPECT_EQ(sample.size, 4294967295u);
  EXPECT_EQ(Convert("size", [](Value& v) { v.SetFloat(-0.5); }),
            "Value -0.5 for 'size' of type uint32 is out of range");
}

TEST_F(ConversionTest, RealRule) {
  EXPECT_EQ(Convert("ratio", [](Value& v) { v.SetString("2.5"); }), "");
  EXPECT_DOUBLE_EQ(sample.ratio, 2.5);
  EXPECT_EQ(Convert("ratio", [](Value& v) { v.SetString("1e999"); }),
            "Value 1e999 for 'ratio' of type double is out of range");
  EXPECT_EQ(Convert("ratio", [](Value& v) { v.SetString("2.5x"); }),
            "Value 2.5x for 'ratio' of type double is in an incorrect format");
  EXPECT_EQ(Convert("ratio", [](Value& v) { v.SetUnsigned(18446744073709551615ull); }), "");
  EXPECT_EQ(Convert("single", [](Value& v) { v.SetFloat(1e39); }),
            "Value 1e+39 for 'single' of type float is out of range");
}

TEST_F(ConversionTest, StringAndEnumRules) {
  EXPECT_EQ(Convert("text", [](Value& v) { v.SetSigned(5); }),
            "Couldn't assign value to 'text' because the input is not a string.");
  EXPECT_EQ(sample.text, "unchanged");
  EXPECT_EQ(Convert("text", [](Value& v) { v.SetEnum(2, TypeIdOf<BindingHelpFormat>()); }), "");
  EXPECT_EQ(sample.text, "Epytext");
  EXPECT_EQ(Convert("text", [](Value& v) { v.SetEnum(9, TypeIdOf<BindingHelpFormat>()); }),
            "9 is not a valid enumeration value for 'text'.");

  EXPECT_EQ(Convert("format", [](Value& v) { v.SetString("Epytext"); }), "");
  EXPECT_EQ(sample.format, BindingHelpFormat::Epytext);
  sample.format = BindingHelpFormat::Full;
  EXPECT_EQ(Convert("format", [](Value& v) { v.SetString("2"); }), "");
  EXPECT_EQ(sample.format, BindingHelpFormat::Epytext);
  EXPECT_EQ(Convert("format", [](Value& v) { v.SetString("7"); }),
            "7 is not a valid BindingHelpFormat enumeration value for 'format'.");
  EXPECT_EQ(Convert("format", [](Value& v) { v.SetString("epytext"); }),
            "epytext is not a valid BindingHelpFormat enumeration value for 'format'.");
  EXPECT_EQ(Convert("format", [](Value& v) { v.SetUnsigned(3); }),
            "3 is not a valid BindingHelpFormat enumeration value for 'format'.");
  EXPECT_EQ(Convert("format", [](Value& v) { v.SetBool(true); }),
            "Couldn't assign value to 'format' of enum type because the input is of an invalid type bool.");
}

TEST_F(ConversionTest, VectorsObjectsAndStructs) {
  EXPECT_EQ(Convert("names", [](Value& v) {
              v.Append().SetString("a");
              v.Append();
              v.Append().SetString("c");
            }),
            "");
  EXPECT_EQ(sample.names, (std::vector<std::string>{"a", "", "c"}));
  EXPECT_EQ(Convert("names", [](Value& v) { v.Member("x").SetString("a"); }),
            "Couldn't assign value to 'names' of type vector because the input not a collection.");
  EXPECT_TRUE(sample.names.empty());

  EXPECT_EQ(Convert("payload", [](Value& v) { v.Member("deep").Append().SetSigned(3); }), "");
  EXPECT_EQ(sample.payload.FindMember("deep").At(0).GetSigned(), 3);

  // A missing member leaves the native field alone; an Empty input struct is required.
  Sample fresh;
  ValueResult result;
  Value partial;
  partial.Member("count").SetSigned(4);
  partial.Member("unknown").SetSigned(1);
  ToNative(result, fresh, partial, "sample", registry);
  EXPECT_TRUE(result.Ok());
  EXPECT_EQ(fresh.count, 4);
  EXPECT_EQ(fresh.size, 7u);
  ValueResult empty;
  ToNative(empty, fresh, Value(), "arg", registry);
  EXPECT_EQ(empty.ErrorText(), "A value for 'arg' is required.");
  ValueResult notStruct;
  Value number;
  number.SetSigned(1);
  ToNative(notStruct, fresh, number, "arg", registry);
  EXPECT_EQ(notStruct.ErrorText(), "Couldn't assign value to 'arg' of type Sample because the input not a structure.");
  ValueResult unregistered;
  registry.NativeFromValue(unregistered, &fresh, partial, "arg", nullptr);
  EXPECT_EQ(unregistered.ErrorText(),
            "Couldn't assign value to 'arg' because the input is an unregistered structure or not a structure at all.");
}

TEST_F(ConversionTest, TheFirstFailingFieldStopsTheConversion) {
  Value input;
  input.Member("flag").SetBool(true);
  input.Member("count").SetSigned(1);
  input.Member("size").SetString("nope");  // third field fails
  input.Member("text").SetString("later");
  Sample target;
  ValueResult result;
  ToNative(result, target, input, "sample", registry);
  EXPECT_EQ(result.ErrorText(), "Value nope for 'size' of type uint32 is in an incorrect format");
  EXPECT_EQ(result.value().Size(), 1u);
  EXPECT_EQ(target.text, "unchanged");  // later fields are not visited
}

TEST_F(ConversionTest, RequiredFieldsAndOmitIfEmpty) {
  struct Pair {
    std::string key;
    uint32_t weight = 0;
  };
  TypeRegistry local;
  TypeBuilder b = local.BeginType(sizeof(Pair), "Pair", TypeId(0x44444444), TypeKind::Struct);
  b.AddField("key", "", OffsetOf(&Pair::key), TypeIdOf<std::string>(), TypeRef{TypeCode::String},
             kRequired, MakeCodec<std::string>(), false);
  b.AddField("weight", "", OffsetOf(&Pair::weight), TypeIdOf<uint32_t>(), TypeRef{TypeCode::Uint32},
             kOmitIfEmpty, MakeCodec<uint32_t>(), false);
  const TypeDescriptor* pair = local.FindType(TypeId(0x44444444));
  Pair native;
  Value input;
  input.Member("weight").SetUnsigned(3);
  ValueResult result;
  local.NativeFromValue(result, &native, input, "p", pair);
  EXPECT_EQ(result.ErrorText(),
            "Couldn't assign value to 'p' of type Pair because the input structure doesn't have required field 'key'.");

  native.key = "k";
  native.weight = 0;
  ValueResult out;
  local.NativeToValue(out, &native, pair);
  ASSERT_TRUE(out.Ok());
  EXPECT_EQ(out.value().Size(), 1u);  // weight 0 is left out
  EXPECT_EQ(out.value().FindMember("key").GetString(), "k");
  ValueResult none;
  local.NativeToValue(none, &native, nullptr);
  EXPECT_EQ(none.ErrorText(), "Couldn't convert native value because it's an unregistered structure.");
}

TEST_F(ConversionTest, NativeToValueRoundTrips) {
  sample.flag = true;
  sample.count = -3;
  sample.big = -(int64_t{1} << 40);
  sample.format = BindingHelpFormat::Epytext;
  sample.names = {"x", "y"};
  sample.payload.Member("k").SetString("v");
  ValueResult out = FromNative(sample, registry);
  ASSERT_TRUE(out.Ok()) << out.ErrorText();
  const Value& v = out.value();
  EXPECT_EQ(v.Size(), 12u);
  EXPECT_EQ(v.FindMember("count").Kind(), ValueKind::Signed);
  EXPECT_EQ(v.FindMember("size").Kind(), ValueKind::Unsigned);
  EXPECT_EQ(v.FindMember("single").Kind(), ValueKind::Float);
  EXPECT_EQ(v.FindMember("format").GetEnum().number, 2);
  EXPECT_EQ(v.FindMember("format").GetEnum().type, TypeIdOf<BindingHelpFormat>().value);
  EXPECT_EQ(v.FindMember("names").At(1).GetString(), "y");
  Sample back;
  ValueResult again;
  ToNative(again, back, v, "sample", registry);
  ASSERT_TRUE(again.Ok()) << again.ErrorText();
  EXPECT_EQ(back.big, sample.big);
  EXPECT_EQ(back.format, BindingHelpFormat::Epytext);
  EXPECT_EQ(back.payload.FindMember("k").GetString(), "v");
}

// Records are built in place, field by field, into their parent: a failing
// element deep inside leaves only the error, an omitted field leaves nothing,
// and a second field of the same name replaces the first unless it is omitted.
TEST_F(ConversionTest, NestedRecordsBuildInPlace) {
  TypeRegistry local;
  local.RegisterBuiltins();
  const TypeRef formatRef = TypeRefOf<BindingHelpFormat>(registry);
  TypeBuilder inner = local.BeginType(sizeof(Inner), "Inner", TypeId(0x55555555), TypeKind::Struct);
  inner.AddField("tags", "", OffsetOf(&Inner::tags), TypeIdOf<std::vector<std::string>>(),
                 TypeRef{TypeCode::Vector, TypeCode::String}, 0,
                 MakeCodec<std::vector<std::string>>(), false);
  inner.AddField("format", "", OffsetOf(&Inner::format), TypeIdOf<BindingHelpFormat>(),
                 TypeRef{TypeCode::Enum, TypeCode::None, formatRef.descriptor}, 0,
                 MakeCodec<BindingHelpFormat>(), false);
  const TypeDescriptor* innerType = local.FindType(TypeId(0x55555555));
  TypeBuilder outer = local.BeginType(sizeof(Outer), "Outer", TypeId(0x66666666), TypeKind::Struct);
  outer.AddField("name", "", OffsetOf(&Outer::name), TypeIdOf<std::string>(),
                 TypeRef{TypeCode::String}, 0, MakeCodec<std::string>(), false);
  outer.AddField("items", "", OffsetOf(&Outer::items), TypeId(0x77777777),
                 TypeRef{TypeCode::Vector, TypeCode::Struct, innerType}, 0,
                 std::make_unique<NativeCodec<std::vector<Inner>>>(), false);
  outer.AddField("unused", "", OffsetOf(&Outer::unused), TypeIdOf<uint32_t>(),
                 TypeRef{TypeCode::Uint32}, kOmitIfEmpty, MakeCodec<uint32_t>(), false);
  outer.AddField("twice", "", OffsetOf(&Outer::twice), TypeIdOf<uint32_t>(),
                 TypeRef{TypeCode::Uint32}, 0, MakeCodec<uint32_t>(), false);
  outer.AddField("twice", "", OffsetOf(&Outer::unused), TypeIdOf<uint32_t>(),
                 TypeRef{TypeCode::Uint32}, kOmitIfEmpty, MakeCodec<uint32_t>(), false);
  const TypeDescriptor* outerType = local.FindType(TypeId(0x66666666));

  Outer native;
  native.name = std::string(100, 'n');
  native.items = {Inner{{"a", std::string(40, 'b')}, BindingHelpFormat::Epytext}, Inner{{}, {}}};
  native.twice = 9;
  ValueResult out;
  local.NativeToValue(out, &native, outerType);
  ASSERT_TRUE(out.Ok()) << out.ErrorText();
  const Value& v = out.value();
  EXPECT_EQ(v.Size(), 3u);  // name, items, twice; "unused" is 0 and left out
  EXPECT_EQ(v.FindMember("name").GetString(), native.name);
  EXPECT_EQ(v.FindMember("twice").GetUnsigned(), 9u);  // the omitted second one leaves the first
  const Value& items = v.FindMember("items");
  ASSERT_EQ(items.Size(), 2u);
  EXPECT_EQ(items.At(0).FindMember("tags").At(1).GetString(), std::string(40, 'b'));
  EXPECT_EQ(items.At(0).FindMember("format").GetEnum().number, 2);
  EXPECT_EQ(items.At(1).FindMember("tags").Kind(), ValueKind::Collection);

  native.unused = 4;  // now the second "twice" is kept and replaces the first
  ValueResult replaced;
  local.NativeToValue(replaced, &native, outerType);
  EXPECT_EQ(replaced.value().FindMember("twice").GetUnsigned(), 4u);

  // An element type the registry does not know fails deep inside the list.
  outer = local.BeginType(sizeof(Outer), "Broken", TypeId(0x88888888), TypeKind::Struct);
  outer.AddField("name", "", OffsetOf(&Outer::name), TypeIdOf<std::string>(),
                 TypeRef{TypeCode::String}, 0, MakeCodec<std::string>(), false);
  outer.AddField("items", "", OffsetOf(&Outer::items), TypeId(0x77777777),
                 TypeRef{TypeCode::Vector, TypeCode::Struct, nullptr}, 0,
                 std::make_unique<NativeCodec<std::vector<Inner>>>(), false);
  ValueResult failed;
  local.NativeToValue(failed, &native, local.FindType(TypeId(0x88888888)));
  EXPECT_FALSE(failed.Ok());
  EXPECT_EQ(failed.value().Size(), 1u);
  EXPECT_EQ(failed.ErrorText(), "Couldn't convert native value because it's an unregistered structure.");
}

// Kind, scalar and text, members and elements, all alike.
bool Same(const Value& a, const Value& b) {
  if (a.Kind() != b.Kind() || a.Size() != b.Size()) return false;
  for (size_t i = 0; i < a.Size() && a.Kind() == ValueKind::Collection; ++i) {
    if (!Same(a.At(i), b.At(i))) return false;
  }
  for (size_t i = 0; i < a.Size() && a.Kind() == ValueKind::Structure; ++i) {
    if (a.MemberName(i) != b.MemberName(i) || !Same(a.MemberValue(i), b.MemberValue(i))) return false;
  }
  return a.ToString() == b.ToString();
}

// A codec that fails with its own tag, to see which field fails first.
class FailingCodec final : public FieldCodec {
 public:
  explicit FailingCodec(std::string tag) : tag_(std::move(tag)) {}
  void NativeFromValue(ValueResult& result, void*, const Value&, std::string_view,
                       const TypeDescriptor*, const TypeRegistry&, uint32_t) const override {
    result.SetError(tag_);
  }
  void NativeToValue(ValueResult& result, const void*, const TypeDescriptor*,
                     const TypeRegistry&) const override {
    result.SetError(tag_);
  }

 private:
  std::string tag_;
};

// A record converted into a fresh value has its members placed in name order
// at once; converted into a Structure that holds members already, they are
// found or inserted one by one. Both give the same members, and in both the
// first field in declaration order that fails is the one reported, whatever
// the order of the names.
TEST_F(ConversionTest, FreshAndMergedRecordsGetTheSameMembersAndTheSameFailure) {
  sample.flag = true;
  sample.ratio = 0.5;
  sample.names = {"b", "a"};
  sample.payload.Member("k").SetSigned(1);
  const TypeDescriptor* type = registry.FindType(TypeIdOf<Sample>());
  ASSERT_EQ(type->fieldsByName.size(), type->fields.size());
  ValueResult fresh;
  registry.NativeToValue(fresh, &sample, type);
  ASSERT_TRUE(fresh.Ok()) << fresh.ErrorText();
  ValueResult merged;
  merged.value().Member("~extra").SetBool(true);  // sorts after every field name
  StructToValueInto(merged, merged.value(), &sample, type, registry);
  ASSERT_TRUE(merged.Ok()) << merged.ErrorText();
  ASSERT_EQ(merged.value().Size(), fresh.value().Size() + 1);
  for (size_t i = 0; i < fresh.value().Size(); ++i) {
    EXPECT_EQ(fresh.value().MemberName(i), merged.value().MemberName(i));
    EXPECT_TRUE(Same(fresh.value().MemberValue(i), merged.value().MemberValue(i))) << fresh.value().MemberName(i);
  }

  struct Two {
    uint32_t first = 0;
    uint32_t second = 0;
  };
  TypeRegistry local;
  TypeBuilder b = local.BeginType(sizeof(Two), "Two", TypeId(0x99999999), TypeKind::Struct);
  b.AddField("zeta", "", OffsetOf(&Two::first), TypeIdOf<uint32_t>(), TypeRef{TypeCode::Uint32}, 0,
             std::make_unique<FailingCodec>("zeta failed"), false);
  b.AddField("alpha", "", OffsetOf(&Two::second), TypeIdOf<uint32_t>(), TypeRef{TypeCode::Uint32},
             0, std::make_unique<FailingCodec>("alpha failed"), false);
  const TypeDescriptor* two = local.FindType(TypeId(0x99999999));
  ASSERT_EQ(two->fieldsByName, (std::vector<uint32_t>{1, 0}));
  ASSERT_EQ(two->memberPositions, (std::vector<uint32_t>{1, 0}));
  Two native;
  ValueResult failed;
  local.NativeToValue(failed, &native, two);
  EXPECT_EQ(failed.ErrorText(), "zeta failed");
  ValueResult failedMerged;
  failedMerged.value().Member("x").SetBool(true);
  StructToValueInto(failedMerged, failedMerged.value(), &native, two, local);
  EXPECT_EQ(failedMerged.ErrorText(), "zeta failed");

  // A name given twice leaves the record without a name order: it is built
  // member by member.
  b.AddField("alpha", "", OffsetOf(&Two::first), TypeIdOf<uint32_t>(), TypeRef{TypeCode::Uint32}, 0,
             MakeCodec<uint32_t>(), false);
  EXPECT_TRUE(two->fieldsByName.empty());
  EXPECT_TRUE(two->memberPositions.empty());
}

}  // namespace
}  // namespace qmx
