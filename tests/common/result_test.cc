#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "common/result.h"

namespace qmx {
namespace {

Result<int, std::string> Half(int n) {
  if (n % 2 != 0) return Fail("odd: " + std::to_string(n));
  return n / 2;
}

TEST(ResultTest, ValueAndErrorPaths) {
  Result<int, std::string> half = Half(8);
  ASSERT_TRUE(half.Ok());
  EXPECT_TRUE(static_cast<bool>(half));
  EXPECT_EQ(half.value(), 4);

  Result<int, std::string> odd = Half(7);
  EXPECT_FALSE(odd.Ok());
  EXPECT_FALSE(static_cast<bool>(odd));
  EXPECT_EQ(odd.error(), "odd: 7");
  // The wrong side is refused, not read.
  EXPECT_THROW((void)odd.value(), std::bad_variant_access);
  EXPECT_THROW((void)half.error(), std::bad_variant_access);

  // A default Result is a success holding T{}.
  Result<std::string, int> fresh;
  ASSERT_TRUE(fresh.Ok());
  EXPECT_EQ(fresh.value(), "");
}

// The same type on both sides still tells a value from an error.
TEST(ResultTest, ValueAndErrorOfOneType) {
  Result<std::string, std::string> value = std::string("text");
  Result<std::string, std::string> error = Fail(std::string("text"));
  EXPECT_TRUE(value.Ok());
  EXPECT_FALSE(error.Ok());
  EXPECT_EQ(value.value(), error.error());
}

TEST(ResultTest, VoidCarriesOnlyTheError) {
  Result<void, std::string> done;
  EXPECT_TRUE(done.Ok());
  EXPECT_THROW((void)done.error(), std::bad_optional_access);

  Result<void, std::string> failed = Fail("no disk");
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error(), "no disk");
  std::string taken = std::move(failed).error();
  EXPECT_EQ(taken, "no disk");

  // An error of a convertible type is built in place.
  Result<void, std::string> converted = Fail("literal");
  EXPECT_EQ(converted.error(), "literal");
}

Result<std::unique_ptr<int>, std::unique_ptr<std::string>> Make(bool ok) {
  if (!ok) return Fail(std::make_unique<std::string>("refused"));
  return std::make_unique<int>(7);
}

TEST(ResultTest, MoveOnlyValuesAndErrorsMoveThrough) {
  auto made = Make(true);
  ASSERT_TRUE(made.Ok());
  std::unique_ptr<int> owned = std::move(made).value();
  ASSERT_NE(owned, nullptr);
  EXPECT_EQ(*owned, 7);

  auto refused = Make(false);
  ASSERT_FALSE(refused.Ok());
  std::unique_ptr<std::string> reason = std::move(refused).error();
  ASSERT_NE(reason, nullptr);
  EXPECT_EQ(*reason, "refused");

  // Only implicit conversions are implicit: a raw pointer does not slip into
  // an owning value unnoticed.
  static_assert(!std::is_convertible_v<int*, Result<std::unique_ptr<int>, std::string>>);
  static_assert(std::is_constructible_v<Result<std::unique_ptr<int>, std::string>, int*>);
  static_assert(std::is_convertible_v<Failure<const char*>, Result<int, std::string>>);

  // A Result moves as a whole, its value with it.
  auto first = Make(true);
  auto second = std::move(first);
  ASSERT_TRUE(second.Ok());
  EXPECT_EQ(*second.value(), 7);
}

}  // namespace
}  // namespace qmx
