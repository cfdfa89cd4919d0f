#include "plugin/plugin_name.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin_fixture.h"

namespace qmx::test {
namespace {

TEST(PluginNameTest, KindsGivePrefixes) {
  EXPECT_EQ(GetFullNameFromShortNameAndType("entitlements", {"backend", ""}).fullName, "qmx-be-entitlements");
  EXPECT_EQ(GetFullNameFromShortNameAndType("x", {"frontend", "d"}).fullName, "qmx-fe-x");
  PluginName odd = GetFullNameFromShortNameAndType("x", {"Backend", ""});
  EXPECT_EQ(odd.fullName, "qmx-xx-x");
  EXPECT_EQ(odd.kind, "Backend");
}

TEST(PluginNameTest, LoadSequenceNamesTheEntitlementsPlugin) {
  auto* plugin = new ProbePlugin();
  plugin->Load(ApiVersion{});
  EXPECT_EQ(plugin->Name().fullName, "qmx-be-probe");
  EXPECT_EQ(plugin->TypePrefix(), "Probe");
  EXPECT_EQ(plugin->Tags(), (std::vector<std::string>{"Plugins", "Plugin probe"}));
  plugin->Callbacks()->Shutdown(plugin);
}

}  // namespace
}  // namespace qmx::test
