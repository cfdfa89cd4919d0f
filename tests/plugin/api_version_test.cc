#include "plugin/api_version.h"

#include <gtest/gtest.h>

namespace qmx {
namespace {

TEST(ApiVersionTest, TextUsesTheTemplate) {
  EXPECT_EQ((ApiVersion{4294967295u, 4294967295u, 4294967295u, {}, {}}.Text()),
            "4294967295.4294967295.4294967295");
  EXPECT_EQ((ApiVersion{18, 1, 2, "rc1", "b7"}.Text()), "18.1.2-rc1+b7");
}

}  // namespace
}  // namespace qmx
