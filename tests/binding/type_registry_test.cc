#include "binding/type_registry.h"

#include <gtest/gtest.h>

#include "binding/builtin_types.h"
#include "binding/native_conversion.h"
#include "interface/host_value.h"

namespace qmx {
namespace {

TEST(TypeRegistryTest, FirstRegistrationWins) {
  TypeRegistry registry;
  registry.RegisterBuiltins();
  TypeBuilder again =
      registry.BeginType(4, "BindingHelpFormat", TypeId(0x12345678), TypeKind::Enum);
  EXPECT_TRUE(again.AlreadyRegistered());
  again.AddEnumerator("Other", 9, "").SetDescription("changed").AddTag("x");
  const TypeDescriptor* format = registry.FindTypeByName("BindingHelpFormat");
  ASSERT_NE(format, nullptr);
  EXPECT_EQ(format->description, "Help format for binding functions and types.");
  EXPECT_EQ(format->enumerators.size(), 2u);
  EXPECT_EQ(format->enumerators.at("Full").number, 1);
  EXPECT_EQ(format->enumerators.at("Epytext").number, 2);
  EXPECT_EQ(format->tags, (std::vector<std::string>{"$builtin", "help"}));
  EXPECT_EQ(registry.FindType(TypeId(0x12345678)), nullptr);
}

TEST(TypeRegistryTest, EnumeratorsTagsAndLookups) {
  TypeRegistry registry;
  TypeBuilder b = registry.BeginType(4, "Kind", TypeId(0x11111111), TypeKind::Enum);
  b.AddEnumerator("Full", 1, "a").AddEnumerator("Full", 3, "b");
  b.AddEnumerator("Zeta", 7, "").AddEnumerator("Alpha", 7, "");
  b.AddTag("").AddTag("async").AddTag("async");
  const TypeDescriptor* kind = registry.FindType(TypeId(0x11111111));
  ASSERT_NE(kind, nullptr);
  EXPECT_EQ(kind->enumerators.at("Full").number, 3);
  EXPECT_EQ(kind->enumerators.at("Full").description, "b");
  EXPECT_EQ(kind->tags, (std::vector<std::string>{"async", "async"}));
  EXPECT_EQ(registry.FindEnumeratorName(TypeId(0x11111111), 7), "Alpha");
  EXPECT_EQ(registry.FindEnumeratorName(TypeId(0x11111111), 8), std::nullopt);
  EXPECT_EQ(registry.FindEnumeratorName(TypeId(0x22222222), 7), std::nullopt);
  EXPECT_TRUE(TypeRegistry::IsEnumerator(*kind, 3));
  EXPECT_FALSE(TypeRegistry::IsEnumerator(*kind, 1));

  EXPECT_TRUE(kind->isEnum);

  // The reserved id reaches the by-name index only.
  registry.BeginType(8, "Hidden", TypeId(TypeId::kReserved), TypeKind::Struct);
  ASSERT_NE(registry.FindTypeByName("Hidden"), nullptr);
  EXPECT_FALSE(registry.FindTypeByName("Hidden")->isEnum);
  EXPECT_EQ(registry.FindType(TypeId(TypeId::kReserved)), nullptr);

  // A new name with an id already in use takes the id over; the earlier
  // name still finds its own descriptor.
  TypeBuilder alias = registry.BeginType(4, "KindAlias", TypeId(0x11111111), TypeKind::Enum);
  EXPECT_FALSE(alias.AlreadyRegistered());
  EXPECT_EQ(registry.FindType(TypeId(0x11111111)), alias.Descriptor());
  EXPECT_EQ(registry.FindTypeByName("Kind"), kind);
}

TEST(TypeRegistryTest, BuiltinsInOrderAndASecondRunClearsFirst) {
  TypeRegistry registry;
  registry.RegisterBuiltins();
  registry.BeginType(4, "PluginType", TypeId(0x33333333), TypeKind::Struct);
  FunctionDescriptor function;
  function.name = "F";
  registry.RegisterFunction(std::move(function), FunctionListing::Listed);
  registry.RegisterBuiltins();
  EXPECT_EQ(registry.FindTypeByName("PluginType"), nullptr);
  EXPECT_EQ(registry.FindFunction("F"), nullptr);
  EXPECT_EQ(registry.ListedFunctionCount(), 0u);
  EXPECT_EQ(registry.Types().size(), 15u);
  EXPECT_EQ(registry.Events().size(), 1u);

  const EventDescriptor* onCallback = registry.FindEvent("OnCallback");
  ASSERT_NE(onCallback, nullptr);
  EXPECT_EQ(onCallback->description, "Fired when a callback is invoked.");
  ASSERT_NE(onCallback->type, nullptr);
  EXPECT_EQ(onCallback->type->name, "BindingCallbackEvent");

  const TypeDescriptor* callback = onCallback->type;
  ASSERT_EQ(callback->fields.size(), 2u);
  EXPECT_EQ(callback->fields[0].name, "id");
  EXPECT_EQ(callback->fields[0].type.code, TypeCode::Uint32);
  EXPECT_EQ(callback->fields[0].description, "ID of the callback being invoked");
  EXPECT_EQ(callback->fields[1].type.code, TypeCode::Vector);
  EXPECT_EQ(callback->fields[1].type.elementCode, TypeCode::Object);

  const TypeDescriptor* api = registry.FindTypeByName("BindingFullApiHelp");
  ASSERT_NE(api, nullptr);
  ASSERT_EQ(api->fields.size(), 3u);
  const char* expected[] = {"BindingFullFunctionHelp", "BindingFullTypeHelp", "BindingFullEventHelp"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(api->fields[i].type.code, TypeCode::Vector);
    ASSERT_NE(api->fields[i].type.descriptor, nullptr);
    EXPECT_EQ(api->fields[i].type.descriptor->name, expected[i]);
  }
  const TypeDescriptor* state = registry.FindTypeByName("BindingAsyncState");
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(state->enumerators.size(), 6u);
  EXPECT_EQ(state->enumerators.at("Failed").number, 5);
  EXPECT_EQ(state->tags, (std::vector<std::string>{"$builtin", "async"}));
  EXPECT_EQ(state->size, 4u);
  EXPECT_EQ(registry.FindTypeByName("BindingFullFieldHelp")->fields[2].offset,
            offsetof(BindingFullFieldHelp, offset));
}

TEST(TypeRegistryTest, FromValueWritesKnownEnumeratorsByName) {
  TypeRegistry registry;
  registry.RegisterBuiltins();
  Value v;
  v.Append().SetEnum(2, TypeIdOf<BindingHelpFormat>());
  v.Append().SetEnum(9, TypeIdOf<BindingHelpFormat>());
  HostValue record{};
  ASSERT_TRUE(FromValue(v, record, &registry));
  auto* elements = static_cast<HostValue*>(record.payload.buffer.data);
  uint32_t first = elements[0].kind, second = elements[1].kind;
  EXPECT_EQ(first, static_cast<uint32_t>(HostValueString));
  EXPECT_STREQ(static_cast<const char*>(elements[0].payload.buffer.data), "Epytext");
  EXPECT_EQ(second, static_cast<uint32_t>(HostValueSigned));
  Release(record);
}

TEST(TypeRegistryTest, ASecondListedFunctionOfANameKeepsTheFirst) {
  TypeRegistry registry;
  registry.RegisterBuiltins();
  FunctionDescriptor first;
  first.name = "F";
  first.path = "/first";
  FunctionDescriptor* kept = registry.RegisterFunction(std::move(first), FunctionListing::Listed);
  FunctionDescriptor second;
  second.name = "F";
  second.path = "/second";
  // The pointer handed out first stays valid and is what the name finds.
  EXPECT_EQ(registry.RegisterFunction(std::move(second), FunctionListing::Listed), kept);
  EXPECT_EQ(registry.FindFunction("F"), kept);
  EXPECT_EQ(kept->path, "/first");
  EXPECT_EQ(registry.ListedFunctionCount(), 1u);
  EXPECT_EQ(registry.Functions().size(), 1u);
  // Unlisted functions are not named and always added.
  FunctionDescriptor unlisted;
  unlisted.name = "F";
  EXPECT_NE(registry.RegisterFunction(std::move(unlisted), FunctionListing::Unlisted), kept);
  EXPECT_EQ(registry.ListedFunctionCount(), 1u);
}

TEST(TypeRegistryTest, NativeToValueClearsAnEarlierFailure) {
  TypeRegistry registry;
  registry.RegisterBuiltins();
  const TypeDescriptor* callback = registry.FindTypeByName("BindingCallbackEvent");
  ASSERT_NE(callback, nullptr);
  BindingCallbackEvent event;
  event.id = 7;
  ValueResult result = ValueResult::Failure("an earlier failure");
  registry.NativeToValue(result, &event, callback);
  ASSERT_TRUE(result.Ok()) << result.ErrorText();
  EXPECT_FALSE(result.value().HasMember("error"));
  EXPECT_EQ(result.value().FindMember("id").GetUnsigned(), 7u);
  // A failure of its own still reports, with its message.
  registry.NativeToValue(result, &event, nullptr);
  EXPECT_FALSE(result.Ok());
  EXPECT_FALSE(result.ErrorText().empty());
}

}  // namespace
}  // namespace qmx
