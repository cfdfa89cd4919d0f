#include "plugin/host_types.h"

#include <gtest/gtest.h>

#include "binding/native_conversion.h"
#include "binding/type_registry.h"

namespace qmx {
namespace {

TEST(HostTypesTest, ResourceEventsConvertBothWays) {
  TypeRegistry registry;
  registry.RegisterBuiltins();
  RegisterHostTypes(registry);
  EXPECT_NE(registry.FindEvent("OnServiceProxyAsyncEvent"), nullptr);
  EXPECT_EQ(registry.FindTypeByName("PluginResourceEvent")->typeId.value, 0xA54F35FDu);

  Value input;
  input.Member("uri").SetString("/x");
  input.Member("eventType").SetString("Delete");
  input.Member("data").Member("k").SetSigned(1);
  PluginResourceEvent event;
  ValueResult result;
  ToNative(result, event, input, "<result>", registry);
  ASSERT_TRUE(result.Ok()) << result.ErrorText();
  EXPECT_EQ(event.eventType, PluginResourceEventType::Delete);
  EXPECT_EQ(event.data.FindMember("k").GetSigned(), 1);
  ValueResult back = FromNative(event, registry);
  ASSERT_TRUE(back.Ok());
  EXPECT_EQ(back.value().FindMember("eventType").GetEnum().number, 2);
}

}  // namespace
}  // namespace qmx
