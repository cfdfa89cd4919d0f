// Under AddressSanitizer the record pools and the page pool mark memory that no
// object owns, so a stale pointer into a document is reported like a heap use
// after free, until the slot is handed out again (the pools reuse the slot
// freed last first). Without the sanitizer there is nothing to observe, and
// these tests are not built.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "binding/asan_poison.h"
#include "binding/page_pool.h"
#include "binding/slab_pool.h"
#include "binding/value.h"

namespace qmx {
namespace {

#if defined(QMX_ADDRESS_SANITIZER)

void Touch(const void* address) {
  volatile char byte = *static_cast<const volatile char*>(address);
  (void)byte;
}

class PoolPoisonTest : public testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
  }
};

TEST_F(PoolPoisonTest, ViewOfAReplacedStringIsReported) {
  Value doc;
  doc.Element(0).SetString("kept across a write");
  std::string_view kept = doc.At(0).GetString();
  doc.Element(0).SetUnsigned(1);  // the last reference: the entry's slot is freed
  EXPECT_DEATH(Touch(kept.data()), "use-after-poison");
}

// Element() and Member() turn a scalar into a container and release what it
// held; a view kept across either call points into a freed slot.
TEST_F(PoolPoisonTest, ViewKeptAcrossElementOrMemberIsReported) {
  Value doc;
  doc.SetString("a text that Element() discards");
  std::string_view kept = doc.GetString();
  doc.Element(2).SetUnsigned(2);
  EXPECT_DEATH(Touch(kept.data()), "use-after-poison");

  Value other;
  other.SetString("a text that Member() discards");
  kept = other.GetString();
  other.Member("m").SetUnsigned(1);
  EXPECT_DEATH(Touch(kept.data()), "use-after-poison");
}

TEST_F(PoolPoisonTest, ViewOfARemovedMemberNameIsReported) {
  Value doc;
  doc.Member("first member name").SetBool(true);
  doc.Member("second").SetBool(false);
  std::string_view kept = doc.MemberName(0);
  ASSERT_EQ(kept, "first member name");
  ASSERT_TRUE(doc.RemoveMember("first member name"));
  EXPECT_DEATH(Touch(kept.data()), "use-after-poison");
}

TEST_F(PoolPoisonTest, ElementOfAReplacedArrayIsReported) {
  Value doc;
  Value& list = doc.Member("list");
  for (int i = 0; i < 3; ++i) list.Append().SetSigned(i);
  const Value* kept = &list.At(1);
  doc.Member("neighbour").Append().SetBool(true);  // keeps the page in use
  list.SetBool(false);  // the element block goes back to its free list
  EXPECT_DEATH(Touch(kept), "use-after-poison");
}

TEST_F(PoolPoisonTest, FreedSlotIsReportedAndReusedSlotIsNot) {
  SlabPool pool(24);
  void* first = pool.Allocate();
  void* second = pool.Allocate();
  pool.Free(first);
  EXPECT_DEATH(Touch(first), "use-after-poison");
  Touch(second);
  void* again = pool.Allocate();
  EXPECT_EQ(again, first);
  Touch(again);
  pool.Free(again);
  pool.Free(second);
}

TEST_F(PoolPoisonTest, DoubleFreeOfASlotIsReported) {
  SlabPool pool(32);
  void* slot = pool.Allocate();
  void* keep = pool.Allocate();
  pool.Free(slot);
  EXPECT_DEATH(pool.Free(slot), "use-after-poison");
  pool.Free(keep);
}

TEST_F(PoolPoisonTest, SlotsNotYetHandedOutAreReported) {
  SlabPool pool(64);
  auto* slot = static_cast<char*>(pool.Allocate());
  EXPECT_DEATH(Touch(slot + 64), "use-after-poison");
  pool.Free(slot);
}

// A destroyed document's context may be parked for the next document with
// some of its pages: what the document held is unaddressable all the same,
// in the context's own page and in the pages kept with it.
TEST_F(PoolPoisonTest, ViewIntoADestroyedDocumentIsReported) {
  std::string_view inContextPage;
  std::string_view inKeptPage;
  {
    Value doc;
    doc.Element(0).SetString("kept after the document");
    for (int i = 1; i < 200; ++i) doc.Element(static_cast<size_t>(i)).SetString(std::string(40, 'a') + std::to_string(i));
    inContextPage = doc.At(0).GetString();
    inKeptPage = doc.At(199).GetString();
  }
  EXPECT_DEATH(Touch(inContextPage.data()), "use-after-poison");
  EXPECT_DEATH(Touch(inKeptPage.data()), "use-after-poison");
}

TEST_F(PoolPoisonTest, ReleasedPageIsReportedUntilAcquiredAgain) {
  void* page = AcquirePage();
  Touch(static_cast<char*>(page) + kPageSize - 1);
  ReleasePage(page);
  EXPECT_DEATH(Touch(static_cast<char*>(page) + 100), "use-after-poison");
  void* again = AcquirePage();
  EXPECT_EQ(again, page);
  Touch(static_cast<char*>(again) + 100);
  ReleasePage(again);
}

#endif  // QMX_ADDRESS_SANITIZER

}  // namespace
}  // namespace qmx
