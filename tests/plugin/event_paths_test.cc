#include "plugin/event_paths.h"

#include <gtest/gtest.h>

#include "binding/native_conversion.h"
#include "plugin/host_types.h"

namespace qmx {
namespace {

TEST(EventPathsTest, EventNames) {
  struct Case {
    const char* path;
    const char* name;
  };
  const Case cases[] = {
      {"/entitlements/v1/token", "OnJsonApiEvent_entitlements_v1_token"},
      {"/kwe-auth/v1/authorization/access-token", "OnJsonApiEvent_kwe-auth_v1_authorization"},
      {"/vaskclient/region-locale", "OnJsonApiEvent_vaskclient_region-locale"},
      {"/a/b/c/x", "OnJsonApiEvent_a_b_c"},
      {"//a//b/", "OnJsonApiEvent_a_b"},
      {"", "OnJsonApiEvent"},
      {"/mip-platform-config/a/b/c/d/e/f", "OnJsonApiEvent_mip-platform-config_a_b_c_d"},
      {"a/b", "OnJsonApiEvent_a_b"},
  };
  for (const Case& c : cases) EXPECT_EQ(EventNameForPath(c.path), c.name) << c.path;
}

TEST(EventPathsTest, WildcardsStayInOneSegment) {
  struct Case {
    const char* pattern;
    const char* uri;
    bool matches;
  };
  const Case cases[] = {
      {"/a/*/c", "/a/b/c", true},     {"/a/*/c", "/a/bcd/c", true}, {"/a/*/c", "/a/b/x/c", false},
      {"/a/*", "/a/b", true},         {"/a/*", "/a/bcd", true},     {"/a/*x", "/a/bx", false},
      {"/a/b", "/a/b", true},         {"/a/b", "/a/bc", false},     {"/a/*", "/a/", false},
      {"/a/*/c", "/a//c", true},     {"", "", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchPathPattern(c.pattern, c.uri), c.matches) << c.pattern << " ~ " << c.uri;
  }
}

}  // namespace
}  // namespace qmx
