#include "binding/type_id.h"

#include <gtest/gtest.h>

#include "binding/builtin_types.h"
#include "binding/type_registry.h"

namespace qmx {
namespace {

TEST(TypeIdTest, TextAndBuiltinValues) {
  EXPECT_EQ(TypeId(0x2757680B).Text(), "#2757680B");
  EXPECT_EQ(TypeId(0xab).Text(), "#000000AB");
  EXPECT_EQ(TypeIdOf<std::string>().value, 0x2757680Bu);
  EXPECT_EQ(TypeIdOf<int32_t>().value, 0x1C4DE261u);
  EXPECT_EQ(TypeIdOf<std::vector<Value>>().value, 0xE980F126u);
  EXPECT_EQ(TypeIdOf<BindingAsyncCancelEvent>().value, 0x96EAAF44u);
  EXPECT_EQ(&TypeIdOf<bool>(), &TypeIdOf<bool>());  // materialised once
  EXPECT_STREQ(TypeCodeName(TypeCode::Map), "map");
  EXPECT_STREQ(TypeCodeName(TypeCode::None), "");
  EXPECT_STREQ(TypeCodeName(static_cast<TypeCode>(20)), "");
}

}  // namespace
}  // namespace qmx
