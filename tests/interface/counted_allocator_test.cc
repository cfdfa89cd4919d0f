#include "interface/counted_allocator.h"

#include <gtest/gtest.h>

namespace qmx {
namespace {

TEST(MemoryStatsTest, CountsAllocationsAndPeak) {
  MemoryStats before{};
  GetMemoryStats(&before);
  void* block = CountedAllocate(100);
  MemoryStats during{};
  GetMemoryStats(&during);
  EXPECT_EQ(during.allocations, before.allocations + 1);
  EXPECT_GE(during.bytesAllocated - before.bytesAllocated, 100u);
  EXPECT_GE(during.peakBytes, during.bytesAllocated - during.bytesReleased);
  block = CountedReallocate(block, 5000);
  CountedFree(block);
  CountedFree(nullptr);
  MemoryStats after{};
  GetMemoryStats(&after);
  EXPECT_EQ(after.allocations, before.allocations + 2);
  EXPECT_EQ(after.releases, before.releases + 2);
  EXPECT_EQ(after.bytesAllocated - after.bytesReleased, before.bytesAllocated - before.bytesReleased);
  EXPECT_EQ(after.zero, 0u);
}

TEST(MemoryStatsTest, ReallocatingToSizeZeroCountsAsAFree) {
  MemoryStats before{};
  GetMemoryStats(&before);
  void* block = CountedAllocate(300);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(CountedReallocate(block, 0), nullptr);
  MemoryStats after{};
  GetMemoryStats(&after);
  EXPECT_EQ(after.allocations, before.allocations + 1);
  EXPECT_EQ(after.releases, before.releases + 1);
  EXPECT_EQ(after.bytesAllocated - after.bytesReleased, before.bytesAllocated - before.bytesReleased);
}

}  // namespace
}  // namespace qmx
