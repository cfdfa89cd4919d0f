// Typed endpoints: the descriptors an endpoint keeps from the registry it was
// made with, and what it asks of any other.
#include "routing/endpoint.h"

#include <gtest/gtest.h>

#include <string>

#include "binding/native_conversion.h"
#include "binding/type_registry.h"
#include "binding/value.h"

namespace qmx {
namespace {

struct Greeting {
  std::string name;
};

}  // namespace

QMX_DECLARE_TYPE_ID(Greeting, "qmx::test::Greeting");
QMX_REGISTERED_STRUCT(Greeting);

namespace {

void RegisterGreeting(TypeRegistry& registry) {
  TypeBuilder type =
      registry.BeginType(sizeof(Greeting), "Greeting", TypeIdOf<Greeting>(), TypeKind::Struct);
  AddMember(type, registry, "name", &Greeting::name);
}

// Calls the endpoint's callable with one argument {"name": name} against registry.
ValueResult Call(const FunctionDescriptor& function, const TypeRegistry& registry,
                 std::string_view name) {
  CallContext context;
  context.registry = &registry;
  Value argument;
  argument.Member("name").SetString(name);
  function.callable->Invoke(context, std::span<Value>(&argument, 1));
  return std::move(context.result);
}

// A type registered after the endpoint is found by the first call that needs
// it, not kept as missing; a call against another registry uses that
// registry's descriptor, and one that lacks the type fails there.
TEST(TypedEndpointTest, DescriptorsComeFromTheRegistryOfTheCall) {
  TypeRegistry registry;
  FunctionDescriptor function = MakeEndpoint(
      registry, "Greet", {"greeting"},
      std::function([](const Greeting& in) -> EndpointResult<Greeting> {
        return Greeting{"hello " + in.name};
      }));

  ValueResult early = Call(function, registry, "a");
  EXPECT_EQ(early.ErrorText(),
            "Couldn't assign value to 'greeting' because the input is an unregistered structure or not a structure at all.");

  RegisterGreeting(registry);
  for (const char* name : {"b", "c"}) {
    ValueResult answered = Call(function, registry, name);
    ASSERT_TRUE(answered.Ok()) << answered.ErrorText();
    EXPECT_EQ(answered.value().FindMember("name").GetString(), std::string("hello ") + name);
  }

  TypeRegistry other;
  EXPECT_FALSE(Call(function, other, "d").Ok());
  RegisterGreeting(other);
  ValueResult elsewhere = Call(function, other, "e");
  ASSERT_TRUE(elsewhere.Ok()) << elsewhere.ErrorText();
  EXPECT_EQ(elsewhere.value().FindMember("name").GetString(), "hello e");
}

// The answer is built where the first argument was read: a handler that
// answers with its argument, a copy of it, or a text gets it whole.
TEST(TypedEndpointTest, AnswersBuiltInTheFirstArgumentsPlace) {
  TypeRegistry registry;
  FunctionDescriptor echo = MakeEndpoint(
      registry, "Echo", {"value"},
      std::function([](const Value& in) -> EndpointResult<Value> {
        Value copy;
        copy.Assign(in);
        return copy;
      }));
  FunctionDescriptor name = MakeEndpoint(
      registry, "Name", {"value"},
      std::function([](const Value& in) -> EndpointResult<std::string> {
        return std::string(in.FindMember("name").GetString());
      }));
  for (int round = 0; round < 3; ++round) {
    ValueResult echoed = Call(echo, registry, "same " + std::to_string(round));
    ASSERT_TRUE(echoed.Ok()) << echoed.ErrorText();
    EXPECT_TRUE(echoed.value().IsRoot());
    EXPECT_EQ(echoed.value().FindMember("name").GetString(), "same " + std::to_string(round));
    ValueResult named = Call(name, registry, "text");
    ASSERT_TRUE(named.Ok()) << named.ErrorText();
    EXPECT_EQ(named.value().GetString(), "text");
  }
}

}  // namespace
}  // namespace qmx
