// Tests that run the same table of checks once against the plugin linked into
// the test program and once against the shared object in a child process.
// A suite derives its fixture from PluginLoadTest, writes TEST_P cases and
// instantiates them over both ways:
//
//   class EventFaultsTest : public PluginLoadTest {};
//   TEST_P(EventFaultsTest, MalformedEventsAreDropped) { ExpectNoFindings(&RunEventFaults); }
//   INSTANTIATE_TEST_SUITE_P(, EventFaultsTest, PluginLoads(), PluginLoadName);
//
// which gives EventFaultsTest.MalformedEventsAreDropped/InProcess and
// .../InTheSharedObject.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "support/plugin_harness.h"

namespace qmx::test {

class PluginLoadTest : public ::testing::TestWithParam<PluginLoad> {
 protected:
  // Runs suite this instance's way and expects it to find nothing; what it
  // noted is added to notes when given.
  void ExpectNoFindings(const PluginSuite& suite, std::vector<std::string>* notes = nullptr) {
    std::vector<std::string> found = RunSuite(GetParam(), suite, notes);
    EXPECT_TRUE(found.empty()) << JoinLines(found);
  }
};

inline auto PluginLoads() {
  return ::testing::Values(PluginLoad::kLinked, PluginLoad::kSharedObject);
}

inline std::string PluginLoadName(const ::testing::TestParamInfo<PluginLoad>& info) {
  return info.param == PluginLoad::kLinked ? "InProcess" : "InTheSharedObject";
}

// How gtest shows the parameter (in --gtest_list_tests and failures).
inline void PrintTo(PluginLoad how, std::ostream* out) {
  *out << (how == PluginLoad::kLinked ? "linked plugin" : "shared object");
}

}  // namespace qmx::test
