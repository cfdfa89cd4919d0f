// A bare plugin initialized against a TestHost, for the tests of the runtime's
// parts.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "plugin/plugin.h"
#include "support/test_host.h"

namespace qmx::test {

class ProbePlugin : public Plugin {
 public:
  ProbePlugin() : Plugin("probe") {}
  bool OnStart() override { return startResult; }
  bool startResult = true;
};

class PluginFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin = new ProbePlugin();
    plugin->Load(ApiVersion{18, 2, 1, {}, {}});
    ASSERT_TRUE(plugin->Callbacks()->Initialize(plugin, host.Handle()));
  }
  void TearDown() override {
    if (plugin != nullptr) plugin->Callbacks()->Shutdown(plugin);
  }

  TestHost host;
  ProbePlugin* plugin = nullptr;
};

// Whether one of the lines the host received contains text.
inline bool HostLogged(const TestHost& host, const std::string& text) {
  for (const auto& line : host.logLines) {
    if (line.second.find(text) != std::string::npos) return true;
  }
  return false;
}

}  // namespace qmx::test
